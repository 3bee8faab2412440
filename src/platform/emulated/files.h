// File attributes and directory searches of the emulated machine, shared by
// the Win32 file calls and the C runtime's.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/emulated/win32_emulated.h"

namespace emulated {

// Read-only is a mode without any write bit, whoever runs the program: root
// could write such a file, a Windows program could not.
inline bool IsReadOnlyMode(mode_t mode) {
  return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The Windows attributes of a host file whose stat is `st`: directory and
// read-only from the mode, hidden, system and archive from the extended
// attribute user.DOSATTRIB (a file without it has the archive attribute, as a
// new file on Windows); FILE_ATTRIBUTE_NORMAL when none applies.
DWORD AttributesOf(const std::string& host, const struct stat& st);

// One directory search: the entries that matched, in the order returned.
struct FindEntry {
  std::string name;
  struct stat st;
  DWORD attributes;
};
struct FindResults {
  std::vector<FindEntry> entries;
  size_t next = 0;
};

// Runs a FindFirstFileA search for `pattern` (wildcards in the last
// component). Returns 0 with at least one entry, or a Win32 error code:
// ERROR_FILE_NOT_FOUND when nothing matches (a drive root, or a path that
// ends in a separator, is never an entry), ERROR_PATH_NOT_FOUND when the
// directory is missing.
DWORD FindFiles(const char* pattern, FindResults* results);

}  // namespace emulated
