// Shared by the environment tests: a fresh machine per test with the
// program-wide state reset, host variables set for the test and put back
// afterwards, and direct registry access to look at what was stored.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "env/envstore.h"
#include "env/pathlist.h"
#include "platform/win32api.h"
#include "support/registry_values.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qmtest {

constexpr char kSystemEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr char kUserEnvKey[] = "Environment";

inline std::string Text(const StoredValue& v) {
  return std::string(v.data.c_str());
}

// A fresh machine, EnvironmentChanged and PathListBuffer cleared, the C
// locale, and host variables that SetVariable changed put back at the end.
class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qm::EnvironmentChanged = 0;
    qm::PathListBuffer.clear();
    text::SetLocale("C");
  }
  void TearDown() override {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
    qm::EnvironmentChanged = 0;
    text::SetLocale("C");
  }
  // Sets (or, with nullptr, removes) a host variable under exactly this name.
  void SetVariable(const std::string& name, const char* value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      ::setenv(name.c_str(), value, 1);
    else
      ::unsetenv(name.c_str());
  }
  void UseWindows98() { SetVariable("QUILLMARK_WINVER", "win98"); }

  TempPrefix prefix_;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace qmtest
