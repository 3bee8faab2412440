#include "env/pathlist.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "env/startup_files.h"
#include "platform/crt.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "text/codepage.h"
#include "text/path.h"

namespace qm {

std::string PathListBuffer;

namespace {

// The current directory is fetched with this capacity (terminator included);
// a longer one cannot be fetched at all.
constexpr DWORD kCurrentDirectoryCapacity = 261;

constexpr size_t npos = std::string_view::npos;

// ForEachPiece: some of several paths failed.
constexpr int kSomePathFailed = 1;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The current directory, as GetCurrentDirectoryA gives it (C:\ at a drive
// root, no final backslash elsewhere). False when it cannot be fetched
// within its capacity.
bool FetchCurrentDirectory(std::string& cur) {
  char buffer[kCurrentDirectoryCapacity];
  DWORD n = GetCurrentDirectoryA(kCurrentDirectoryCapacity, buffer);
  if (n == 0 || n >= kCurrentDirectoryCapacity) return false;
  cur.assign(buffer, n);
  return true;
}

// Rebuilds `path` from its first dot (at `dot`) on: ".\" goes, "..\" and a
// final ".." go up to the parent, a final "." goes, and any other piece is
// kept as it stands. Nothing when a directory built on the way is longer than
// kMaxDirectoryLength.
std::optional<std::string> RebuildDottedPath(std::string_view path, size_t dot) {
  std::string acc(path.substr(0, dot));
  size_t p = dot;
  while (p < path.size()) {
    const std::string_view at = path.substr(p);
    if (StartsWith(at, ".\\")) {
      p += 2;
    } else if (at == ".") {
      p = path.size();
    } else if (at == "..") {
      ParentDirectory(acc);
      p = path.size();
    } else if (StartsWith(at, "..\\")) {
      ParentDirectory(acc);
      p += 3;
    } else {
      size_t next = path.find('.', p + 1);
      size_t end = next == npos ? path.size() : next;
      std::string_view piece = path.substr(p, end - p);
      if (piece.front() == '.')
        acc.append(piece);
      else
        AppendPathComponent(acc, piece);
      p = end;
    }
    if (acc.size() > kMaxDirectoryLength) return std::nullopt;
  }
  TrimPathEnd(acc);
  return acc;
}

// Splits a path argument at ";" and applies `edit` to each piece. One path
// (no ";", or only a final one) gives the piece's own code; several give 0
// when every piece succeeded and 1 otherwise. Every piece is tried.
template <typename Edit>
int ForEachPiece(std::string_view paths, Edit edit) {
  size_t first = paths.find(';');
  if (first == npos || first + 1 == paths.size()) return edit(paths);
  int result = kPathDone;
  size_t begin = 0;
  while (begin <= paths.size()) {
    size_t end = paths.find(';', begin);
    if (end == npos) {
      // The text after the last ";" is a piece only when it is not empty.
      if (begin < paths.size() && edit(paths.substr(begin)) != kPathDone) result = kSomePathFailed;
      break;
    }
    if (edit(paths.substr(begin, end - begin)) != kPathDone) result = kSomePathFailed;
    begin = end + 1;
  }
  return result;
}

// Reads a registry value into PathListBuffer as a list: the text before its
// terminator. Delivers the value's type, for the list to be written back as
// the same type. False when the value cannot be read or is not one text:
// writing an edited text back over a number, binary data or a multi-string
// would destroy it.
bool ReadListValue(DWORD& typeOut, std::string_view keyPath, std::string_view valueName) {
  RegistryValue value;
  if (ReadRegistryPathTypedValue(value, keyPath, valueName) != kValueDone) return false;
  PathListBuffer = std::move(value.bytes);
  if (!IsStringType(value.type)) return false;
  const size_t end = PathListBuffer.find('\0');
  if (end != npos) PathListBuffer.resize(end);
  typeOut = value.type;
  return true;
}

}  // namespace

// ---- Path utilities ----------------------------------------------------------

void TrimPathEnd(std::string& path) {
  if (path.empty()) return;
  if (path.back() == ';') path.pop_back();
  // A drive root (C:\) and a lone backslash keep theirs.
  if (text::EndsWithBackslash(path) && path.size() >= 2 && path[path.size() - 2] != ':')
    path.pop_back();
}

bool ResolvePath(std::string& path) {
  std::string work = path;
  TrimPathEnd(work);
  if (work == "." || work == "..") {
    std::string cur;
    if (!FetchCurrentDirectory(cur)) return false;
    if (work == "..") ParentDirectory(cur);
    path = std::move(cur);
    return true;
  }
  // Every directory built on the way has to fit the directory limit, not
  // only the result: a long current directory joined with a long relative
  // part is rejected, never cut.
  if (work.size() > kMaxDirectoryLength) return false;
  const bool doubleDotted = StartsWith(work, "..\\");
  if (doubleDotted || StartsWith(work, ".\\")) {
    std::string cur;
    if (!FetchCurrentDirectory(cur)) return false;
    if (doubleDotted) ParentDirectory(cur);
    AppendPathComponent(cur, std::string_view(work).substr(doubleDotted ? 3 : 2));
    if (cur.size() > kMaxDirectoryLength) return false;
    work = std::move(cur);
  }
  // Only a path holding a dot is rebuilt; bin stays bin.
  const size_t dot = work.find('.');
  if (dot != npos) {
    std::optional<std::string> rebuilt = RebuildDottedPath(work, dot);
    if (!rebuilt) return false;
    work = std::move(*rebuilt);
  }
  path = std::move(work);
  return true;
}

bool IsExistingDirectory(const std::string& path) {
  // A pattern would find whatever matches it: C:\Prog* is not a directory.
  if (path.empty() || path.find_first_of("*?") != npos) return false;
  crt::finddata_t data;
  intptr_t handle = crt::findfirst(path.c_str(), &data);
  if (handle == -1) return false;
  bool isDirectory = (data.attrib & crt::A_SUBDIR) != 0;
  crt::findclose(handle);
  return isDirectory;
}

// ---- List editing ------------------------------------------------------------

int FindPathInList(std::string_view list, std::string_view path, PathMatch& match) {
  if (path.empty()) return kPathUnusable;
  std::string wanted = text::ToLower(path);
  if (!wanted.empty() && wanted.back() == ';') wanted.pop_back();
  if (text::EndsWithBackslash(wanted) && wanted.size() >= 3 && wanted[wanted.size() - 2] != ':')
    wanted.pop_back();
  // Nothing left to look for (the path was ";"): an empty text is no entry.
  if (wanted.empty()) return kPathUnusable;

  const text::LowerText lowerList(list);
  size_t from = 0;
  while (from <= list.size()) {
    size_t begin = lowerList.Find(wanted, from);
    if (begin == npos) return kPathNotInList;
    size_t e = begin + wanted.size();
    if (e < list.size() && list[e] == '\\') ++e;
    bool endsEntry = e == list.size() || list[e] == ';';
    bool beginsEntry = begin == 0 || list[begin - 1] == ';';
    if (endsEntry && beginsEntry) {
      match.entryBegin = begin;
      match.entryEnd = e < list.size() ? e + 1 : e;
      return kPathDone;
    }
    from = e;
  }
  return kPathNotInList;
}

int RemovePathFromList(std::string& list, std::string_view path) {
  if (path.size() > kMaxDirectoryLength) return kPathUnusable;
  std::string resolved(path);
  if (!ResolvePath(resolved)) return kPathUnusable;
  PathMatch match;
  int found = FindPathInList(list, resolved, match);
  if (found != kPathDone) return found;
  list.erase(match.entryBegin, match.entryEnd - match.entryBegin);
  if (!list.empty() && list.back() == ';') list.pop_back();
  return kPathDone;
}

int AddPathToList(std::string& list, std::string_view path, PathPlacement placement) {
  if (path.empty() || path.size() > kMaxDirectoryLength) return kPathUnusable;
  std::string resolved(path);
  if (!ResolvePath(resolved)) return kPathUnusable;
  const size_t listLength = list.size();
  const size_t resolvedLength = resolved.size();

  // Neither a directory that does not exist nor one already listed is an
  // error: the list simply stays as it is.
  if (!IsExistingDirectory(resolved)) return kPathDone;
  PathMatch match;
  if (FindPathInList(list, resolved, match) == kPathDone) return kPathDone;

  if (placement == PathPlacement::End) {
    if (!list.empty() && list.back() == ';') {
      if (listLength + resolvedLength > kMaxListLength) return kListTooLongAfterSeparator;
      list.append(resolved);
      return kPathDone;
    }
    if (listLength + resolvedLength + 1 > kMaxListLength) return kListTooLong;
    if (!list.empty()) list.push_back(';');
    list.append(resolved);
    return kPathDone;
  }
  if (listLength + resolvedLength + 1 > kMaxListLength) return kListTooLong;
  if (!list.empty()) resolved.append(";").append(list);
  list = std::move(resolved);
  return kPathDone;
}

int AddPathsToList(std::string& list, std::string_view paths, PathPlacement placement) {
  return ForEachPiece(
      paths, [&](std::string_view piece) { return AddPathToList(list, piece, placement); });
}

int RemovePathsFromList(std::string& list, std::string_view paths) {
  return ForEachPiece(paths,
                      [&](std::string_view piece) { return RemovePathFromList(list, piece); });
}

// ---- Operations --------------------------------------------------------------

int AddPathToEnvironment(std::string_view paths, std::string_view name, EnvScope scope,
                         PathPlacement placement) {
  // Windows 95/98/ME take their environment from autoexec.bat, not from the
  // registry.
  if (!IsWindowsNT()) return AppendAutoexecSetLine(paths, name, placement);
  if (GetEnvironmentValue(PathListBuffer, name, scope) != 0) return kListNotRead;
  if (AddPathsToList(PathListBuffer, paths, placement) != kPathDone) return kListNotEdited;
  return SetEnvironmentValue(PathListBuffer, name, scope);
}

int RemovePathFromEnvironment(std::string_view paths, std::string_view name, EnvScope scope) {
  if (!IsWindowsNT()) return RemoveAutoexecSetLines(paths, name);
  if (GetEnvironmentValue(PathListBuffer, name, scope) != 0) return kListNotRead;
  if (RemovePathsFromList(PathListBuffer, paths) != kPathDone) return kListNotEdited;
  return SetEnvironmentValue(PathListBuffer, name, scope);
}

// The list is written back as the type it was read as: a REG_EXPAND_SZ list
// full of %SystemRoot% entries stays expandable.
int AddPathToRegistryValue(std::string_view paths, std::string_view keyPath,
                           std::string_view valueName, PathPlacement placement) {
  DWORD type = REG_SZ;
  if (!ReadListValue(type, keyPath, valueName)) return kListNotRead;
  if (AddPathsToList(PathListBuffer, paths, placement) != kPathDone) return kListNotEdited;
  return WriteRegistryPathTypedString(PathListBuffer, type, keyPath, valueName);
}

int RemovePathFromRegistryValue(std::string_view paths, std::string_view keyPath,
                                std::string_view valueName) {
  DWORD type = REG_SZ;
  if (!ReadListValue(type, keyPath, valueName)) return kListNotRead;
  if (RemovePathsFromList(PathListBuffer, paths) != kPathDone) return kListNotEdited;
  return WriteRegistryPathTypedString(PathListBuffer, type, keyPath, valueName);
}

}  // namespace qm
