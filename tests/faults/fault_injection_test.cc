// Registry calls made to fail on demand in the middle of an operation: the
// operation reports the failure and leaves what the user had as it was
// (value, type and neighbours), with nothing half-written.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "digest/stamp.h"
#include "env/envstore.h"
#include "env/pathlist.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/registry_store.h"
#include "platform/win32api.h"
#include "registry/regfile.h"
#include "registry/registry.h"
#include "support/registry_values.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"
#include "text/output.h"

namespace {

using qmtest::QueryValue;
using qmtest::StoredValue;
using qmtest::StoreValue;

constexpr char kKeep[] = "Software\\Keep";
constexpr char kKeepPath[] = "HKEY_CURRENT_USER\\Software\\Keep";
constexpr char kStampKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pinebrook";
constexpr char kFailedLine[] = "Error: Failed to do speicified operation(s)!\n";
constexpr LONG kInjected = ERROR_ACCESS_DENIED;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qm::EnvironmentChanged = 0;
    qm::PathListBuffer.clear();
    text::SetLocale("C");
    prefix_.MakeDir("C:\\tex\\bin");
    prefix_.MakeDir("C:\\a");
    StoreValue(HKEY_CURRENT_USER, kKeep, "list", REG_EXPAND_SZ, "C:\\a;%WINDIR%\\b");
    StoreValue(HKEY_CURRENT_USER, kKeep, "other", REG_SZ, "neighbour");
    StoreValue(HKEY_CURRENT_USER, "Environment", "Path", REG_EXPAND_SZ, "C:\\a;C:\\old");
    StoreValue(HKEY_CURRENT_USER, "Environment", "TEXINPUTS", REG_SZ, ".;C:\\tex");
  }
  void TearDown() override {
    qm::EnvironmentChanged = 0;
    text::SetLocale("C");
  }

  // Every value the operations below could touch.
  std::vector<std::optional<StoredValue>> Everything() const {
    return {QueryValue(HKEY_CURRENT_USER, kKeep, "list"),
            QueryValue(HKEY_CURRENT_USER, kKeep, "other"),
            QueryValue(HKEY_CURRENT_USER, kKeep, "new"),
            QueryValue(HKEY_CURRENT_USER, "Environment", "Path"),
            QueryValue(HKEY_CURRENT_USER, "Environment", "TEXINPUTS"),
            QueryValue(HKEY_LOCAL_MACHINE, kStampKey, "MD5:setup.exe")};
  }

  qmtest::TempPrefix prefix_;
};

struct FaultCase {
  const char* name;
  const char* call;  // the registry call that fails, once
  std::function<int()> operation;
};

TEST_F(FaultTest, AFailingRegistryCallLeavesEveryValueAsItWas) {
  const FaultCase cases[] = {
      {"add to a registry list, the write fails", "RegSetValueExA",
       [] { return qm::AddPathToRegistryValue("C:\\tex\\bin", kKeepPath, "list",
                                              qm::PathPlacement::Start); }},
      {"add to a registry list, the read fails", "RegQueryValueExA",
       [] { return qm::AddPathToRegistryValue("C:\\tex\\bin", kKeepPath, "list",
                                              qm::PathPlacement::End); }},
      {"add to a registry list, the key cannot be opened", "RegOpenKeyExA",
       [] { return qm::AddPathToRegistryValue("C:\\tex\\bin", kKeepPath, "list",
                                              qm::PathPlacement::End); }},
      {"remove from a registry list, the write fails", "RegSetValueExA",
       [] { return qm::RemovePathFromRegistryValue("C:\\a", kKeepPath, "list"); }},
      {"several paths at once, the write fails", "RegSetValueExA",
       [] { return qm::AddPathToRegistryValue("C:\\tex\\bin;C:\\a", kKeepPath, "list",
                                              qm::PathPlacement::Start); }},
      {"add to the user Path, the write fails", "RegSetValueExA",
       [] { return qm::AddPathToEnvironment("C:\\tex\\bin", "Path", qm::EnvScope::User,
                                            qm::PathPlacement::Start); }},
      {"remove from the user Path, the write fails", "RegSetValueExA",
       [] { return qm::RemovePathFromEnvironment("C:\\a", "Path", qm::EnvScope::User); }},
      {"set a variable, the write fails", "RegSetValueExA",
       [] { return qm::SetEnvironmentValue("x", "TEXINPUTS", qm::EnvScope::User); }},
      {"set a variable, the key cannot be opened", "RegCreateKeyExA",
       [] { return qm::SetEnvironmentValue("x", "TEXINPUTS", qm::EnvScope::User); }},
      {"delete a variable, the delete fails", "RegDeleteValueA",
       [] { return qm::DeleteEnvironmentValue("TEXINPUTS", qm::EnvScope::User); }},
      {"write a value, the write fails", "RegSetValueExA",
       [] { return qm::WriteRegistryPathValue("x", kKeepPath, "other"); }},
      {"write a new value, the key cannot be created", "RegCreateKeyExA",
       [] { return qm::WriteRegistryPathValue("x", kKeepPath, "new"); }},
      {"delete a value, the delete fails", "RegDeleteValueA",
       [] { return qm::DeleteRegistryPathValue(kKeepPath, "other"); }},
      {"delete a key, the tree deletion fails", "SHDeleteKeyA",
       [] { return qm::DeleteRegistryPathKey(kKeepPath); }},
      {"stamp a file, the write fails", "RegSetValueExA",
       [] { return qm::RecordFileDigest("C:\\setup.exe"); }},
      {"stamp a file, the key cannot be created", "RegCreateKeyExA",
       [] { return qm::RecordFileDigest("C:\\setup.exe"); }},
  };
  prefix_.WriteFile("C:\\setup.exe", "MZ program\r\n");
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = Everything();
    qm::EnvironmentChanged = 0;
    emulated::InjectRegistryFault(c.call, kInjected, 1);
    EXPECT_NE(c.operation(), 0);
    // The operation made the call that failed (a fault still waiting would
    // make the case say nothing).
    ASSERT_EQ(emulated::TakeInjectedFault(c.call), ERROR_SUCCESS);
    EXPECT_EQ(Everything(), before);
    EXPECT_EQ(qm::EnvironmentChanged, 0) << "a failed write must not announce a change";
  }
}

// A REG_EXPAND_SZ variable keeps its type when it is set again, also when
// the query that finds the stored type fails: taking that failure for "no
// value" would rewrite the variable as REG_SZ and report success. The
// variable is left as it was instead (or, were it written, stays
// REG_EXPAND_SZ).
TEST_F(FaultTest, AFailedTypeQueryNeverTurnsAnExpandStringIntoAPlainOne) {
  emulated::InjectRegistryFault("RegQueryValueExA", kInjected, 1);
  const int status = qm::SetEnvironmentValue("C:\\new;%WINDIR%", "Path", qm::EnvScope::User);
  const auto path = QueryValue(HKEY_CURRENT_USER, "Environment", "Path");
  ASSERT_TRUE(path.has_value());
  if (status == 0) {
    EXPECT_EQ(path->type, static_cast<DWORD>(REG_EXPAND_SZ));
  } else {
    EXPECT_EQ(path->data, std::string("C:\\a;C:\\old\0", 12));
    EXPECT_EQ(path->type, static_cast<DWORD>(REG_EXPAND_SZ));
  }
}

TEST_F(FaultTest, TheDriverSaysAFailedWriteFailedAndGoesOn) {
  const auto before = Everything();
  emulated::InjectRegistryFault("RegSetValueExA", kInjected, 1);
  const std::vector<std::string> args = {"-user", "+regp", kKeepPath, "list", "C:\\tex\\bin",
                                         "-no-refresh", "+regv", kKeepPath, "added", "yes"};
  std::string out;
  text::CaptureOutput(&out);
  const int code = qm::RunQuillmark(args);
  text::CaptureOutput(nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, std::string(kFailedLine) + "Succeeded in doing speicified operation(s)!\n");
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, kKeep, "list"), before[0]);
  const auto added = QueryValue(HKEY_CURRENT_USER, kKeep, "added");
  ASSERT_TRUE(added.has_value());
  EXPECT_EQ(added->data, std::string("yes\0", 4));
}

TEST_F(FaultTest, AnImportWhoseWriteFailsKeepsThatValueAndImportsTheRest) {
  StoreValue(HKEY_CURRENT_USER, kKeep, "second", REG_SZ, "old");
  prefix_.WriteFile("C:\\in.reg",
                    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
                    "\"second\"=\"new\"\r\n\"third\"=\"3\"\r\n");
  // The file's first write fails; a line that fails is skipped, not the
  // file, and the result says that not all of it was done.
  emulated::InjectRegistryFault("RegSetValueExA", kInjected, 1);
  EXPECT_EQ(qm::ProcessRegFile("C:\\in.reg", qm::RegFileMode::Import), 2);
  const auto second = QueryValue(HKEY_CURRENT_USER, kKeep, "second");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->data, std::string("old\0", 4)) << "the failed value keeps its old data";
  EXPECT_EQ(second->type, static_cast<DWORD>(REG_SZ));
  const auto third = QueryValue(HKEY_CURRENT_USER, kKeep, "third");
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(third->data, std::string("3\0", 2));
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, kKeep, "other")->data, std::string("neighbour\0", 10));
}

}  // namespace
