// The root names that reg.exe accepts, shared by the inspection tools of the
// emulated machine (quillmark-reg, qmreg-setup).
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/win32api.h"

namespace regtool {

struct Root {
  const char* shortName;
  const char* longName;
  HKEY key;
};

inline const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// ASCII letters compared without regard to case, as reg.exe reads its
// options and root names.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The root a root text names (short or long form), or nullptr.
inline const Root* FindRoot(std::string_view text) {
  for (const Root& r : kRoots)
    if (EqualsNoCase(text, r.shortName) || EqualsNoCase(text, r.longName)) return &r;
  return nullptr;
}

}  // namespace regtool
