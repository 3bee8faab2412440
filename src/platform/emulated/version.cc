// GetVersion: the version word of the Windows that the machine pretends to be,
// chosen by QUILLMARK_WINVER (Windows 10 when unset or unknown).
#include <strings.h>

#include <cstdlib>

#include "platform/emulated/win32_emulated.h"

namespace {

struct WindowsVersion {
  const char* name;
  DWORD word;
};

// Low byte major, next byte minor; the high word is the build on NT, and on
// Windows 9x bit 31 is set (the words Windows and Wine report).
constexpr WindowsVersion kVersions[] = {
    {"win95", 0xC3B60004},  // 4.0, build 950
    {"win98", 0xC0000A04},  // 4.10
    {"winme", 0xC0005A04},  // 4.90
    {"winxp", 0x0A280105},  // 5.1.2600
    {"win7", 0x1DB10106},   // 6.1.7601
    {"win10", 0x4A65000A},  // 10.0.19045
};
constexpr DWORD kDefaultVersion = 0x4A65000A;

}  // namespace

DWORD GetVersion() {
  const char* wanted = std::getenv("QUILLMARK_WINVER");
  if (wanted) {
    for (const auto& v : kVersions)
      if (strcasecmp(wanted, v.name) == 0) return v.word;
  }
  return kDefaultVersion;
}
