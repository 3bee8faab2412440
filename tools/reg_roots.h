// Root names as reg.exe reads them, for the inspection tools of the emulated
// machine (quillmark-reg): the short forms reg.exe adds, and the
// full names as the registry layer recognises them.
#pragma once

#include <string_view>

#include "registry/registry.h"
#include "text/codepage.h"

namespace regtool {

using text::EqualsAsciiNoCase;

// The root a root text names (short or full form, any letter case), or
// nullptr.
inline HKEY FindRoot(std::string_view rootText) {
  struct ShortName {
    std::string_view shortName, fullName;
  };
  static constexpr ShortName kShortNames[] = {
      {"HKLM", "HKEY_LOCAL_MACHINE"}, {"HKCU", "HKEY_CURRENT_USER"},
      {"HKCR", "HKEY_CLASSES_ROOT"},  {"HKU", "HKEY_USERS"},
      {"HKCC", "HKEY_CURRENT_CONFIG"},
  };
  for (const ShortName& s : kShortNames)
    if (EqualsAsciiNoCase(rootText, s.shortName)) return qm::ParseRegistryRoot(s.fullName);
  return qm::ParseRegistryRoot(rootText);
}

}  // namespace regtool
