#include "env/envstore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "env_test_support.h"
#include "text/output.h"

namespace qm {
namespace {

using qmtest::EnvTest;
using qmtest::kSystemEnvKey;
using qmtest::kUserEnvKey;
using qmtest::QueryValue;
using qmtest::StoreValue;

TEST_F(EnvTest, IsWindowsNTFollowsTheTopBitOfTheVersion) {
  const struct {
    const char* winver;
    bool nt;
  } cases[] = {{"win95", false}, {"win98", false}, {"winme", false},
               {"winxp", true},  {"win7", true},   {"win10", true}};
  for (const auto& c : cases) {
    SetVariable("QUILLMARK_WINVER", c.winver);
    EXPECT_EQ(IsWindowsNT(), c.nt) << c.winver;
  }
}

TEST_F(EnvTest, AnEmptyNameIsNoVariableAndLeavesTheDefaultValueAlone) {
  StoreValue(HKEY_CURRENT_USER, kUserEnvKey, "", REG_SZ, "keep");
  EnvironmentChanged = 0;
  std::string out = "old";
  EXPECT_EQ(GetEnvironmentValue(out, "", EnvScope::User), 2);
  EXPECT_EQ(out, "old");
  EXPECT_EQ(SetEnvironmentValue("C:\\x", "", EnvScope::User), 2);
  EXPECT_EQ(DeleteEnvironmentValue("", EnvScope::User), 2);
  EXPECT_EQ(EnvironmentChanged, 0);
  auto stored = QueryValue(HKEY_CURRENT_USER, kUserEnvKey, "");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->data, std::string("keep", 5));
}

TEST_F(EnvTest, ValuesLiveUnderTheScopesKeys) {
  const struct {
    EnvScope scope;
    HKEY root;
    const char* key;
  } cases[] = {{EnvScope::System, HKEY_LOCAL_MACHINE, kSystemEnvKey},
               {EnvScope::User, HKEY_CURRENT_USER, kUserEnvKey},
               {static_cast<EnvScope>(7), HKEY_CURRENT_USER, kUserEnvKey}};
  for (const auto& c : cases) {
    EnvironmentChanged = 0;
    ASSERT_EQ(SetEnvironmentValue("C:\\x", "INCLUDE", c.scope), 0);
    EXPECT_EQ(EnvironmentChanged, 1);
    auto stored = QueryValue(c.root, c.key, "INCLUDE");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, REG_SZ);
    EXPECT_EQ(stored->data, std::string("C:\\x", 5));  // with its terminator

    std::string out = "old";
    ASSERT_EQ(GetEnvironmentValue(out, "include", c.scope), 0);
    EXPECT_EQ(out, "C:\\x");

    EnvironmentChanged = 0;
    EXPECT_EQ(DeleteEnvironmentValue("INCLUDE", c.scope), 0);
    EXPECT_EQ(EnvironmentChanged, 1);
    EXPECT_FALSE(QueryValue(c.root, c.key, "INCLUDE"));
    EXPECT_EQ(GetEnvironmentValue(out, "INCLUDE", c.scope), 2);
  }
}

// A system Path stored as REG_EXPAND_SZ must stay REG_EXPAND_SZ when it is
// written again, or every %SystemRoot% entry in it stops working.
TEST_F(EnvTest, RewriteKeepsExpandStringType) {
  StoreValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path", REG_EXPAND_SZ, "%SystemRoot%\\system32");
  ASSERT_EQ(SetEnvironmentValue("%SystemRoot%\\system32;C:\\x", "PATH", EnvScope::System), 0);
  auto stored = QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "Path");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  EXPECT_EQ(qmtest::Text(*stored), "%SystemRoot%\\system32;C:\\x");
}

TEST_F(EnvTest, DeletingMissingVariableCreatesNothing) {
  EXPECT_EQ(DeleteEnvironmentValue("NOSUCHVAR", EnvScope::User), 2);
  EXPECT_EQ(EnvironmentChanged, 0);
  EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, kUserEnvKey, "NOSUCHVAR"));

  // Without the scope's key the delete fails and leaves the key missing.
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, kUserEnvKey), ERROR_SUCCESS);
  EXPECT_EQ(DeleteEnvironmentValue("NOSUCHVAR", EnvScope::User), 1);
  EXPECT_FALSE(qmtest::KeyExists(HKEY_CURRENT_USER, kUserEnvKey));
  std::string out;
  EXPECT_EQ(GetEnvironmentValue(out, "Path", EnvScope::User), 1);
  EXPECT_EQ(EnvironmentChanged, 0);
}

class BroadcastTest : public EnvTest {
 protected:
  std::string BroadcastLog() {
    std::ifstream in(prefix_.dir() + "/broadcast.log", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Broadcast() {
    std::string printed;
    text::CaptureOutput(&printed);
    BroadcastEnvironmentChange();
    text::CaptureOutput(nullptr);
    return printed;
  }
};

TEST_F(BroadcastTest, NothingChangedNothingAnnounced) {
  EXPECT_EQ(Broadcast(), "");
  EXPECT_EQ(BroadcastLog(), "");
  UseWindows98();
  EXPECT_EQ(Broadcast(), "");
}

TEST_F(BroadcastTest, WindowsNTSendsSettingChange) {
  EnvironmentChanged = 1;
  EXPECT_EQ(Broadcast(), "");
  EXPECT_EQ(BroadcastLog(), "WM_SETTINGCHANGE Environment\n");
}

TEST_F(BroadcastTest, Windows9xAsksForReboot) {
  UseWindows98();
  ASSERT_EQ(SetEnvironmentValue("v", "NAME", EnvScope::System), 0);  // the registry, even on 9x
  EXPECT_TRUE(QueryValue(HKEY_LOCAL_MACHINE, kSystemEnvKey, "NAME"));
  EXPECT_EQ(Broadcast(),
            "You should reboot your computer to enable the change to the environment table!\n");
  EXPECT_EQ(BroadcastLog(), "");
}

}  // namespace
}  // namespace qm
