// The install stamp: a file's MD5 under the Pinebrook uninstall key.
#pragma once

#include <string_view>

namespace qm {

// Digests the file and stores "MD5:<base name>" = digest under
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Pinebrook.
// 0 stored; 1 the file could not be read; 2 the name "MD5:<base name>" would
// be longer than kMaxValueNameLength (registry/registry.h); 4 the key could
// not be created or opened; 5 the value could not be stored. Nothing is
// written on failure.
int RecordFileDigest(std::string_view path);

}  // namespace qm
