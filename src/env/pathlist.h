// Path lists: directories separated by ";", matched as whole entries without
// regard to letter case, one trailing backslash not counting; and the
// operations that edit such a list in an environment variable or a registry
// string value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "env/envstore.h"
#include "text/path.h"

namespace qm {

// Longest list an addition may produce (characters, terminator not counted).
constexpr size_t kMaxListLength = 32766;
// Longest single directory, as given or after resolution. A longer one fails
// its piece; it is never cut.
constexpr size_t kMaxDirectoryLength = 263;

// The one program-wide buffer in which a list is read, edited and written back.
extern std::string PathListBuffer;

struct PathMatch {
  size_t entryBegin = 0;  // first character of the matched entry
  size_t entryEnd = 0;    // after the entry, its trailing backslash and its ";"
};

// ---- Operations (0 success) ------------------------------------------------
int AddPathToEnvironment(std::string_view paths, std::string_view name, EnvScope scope,
                         PathPlacement placement);
int RemovePathFromEnvironment(std::string_view paths, std::string_view name, EnvScope scope);
// The registry-value forms fail with 1, writing nothing, also for a value
// that is not one text (a number, binary data, a multi-string).
int AddPathToRegistryValue(std::string_view paths, std::string_view keyPath,
                           std::string_view valueName, PathPlacement placement);
int RemovePathFromRegistryValue(std::string_view paths, std::string_view keyPath,
                                std::string_view valueName);

// ---- List editing ----------------------------------------------------------
int AddPathsToList(std::string& list, std::string_view paths, PathPlacement placement);
int RemovePathsFromList(std::string& list, std::string_view paths);
// 0 added, already there, or not an existing directory; 1 empty path (or a
// directory too long); 3 / 4 the list would exceed kMaxListLength.
int AddPathToList(std::string& list, std::string_view path, PathPlacement placement);
// 0 removed; 1 empty path (or too long); 2 not in the list.
int RemovePathFromList(std::string& list, std::string_view path);
// 0 found; 1 empty path; 2 not found.
int FindPathInList(std::string_view list, std::string_view path, PathMatch& match);

// ---- Path utilities (edit their first argument) ----------------------------
// Makes "." and ".." forms absolute against the current directory. False,
// leaving `path` unchanged, when the result would exceed kMaxDirectoryLength.
bool ResolvePath(std::string& path);
// Drops one final ";", then one final backslash unless it is the whole text
// or follows a colon (a drive root, "C:\", keeps its backslash).
void TrimPathEnd(std::string& path);
// The lists are edited with the character-aware path helpers of the text
// layer (text/path.h); these two are also the path lists' own utilities.
using text::AppendPathComponent;
using text::ParentDirectory;
// A drive root and a pattern (with * or ?) are not existing directories.
bool IsExistingDirectory(const std::string& path);

}  // namespace qm
