// Direct registry access for the tests: values read back as (type, bytes)
// and state set up through the Win32 calls, bypassing the code under test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "platform/win32api.h"

namespace qmtest {

struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored, terminator included
  bool operator==(const StoredValue&) const = default;
};

inline void PrintTo(const StoredValue& v, std::ostream* os) {
  *os << "type " << v.type << " bytes [";
  for (unsigned char c : v.data) {
    static const char* digits = "0123456789abcdef";
    *os << digits[c >> 4] << digits[c & 15] << ' ';
  }
  *os << "]";
}

// The value `name` under `subkey` of `root`, or nothing when the key or the
// value is missing.
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

// Stores `value` exactly as given, creating the key.
inline void PutValue(HKEY root, const std::string& subkey, const std::string& name,
                     const StoredValue& value) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// Stores `bytes`, with a terminator added for REG_SZ and REG_EXPAND_SZ.
inline void StoreValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                       const std::string& bytes) {
  std::string data = bytes;
  if (type == REG_SZ || type == REG_EXPAND_SZ) data.push_back('\0');
  PutValue(root, subkey, name, {type, data});
}

}  // namespace qmtest
