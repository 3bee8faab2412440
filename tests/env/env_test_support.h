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
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qmtest {

constexpr char kSystemEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr char kUserEnvKey[] = "Environment";

struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored, terminator included
};

inline std::optional<StoredValue> QueryValue(HKEY root, const std::string& subkey,
                                             const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue v;
  DWORD size = 0;
  LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &v.type, nullptr, &size);
  if (r == ERROR_SUCCESS) {
    v.data.resize(size);
    r = RegQueryValueExA(key, name.c_str(), nullptr, &v.type,
                         reinterpret_cast<BYTE*>(v.data.data()), &size);
    v.data.resize(size);
  }
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return std::nullopt;
  return v;
}

inline bool KeyExists(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Stores `text` with its terminator (or raw bytes for other types).
inline void StoreValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                       const std::string& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  std::string data = bytes;
  if (type == REG_SZ || type == REG_EXPAND_SZ) data.push_back('\0');
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

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
