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

// ---- Results -----------------------------------------------------------------
// Of the list editing below.
constexpr int kPathDone = 0;       // added (or nothing to add), removed, found
constexpr int kPathUnusable = 1;   // an empty path, or a directory too long
constexpr int kPathNotInList = 2;  // nothing to remove, or not found
// An addition would make the list longer than kMaxListLength: appended
// after the list's own final ";" (3), or with a ";" of its own (4).
constexpr int kListTooLongAfterSeparator = 3;
constexpr int kListTooLong = 4;
// Of the operations, besides the results of the store they write to.
constexpr int kListNotRead = 1;
constexpr int kListNotEdited = 2;

// ---- Operations ------------------------------------------------------------
// On Windows NT: 0 done; kListNotRead (1) the variable could not be read;
// kListNotEdited (2) a path could not be added or removed (nothing is
// written then); otherwise the result of SetEnvironmentValue. On Windows
// 9x/ME the list lives in autoexec.bat: the result of AppendAutoexecSetLine
// or RemoveAutoexecSetLines.
int AddPathToEnvironment(std::string_view paths, std::string_view name, EnvScope scope,
                         PathPlacement placement);
int RemovePathFromEnvironment(std::string_view paths, std::string_view name, EnvScope scope);
// 0 done; kListNotRead (1), writing nothing, when the value cannot be read or
// is not one text (a number, binary data, a multi-string); kListNotEdited
// (2) as above; otherwise the result of WriteRegistryPathTypedString. The
// list is written back as the type it was read as (REG_SZ or REG_EXPAND_SZ).
int AddPathToRegistryValue(std::string_view paths, std::string_view keyPath,
                           std::string_view valueName, PathPlacement placement);
int RemovePathFromRegistryValue(std::string_view paths, std::string_view keyPath,
                                std::string_view valueName);

// ---- List editing ----------------------------------------------------------
// `paths` is split at ";". One path (no ";", or only a final one) gives that
// path's own result; several give 0 when every one succeeded, 1 otherwise.
// Every path is tried.
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
