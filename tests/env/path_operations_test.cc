// The four path operations against the emulated machine's registry, on the
// Windows NT family and on Windows 9x.
#include <gtest/gtest.h>

#include <string>

#include "env/pathlist.h"
#include "env_test_support.h"

namespace qm {
namespace {

using qmtest::kSystemEnvKey;
using qmtest::kUserEnvKey;
using qmtest::QueryValue;
using qmtest::StoreValue;
using qmtest::Text;

class PathOperationsTest : public qmtest::EnvTest {
 protected:
  void SetUp() override {
    EnvTest::SetUp();
    prefix_.MakeDir("C:\\tex\\bin");
    prefix_.MakeDir("C:\\gs\\bin");
    prefix_.MakeDir("C:\\work\\src");
    prefix_.ChangeDir("C:\\work\\src");
  }
  std::string UserPath() { return Text(*QueryValue(HKEY_CURRENT_USER, kUserEnvKey, "Path")); }
};

// Rewriting a REG_EXPAND_SZ Path as REG_SZ would break its %SystemRoot%
// entries: every edit keeps the stored type.
TEST_F(PathOperationsTest, ExpandStringPathKeepsItsTypeThroughEdits) {
  const std::string seeded = "%SystemRoot%\\system32;%SystemRoot%";
  StoreValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path", REG_EXPAND_SZ, seeded);
  ASSERT_EQ(AddPathToEnvironment("C:\\tex\\bin", "Path", EnvScope::System, PathPlacement::End), 0);
  auto stored = QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path");
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(*stored), seeded + ";C:\\tex\\bin");

  ASSERT_EQ(RemovePathFromEnvironment("c:\\TEX\\bin\\", "Path", EnvScope::System), 0);
  stored = QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path");
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(*stored), seeded);

  const std::string key = "HKEY_LOCAL_MACHINE\\" + std::string(kSystemEnvKey);
  ASSERT_EQ(AddPathToRegistryValue("C:\\gs\\bin", key, "Path", PathPlacement::Start), 0);
  stored = QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path");
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(*stored), "C:\\gs\\bin;" + seeded);
  ASSERT_EQ(RemovePathFromRegistryValue("C:\\gs\\bin", key, "Path"), 0);
  stored = QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path");
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(*stored), seeded);
}

TEST_F(PathOperationsTest, PlainStringStaysPlain) {
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "TEXINPUTS", REG_SZ, "C:\\old");
  ASSERT_EQ(AddPathToEnvironment("C:\\tex\\bin", "TEXINPUTS", EnvScope::User, PathPlacement::Start),
            0);
  auto stored = QueryValue(HKEY_CURRENT_USER, kUserEnvKey, "TEXINPUTS");
  EXPECT_EQ(stored->type, REG_SZ);
  EXPECT_EQ(Text(*stored), "C:\\tex\\bin;C:\\old");
}

TEST_F(PathOperationsTest, RelativePathsFromTheCurrentDirectory) {
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "Path", REG_EXPAND_SZ, "C:\\keep");
  prefix_.MakeDir("C:\\work\\bin");
  ASSERT_EQ(AddPathToEnvironment("..\\bin;.", "Path", EnvScope::User, PathPlacement::End), 0);
  EXPECT_EQ(UserPath(), "C:\\keep;C:\\work\\bin;C:\\work\\src");
  // The same relative path again leaves one entry.
  ASSERT_EQ(AddPathToEnvironment("..\\bin", "Path", EnvScope::User, PathPlacement::Start), 0);
  EXPECT_EQ(UserPath(), "C:\\keep;C:\\work\\bin;C:\\work\\src");
  ASSERT_EQ(RemovePathFromEnvironment(".\\x\\..\\..\\bin;.", "Path", EnvScope::User), 0);
  EXPECT_EQ(UserPath(), "C:\\keep");
}

TEST_F(PathOperationsTest, UnchangedListIsStillWrittenBack) {
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "Path", REG_SZ, "C:\\tex\\bin");
  EXPECT_EQ(AddPathToEnvironment("C:\\nonexistent", "Path", EnvScope::User, PathPlacement::Start),
            0);
  EXPECT_EQ(EnvironmentChanged, 1);
  EXPECT_EQ(UserPath(), "C:\\tex\\bin");
}

TEST_F(PathOperationsTest, FailuresWriteNothing) {
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "Path", REG_SZ, "C:\\keep");
  const std::string tooLong = "C:\\" + std::string(kMaxDirectoryLength, 'd');
  const struct {
    const char* what;
    std::string paths;
    int added;
    int removed;
  } cases[] = {
      {"empty piece", "C:\\tex\\bin;;C:\\gs\\bin", 2, 2},
      {"too long a directory", "C:\\tex\\bin;" + tooLong, 2, 2},
      {"too long, alone", tooLong, 2, 2},
      {"not in the list", "C:\\gs\\bin", 0, 2},
  };
  for (const auto& c : cases) {
    EnvironmentChanged = 0;
    if (c.added != 0) {
      EXPECT_EQ(AddPathToEnvironment(c.paths, "Path", EnvScope::User, PathPlacement::End), c.added)
          << c.what;
      EXPECT_EQ(UserPath(), "C:\\keep") << c.what;
      EXPECT_EQ(EnvironmentChanged, 0) << c.what;
    }
    EXPECT_EQ(RemovePathFromEnvironment(c.paths, "Path", EnvScope::User), c.removed) << c.what;
    EXPECT_EQ(UserPath(), "C:\\keep") << c.what;
    EXPECT_EQ(EnvironmentChanged, 0) << c.what;
  }
}

TEST_F(PathOperationsTest, MissingVariableIsNotCreated) {
  EXPECT_EQ(AddPathToEnvironment("C:\\tex\\bin", "NEWVAR", EnvScope::System, PathPlacement::Start),
            1);
  EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "NEWVAR"));
  EXPECT_EQ(RemovePathFromEnvironment("C:\\tex\\bin", "NEWVAR", EnvScope::User), 1);
  EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, kUserEnvKey, "NEWVAR"));
  EXPECT_EQ(EnvironmentChanged, 0);
}

TEST_F(PathOperationsTest, RegistryValueFailures) {
  StoreValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "Number", REG_DWORD,
             std::string("\x05\x00\x00\x00", 4));
  StoreValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "Multi", REG_MULTI_SZ,
             std::string("C:\\a\0C:\\b\0\0", 11));
  const struct {
    const char* key;
    const char* value;
  } cases[] = {
      {"HKEY_NOWHERE\\Software\\Pinebrook", "Dirs"},         // root not recognised
      {"HKEY_CURRENT_USER\\Software\\Pinebrook", "Dirs"},    // no such value
      {"HKEY_CURRENT_USER\\Software\\Missing", "Dirs"},      // no such key
      {"HKEY_CURRENT_USER\\Software\\Pinebrook", "Number"},  // not a text
      {"HKEY_CURRENT_USER\\Software\\Pinebrook", "Multi"},   // several texts
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddPathToRegistryValue("C:\\tex\\bin", c.key, c.value, PathPlacement::End), 1)
        << c.key << " " << c.value;
    EXPECT_EQ(RemovePathFromRegistryValue("C:\\a", c.key, c.value), 1) << c.key << " " << c.value;
  }
  EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "Dirs"));
  EXPECT_FALSE(qmtest::KeyExists(HKEY_CURRENT_USER, "Software\\Missing"));
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "Number")->data,
            std::string("\x05\x00\x00\x00", 4));
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "Multi")->data,
            std::string("C:\\a\0C:\\b\0\0", 11));
  EXPECT_EQ(EnvironmentChanged, 0);
}

TEST_F(PathOperationsTest, RegistryDefaultValue) {
  StoreValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "", REG_SZ, "C:\\a");
  ASSERT_EQ(AddPathToRegistryValue("C:\\tex\\bin", "HKEY_CURRENT_USER\\Software\\Pinebrook", "",
                                   PathPlacement::End),
            0);
  auto stored = QueryValue(HKEY_CURRENT_USER, "Software\\Pinebrook", "");
  EXPECT_EQ(stored->type, REG_SZ);
  EXPECT_EQ(Text(*stored), "C:\\a;C:\\tex\\bin");
  EXPECT_EQ(EnvironmentChanged, 0);  // a registry value is no environment variable
}

// On Windows 9x the environment operations edit autoexec.bat and leave the
// registry alone.
TEST_F(PathOperationsTest, Windows9xEditsAutoexecInstead) {
  UseWindows98();
  SetVariable("PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "Path", REG_EXPAND_SZ, "C:\\keep");
  const std::string before = UserPath();
  ASSERT_EQ(AddPathToEnvironment("C:\\TEX\\BIN", "Path", EnvScope::User, PathPlacement::Start), 0);
  EXPECT_EQ(prefix_.ReadFile("C:\\autoexec.bat"), "\r\nset Path=\"C:\\TEX\\BIN;%Path%\"\r\n");
  EXPECT_EQ(UserPath(), before);
  EXPECT_EQ(EnvironmentChanged, 0);
  ASSERT_EQ(RemovePathFromEnvironment("C:\\TEX\\BIN", "Path", EnvScope::System), 0);
  EXPECT_EQ(prefix_.ReadFile("C:\\autoexec.bat"), "");
  // The registry-value operations have no version branch.
  const std::string key = "HKEY_CURRENT_USER\\" + std::string(kUserEnvKey);
  ASSERT_EQ(AddPathToRegistryValue("C:\\tex\\bin", key, "Path", PathPlacement::End), 0);
  EXPECT_EQ(UserPath(), before + ";C:\\tex\\bin");
}

}  // namespace
}  // namespace qm
