// The drive map, the current directory and full path names.
#include "platform/emulated/drives.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/emulated/errors.h"
#include "platform/emulated/machine.h"

namespace emulated {
namespace {

constexpr char kSep = '\\';
constexpr char kSystemDrive = 'C';
constexpr char kHostDrive = 'Z';

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The host directory of drive C:, as the prefix names it.
std::string DriveCRoot() {
  std::string prefix = PrefixDirectory();
  return prefix.empty() ? std::string() : prefix + "/drive_c";
}

// The same with symbolic links resolved, to recognise it in getcwd's answer.
std::string DriveCRootResolved() {
  std::string root = DriveCRoot();
  if (root.empty()) return root;
  char buf[PATH_MAX];
  if (::realpath(root.c_str(), buf)) return buf;
  return root;
}

// Splits the part after "X:" into components, dropping empty ones. A trail
// byte of a double-byte character may be 0x5C and is no separator then.
void SplitComponents(std::string_view s, std::vector<std::string>* out) {
  UINT acp = GetACP();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsSeparator(s[i])) ++i;
    size_t start = i;
    while (i < s.size() && !IsSeparator(s[i])) {
      if (IsDBCSLeadByteEx(acp, static_cast<BYTE>(s[i])) && i + 1 < s.size()) ++i;
      ++i;
    }
    if (i > start) out->emplace_back(s.substr(start, i - start));
  }
}

bool EndsInSeparator(std::string_view s) {
  return !s.empty() && LastSeparator(s) == s.size() - 1;
}

// The DOS form of a host path.
std::string DosOfHost(const std::string& host) {
  std::string driveC = DriveCRootResolved();
  std::string rest;
  char drive = kHostDrive;
  if (!driveC.empty() && host.compare(0, driveC.size(), driveC) == 0 &&
      (host.size() == driveC.size() || host[driveC.size()] == '/')) {
    drive = kSystemDrive;
    rest = host.substr(driveC.size());
  } else {
    rest = host;
  }
  std::string dos{drive, ':', kSep};
  std::vector<std::string> parts;
  SplitComponents(rest, &parts);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) dos += kSep;
    dos += parts[i];
  }
  return dos;
}

// The code units of a name as compared by the file system: one per
// character, ASCII letters folded, a double-byte character kept whole.
std::vector<unsigned> FoldedChars(std::string_view s) {
  UINT acp = GetACP();
  std::vector<unsigned> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    auto b = static_cast<unsigned char>(s[i]);
    if (IsDBCSLeadByteEx(acp, b) && i + 1 < s.size()) {
      out.push_back(0x10000u | (b << 8) | static_cast<unsigned char>(s[++i]));
    } else {
      out.push_back(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
    }
  }
  return out;
}

bool Glob(const std::vector<unsigned>& p, const std::vector<unsigned>& n) {
  size_t pi = 0, ni = 0, starP = SIZE_MAX, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starN = ni;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// The entry of `dir` named `name` without regard to case: the exact name
// when it exists, else the first match in name order (stable when several
// names differ only in case); empty when there is none.
std::string FindEntry(const std::string& dir, const std::string& name) {
  std::string exact = (dir == "/" ? "" : dir) + "/" + name;
  struct stat st;
  if (::lstat(exact.c_str(), &st) == 0) return name;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string best;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (NameEqualsNoCase(e->d_name, name) && (best.empty() || best > e->d_name)) best = e->d_name;
  }
  ::closedir(d);
  return best;
}

}  // namespace

size_t LastSeparator(std::string_view s) {
  UINT acp = GetACP();
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsSeparator(s[i]))
      last = i;
    else if (IsDBCSLeadByteEx(acp, static_cast<BYTE>(s[i])))
      ++i;
  }
  return last;
}

bool NameEqualsNoCase(std::string_view a, std::string_view b) {
  return FoldedChars(a) == FoldedChars(b);
}

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  std::vector<unsigned> n = FoldedChars(name);
  if (Glob(FoldedChars(pattern), n)) return true;
  // DOS: "x.*" and "x." also name "x", a name without an extension.
  bool noDot = name.find('.') == std::string_view::npos;
  if (noDot && pattern.size() > 2 && pattern.substr(pattern.size() - 2) == ".*")
    return Glob(FoldedChars(pattern.substr(0, pattern.size() - 2)), n);
  if (noDot && pattern.size() > 1 && pattern.back() == '.') {
    std::string_view stem = pattern;
    while (!stem.empty() && stem.back() == '.') stem.remove_suffix(1);
    return Glob(FoldedChars(stem), n);
  }
  return false;
}

std::string CurrentDosDirectory() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) {
    SetLastError(Win32ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
    return {};
  }
  return DosOfHost(buf);
}

DWORD FullDosPath(std::string_view path, std::string* full) {
  if (path.empty()) return ERROR_INVALID_NAME;
  // UNC and device paths ("\\server\share", "\\?\", "\\.\") are beyond the
  // emulated machine, which has local drives only.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return ERROR_BAD_PATHNAME;

  bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                  ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  std::string_view rest = hasDrive ? path.substr(2) : path;
  bool fromRoot = !rest.empty() && IsSeparator(rest[0]);
  std::string cwd;
  if (!(hasDrive && fromRoot)) {
    cwd = CurrentDosDirectory();
    if (cwd.empty()) return GetLastError();
  }
  char drive = hasDrive ? static_cast<char>(path[0] & ~0x20) : cwd[0];
  std::vector<std::string> parts;
  // "C:x" is relative to the drive's current directory: the process's one
  // when it is on that drive, the drive's root otherwise; "\x" is relative to
  // the current drive's root.
  if (!fromRoot && cwd[0] == drive) SplitComponents(std::string_view(cwd).substr(3), &parts);

  std::vector<std::string> given;
  SplitComponents(rest, &given);
  bool trailingSep = EndsInSeparator(rest) && !given.empty();
  for (size_t i = 0; i < given.size(); ++i) {
    std::string& c = given[i];
    if (c == ".") continue;
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (i + 1 == given.size() && !trailingSep) {
      // Windows drops trailing dots and spaces from the last name.
      while (!c.empty() && (c.back() == '.' || c.back() == ' ')) c.pop_back();
      if (c.empty()) continue;
    }
    parts.push_back(std::move(c));
  }
  std::string out{drive, ':', kSep};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += kSep;
    out += parts[i];
  }
  if (trailingSep && !parts.empty()) out += kSep;
  *full = std::move(out);
  return ERROR_SUCCESS;
}

DWORD MapPath(std::string_view path, MappedPath* mapped) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;  // what the file calls say to ""
  DWORD err = FullDosPath(path, &mapped->dos);
  if (err != ERROR_SUCCESS) return err;
  mapped->endsInSeparator = EndsInSeparator(path);

  std::string host;
  char drive = mapped->dos[0];
  if (drive == kSystemDrive) {
    host = DriveCRoot();
    if (host.empty()) return ERROR_PATH_NOT_FOUND;
  } else if (drive == kHostDrive) {
    host = "/";
  } else {
    return ERROR_PATH_NOT_FOUND;  // the machine has no such drive
  }
  std::vector<std::string> parts;
  SplitComponents(std::string_view(mapped->dos).substr(3), &parts);
  mapped->isRoot = parts.empty();
  bool found = true;
  mapped->parentExists = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name = parts[i];
    if (found) {
      std::string entry = FindEntry(host, name);
      if (entry.empty()) {
        found = false;
        if (i + 1 < parts.size()) mapped->parentExists = false;
      } else {
        name = entry;
      }
    } else {
      mapped->parentExists = false;
    }
    if (host.back() != '/') host += '/';
    host += name;
  }
  if (mapped->parentExists && parts.size() > 1) {
    // The components before the last were found; they must also be a
    // directory for the last one to be looked up in.
    struct stat st;
    std::string parent = host.substr(0, host.rfind('/'));
    if (::stat(parent.empty() ? "/" : parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      mapped->parentExists = false;
  }
  mapped->host = std::move(host);
  return ERROR_SUCCESS;
}

}  // namespace emulated

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string cwd = emulated::CurrentDosDirectory();
  if (cwd.empty()) return 0;
  auto length = static_cast<DWORD>(cwd.size());
  // Windows: the length without the NUL when it fits, else the size needed
  // with the NUL, and the buffer untouched.
  if (!lpBuffer || nBufferLength <= length) return length + 1;
  std::memcpy(lpBuffer, cwd.c_str(), cwd.size() + 1);
  return length;
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
  using emulated::Fail;
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(lpPathName, &m)) return Fail(err, FALSE);
  struct stat st;
  if (::stat(m.host.c_str(), &st) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno, emulated::NotFoundError(m)), FALSE);
  if (!S_ISDIR(st.st_mode)) return Fail(emulated::kErrorDirectory, FALSE);
  if (::chdir(m.host.c_str()) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND), FALSE);
  return TRUE;
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
  if (!lpFileName) return emulated::Fail(ERROR_INVALID_PARAMETER, 0u);
  std::string full;
  if (DWORD err = emulated::FullDosPath(lpFileName, &full)) return emulated::Fail(err, 0u);
  auto length = static_cast<DWORD>(full.size());
  if (!lpBuffer || nBufferLength <= length) return length + 1;
  std::memcpy(lpBuffer, full.c_str(), full.size() + 1);
  if (lpFilePart) {
    // The last name, or none when the path ends in a separator.
    size_t slash = emulated::LastSeparator(full);
    *lpFilePart = slash + 1 < full.size() ? lpBuffer + slash + 1 : nullptr;
  }
  return length;
}
