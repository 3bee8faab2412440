// The install stamp: a file's MD5 under the Pinebrook uninstall key.
#pragma once

#include <string_view>

namespace qm {

// Longest value name (the composed "MD5:<base name>").
constexpr size_t kMaxValueNameLength = 512;

// Digests the file and stores "MD5:<base name>" = digest under
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Pinebrook.
// 0 stored; nonzero when the file could not be read, the name is too long, or
// the value could not be stored (nothing is written then).
int RecordFileDigest(std::string_view path);

}  // namespace qm
