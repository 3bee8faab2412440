// The process environment of the emulated machine: names without regard to
// case, and the variables every Windows process has.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crt.h"

extern char** environ;

namespace {

// Saves the whole host environment and puts it back after the test.
class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (char** e = environ; *e; ++e) saved_.emplace_back(*e);
  }
  void TearDown() override {
    std::vector<std::string> names;
    for (char** e = environ; *e; ++e) names.emplace_back(*e, std::strchr(*e, '=') - *e);
    for (const auto& n : names) ::unsetenv(n.c_str());
    for (const auto& s : saved_) {
      size_t eq = s.find('=');
      ::setenv(s.substr(0, eq).c_str(), s.substr(eq + 1).c_str(), 1);
    }
  }
  // Removes every spelling of a name from the host environment.
  static void UnsetAllSpellings(const char* name) {
    std::vector<std::string> names;
    for (char** e = environ; *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      if (eq && static_cast<size_t>(eq - *e) == std::strlen(name) &&
          strncasecmp(*e, name, std::strlen(name)) == 0)
        names.emplace_back(*e, eq - *e);
    }
    for (const auto& n : names) ::unsetenv(n.c_str());
  }

 private:
  std::vector<std::string> saved_;
};

TEST_F(EnvironmentTest, NamesAreLookedUpWithoutRegardToCase) {
  ::setenv("QmTestVar", "v1", 1);
  for (const char* name : {"QmTestVar", "QMTESTVAR", "qmtestvar", "qMtEsTvAr"}) {
    ASSERT_NE(crt::getenv(name), nullptr) << name;
    EXPECT_STREQ(crt::getenv(name), "v1") << name;
  }
  EXPECT_EQ(crt::getenv("QmTestVa"), nullptr);
  EXPECT_EQ(crt::getenv("QmTestVarX"), nullptr);
  EXPECT_EQ(crt::getenv(""), nullptr);
}

TEST_F(EnvironmentTest, ExactSpellingPreferredWhenTheHostHasSeveral) {
  ::setenv("QMDUP", "upper", 1);
  ::setenv("qmdup", "lower", 1);
  EXPECT_STREQ(crt::getenv("QMDUP"), "upper");
  EXPECT_STREQ(crt::getenv("qmdup"), "lower");
  ASSERT_NE(crt::getenv("QmDup"), nullptr);
}

TEST_F(EnvironmentTest, WindowsVariablesHaveTheMachinesValues) {
  const struct {
    const char* name;
    const char* value;
  } cases[] = {
      {"SystemRoot", "C:\\windows"},
      {"WINDIR", "C:\\windows"},
      {"systemdrive", "C:"},
      {"COMSPEC", "C:\\windows\\system32\\cmd.exe"},
  };
  for (const auto& c : cases) {
    UnsetAllSpellings(c.name);
    ASSERT_NE(crt::getenv(c.name), nullptr) << c.name;
    EXPECT_STREQ(crt::getenv(c.name), c.value) << c.name;
    // A value the host sets always wins.
    ::setenv(c.name, "host value", 1);
    EXPECT_STREQ(crt::getenv(c.name), "host value") << c.name;
  }
  // Whatever its spelling.
  UnsetAllSpellings("windir");
  ::setenv("WinDir", "D:\\host", 1);
  EXPECT_STREQ(crt::getenv("windir"), "D:\\host");
}

TEST_F(EnvironmentTest, PutenvReplacesEverySpelling) {
  ::setenv("qmx", "a", 1);
  ::setenv("QMX", "b", 1);
  ASSERT_EQ(crt::putenv("QmX", "c"), 0);
  EXPECT_EQ(std::getenv("qmx"), nullptr);
  EXPECT_EQ(std::getenv("QMX"), nullptr);
  EXPECT_STREQ(std::getenv("QmX"), "c");
  EXPECT_STREQ(crt::getenv("qmx"), "c");

  EXPECT_EQ(crt::putenv("QMX", nullptr), 0);
  EXPECT_EQ(crt::getenv("qmx"), nullptr);
  ::setenv("qmx", "a", 1);
  EXPECT_EQ(crt::putenv("QMX", ""), 0);  // an empty value removes, as on Windows
  EXPECT_EQ(crt::getenv("qmx"), nullptr);

  EXPECT_NE(crt::putenv("A=B", "c"), 0);
  EXPECT_NE(crt::putenv("", "c"), 0);
}

}  // namespace
