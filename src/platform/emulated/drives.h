// The emulated machine's drive map: C: is <prefix>/drive_c, Z: is the host's
// root. DOS paths become host paths component by component, each looked up
// without regard to letter case as Windows file systems do, so that
// C:\WINDOWS\System32 finds <prefix>/drive_c/windows/system32.
#pragma once

#include <string>
#include <string_view>

#include "platform/emulated/win32_emulated.h"

namespace emulated {

// A DOS path resolved against the current directory and mapped to the host.
struct MappedPath {
  std::string dos;               // full DOS path, e.g. "C:\\a\\b" ("C:\\" for a root)
  std::string host;              // host path; components not found kept as given
  bool isRoot = false;           // the path names a drive's root directory
  bool endsInSeparator = false;  // the path as given ended in '\' or '/'
  bool parentExists = false;     // every component before the last was found
};

// The current directory as a DOS path ("C:\\", "C:\\tools", "Z:\\tmp").
// Empty, with the last error set, when the host cannot tell it.
std::string CurrentDosDirectory();

// The full DOS path of `path`, as GetFullPathNameA forms it: relative paths
// taken from the current directory (drive-relative "C:x" too), '/' read as
// '\', runs of separators collapsed, "." and ".." resolved (never above the
// root), trailing dots and spaces of the last component dropped, and a
// trailing separator kept. Returns 0 or a Win32 error code.
DWORD FullDosPath(std::string_view path, std::string* full);

// Resolves and maps `path`. Returns 0, or a Win32 error code when the path
// is empty, malformed or on a drive the machine does not have.
DWORD MapPath(std::string_view path, MappedPath* mapped);

// The Win32 error for "not there" at a mapped path: ERROR_FILE_NOT_FOUND when
// its directory exists, ERROR_PATH_NOT_FOUND when it does not.
inline DWORD NotFoundError(const MappedPath& mapped) {
  return mapped.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Position of the last '\\' or '/' of a DOS path that is a separator (not
// the trail byte of a double-byte character of the machine's code page), or
// npos.
size_t LastSeparator(std::string_view dosPath);

// Names compared as Windows compares file names here: ASCII letters without
// regard to case, a double-byte character of the machine's code page as one
// character whose trail byte never folds.
bool NameEqualsNoCase(std::string_view a, std::string_view b);

// Whether `name` matches a FindFirstFileA pattern of '*' and '?', without
// regard to case, with the DOS rules that "*.*" matches every name and that
// "x.*" and "x." also match "x".
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace emulated
