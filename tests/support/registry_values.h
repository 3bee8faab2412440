// The registry as the tests set it up and read it back, through the Win32
// calls and past the code under test: values as (type, bytes).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/win32api.h"

namespace qmtest {

struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored, terminator included
  bool operator==(const StoredValue&) const = default;
};

// The value, or nothing when the key or the value is missing.
inline std::optional<StoredValue> QueryValue(HKEY root, const std::string& subkey, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue v;
  DWORD size = 1 << 20;
  v.data.resize(size);
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &size);
  RegCloseKey(key);
  v.data.resize(size);
  return rc == ERROR_SUCCESS ? std::optional(v) : std::nullopt;
}

inline bool KeyExists(HKEY root, const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  return RegCloseKey(key) == ERROR_SUCCESS;
}

// Stores the value exactly as given, creating the key; a failure fails the test.
inline bool PutValue(HKEY root, const std::string& subkey, const std::string& name, const StoredValue& v) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    key = nullptr;
  LONG rc = RegSetValueExA(key, name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                           static_cast<DWORD>(v.data.size()));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "could not store " << subkey << "\\" << name;
  return rc == ERROR_SUCCESS;
}

// The bytes, with a terminator added for REG_SZ and REG_EXPAND_SZ.
inline bool StoreValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                       const std::string& bytes) {
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
  return PutValue(root, subkey, name, {type, text ? bytes + std::string(1, '\0') : bytes});
}

}  // namespace qmtest
