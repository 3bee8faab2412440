// Files and directories of the emulated machine: searches, attributes,
// moving, deleting and creating, with the results and error codes Windows
// gives.
#include "platform/emulated/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

#include "platform/emulated/drives.h"
#include "platform/emulated/errors.h"

namespace emulated {
namespace {

// Where Wine keeps the DOS attributes that a host file system has no place
// for: "0x" and the attribute bits in hexadecimal.
constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
constexpr DWORD kXattrBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr long long kUnixEpochInFileTimeSeconds = 11644473600LL;
constexpr long long kFileTimeTicksPerSecond = 10000000LL;

// The stored DOS attributes, or nothing when none are stored.
std::optional<DWORD> ReadDosAttrib(const std::string& host) {
  char buf[32];
  ssize_t n = ::getxattr(host.c_str(), kDosAttribXattr, buf, sizeof buf - 1);
  if (n <= 2) return std::nullopt;
  buf[n] = '\0';
  if (buf[0] != '0' || (buf[1] != 'x' && buf[1] != 'X')) return std::nullopt;
  return static_cast<DWORD>(std::strtoul(buf + 2, nullptr, 16)) & kXattrBits;
}

// Stores the DOS attributes. A file without any stored is an archive file,
// as a new file is on Windows, so that case stores nothing; a file system
// without user extended attributes simply does not keep them, as with Wine.
bool WriteDosAttrib(const std::string& host, bool isFile, DWORD bits) {
  int r;
  if (bits == (isFile ? FILE_ATTRIBUTE_ARCHIVE : 0)) {
    r = ::removexattr(host.c_str(), kDosAttribXattr);
    if (r != 0 && errno == ENODATA) r = 0;
  } else {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "0x%x", bits);
    r = ::setxattr(host.c_str(), kDosAttribXattr, buf, static_cast<size_t>(n), 0);
  }
  return r == 0 || errno == ENOTSUP || errno == EPERM;
}

bool HasWildcards(std::string_view s) {
  return s.find_first_of("*?") != std::string_view::npos;
}

std::string BaseName(const std::string& host) {
  size_t slash = host.rfind('/');
  return slash == std::string::npos ? host : host.substr(slash + 1);
}

// The upper-case form that orders entries as an NTFS directory lists them.
std::string OrderKey(const std::string& name) {
  std::string key = name;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  return key;
}

FILETIME ToFileTime(const struct timespec& ts) {
  long long ticks =
      (static_cast<long long>(ts.tv_sec) + kUnixEpochInFileTimeSeconds) * kFileTimeTicksPerSecond +
      ts.tv_nsec / 100;
  if (ticks < 0) ticks = 0;
  auto u = static_cast<unsigned long long>(ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

// Where in a search pattern the directory part ends (after its last
// separator, or after "X:"), so that the mask is taken as given: path
// normalisation would drop the trailing dot of "*.".
size_t MaskStart(std::string_view pattern) {
  size_t sep = LastSeparator(pattern);
  if (sep != std::string_view::npos) return sep + 1;
  if (pattern.size() >= 2 && pattern[1] == ':') return 2;
  return 0;
}

// The live search handles, so that a stale or foreign handle is refused
// instead of followed.
std::set<FindResults*>& LiveSearches() {
  static std::set<FindResults*> live;
  return live;
}

}  // namespace

DWORD AttributesOf(const std::string& host, const struct stat& st) {
  bool isDir = S_ISDIR(st.st_mode);
  DWORD attrs = ReadDosAttrib(host).value_or(isDir ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  if (isDir) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnlyMode(st.st_mode)) attrs |= FILE_ATTRIBUTE_READONLY;
  return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

DWORD FindFiles(const char* pattern, FindResults* results) {
  if (!pattern || !*pattern) return ERROR_FILE_NOT_FOUND;
  std::string_view p = pattern;
  size_t maskStart = MaskStart(p);
  std::string_view mask = p.substr(maskStart);
  results->entries.clear();
  results->next = 0;

  if (!HasWildcards(mask)) {
    MappedPath m;
    if (DWORD err = MapPath(p, &m)) return err;
    // A drive root is no entry of any directory, and a path that ends in a
    // separator names no file.
    if (m.isRoot || m.endsInSeparator) return NotFoundError(m);
    FindEntry e;
    if (::stat(m.host.c_str(), &e.st) != 0 && ::lstat(m.host.c_str(), &e.st) != 0)
      return Win32ErrorFromErrno(errno, NotFoundError(m));
    e.name = BaseName(m.host);
    e.attributes = AttributesOf(m.host, e.st);
    results->entries.push_back(std::move(e));
    return ERROR_SUCCESS;
  }

  std::string dirPart = maskStart == 0 ? std::string(".") : std::string(p.substr(0, maskStart));
  MappedPath dir;
  if (DWORD err = MapPath(dirPart, &dir)) return err;
  DIR* d = ::opendir(dir.host.c_str());
  if (!d) return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
  std::string prefix = dir.host == "/" ? "" : dir.host;
  while (dirent* de = ::readdir(d)) {
    std::string name = de->d_name;
    bool dots = name == "." || name == "..";
    // A drive's root directory has no "." and ".." entries on Windows.
    if (dots && dir.isRoot) continue;
    if (name.size() >= MAX_PATH || !MatchesPattern(mask, name)) continue;
    FindEntry e;
    std::string host = prefix + "/" + name;
    if (::stat(host.c_str(), &e.st) != 0 && ::lstat(host.c_str(), &e.st) != 0) continue;
    e.name = std::move(name);
    e.attributes = AttributesOf(host, e.st);
    results->entries.push_back(std::move(e));
  }
  ::closedir(d);
  std::sort(results->entries.begin(), results->entries.end(),
            [](const FindEntry& a, const FindEntry& b) {
              bool aDots = a.name == "." || a.name == "..";
              bool bDots = b.name == "." || b.name == "..";
              if (aDots != bDots) return aDots;
              if (aDots) return a.name.size() < b.name.size();
              return OrderKey(a.name) < OrderKey(b.name);
            });
  return results->entries.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace emulated

namespace {

void FillFindData(const emulated::FindEntry& e, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = e.attributes;
  data->ftCreationTime = emulated::ToFileTime(e.st.st_ctim);
  data->ftLastAccessTime = emulated::ToFileTime(e.st.st_atim);
  data->ftLastWriteTime = emulated::ToFileTime(e.st.st_mtim);
  if (!S_ISDIR(e.st.st_mode)) {
    auto size = static_cast<unsigned long long>(e.st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::memcpy(data->cFileName, e.name.c_str(), e.name.size() + 1);
}

// Stat of a mapped path, with the Win32 error when it is not there.
DWORD StatMapped(const emulated::MappedPath& m, struct stat* st) {
  if (::lstat(m.host.c_str(), st) != 0)
    return emulated::Win32ErrorFromErrno(errno, NotFoundError(m));
  if (S_ISLNK(st->st_mode)) {
    struct stat target;
    if (::stat(m.host.c_str(), &target) == 0) *st = target;
  }
  return ERROR_SUCCESS;
}

BOOL MoveImpl(LPCSTR from, LPCSTR to, DWORD flags) {
  using emulated::Fail;
  if (!from || !to) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  emulated::MappedPath src, dst;
  if (DWORD err = emulated::MapPath(from, &src)) return Fail(err, FALSE);
  if (DWORD err = emulated::MapPath(to, &dst)) return Fail(err, FALSE);
  struct stat srcSt, dstSt;
  if (::lstat(src.host.c_str(), &srcSt) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno, NotFoundError(src)), FALSE);
  if (::lstat(dst.host.c_str(), &dstSt) == 0) {
    bool sameFile = srcSt.st_dev == dstSt.st_dev && srcSt.st_ino == dstSt.st_ino;
    if (!sameFile) {
      if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
      // Windows replaces neither a directory nor a read-only file, and moves
      // no directory over a file.
      if (S_ISDIR(dstSt.st_mode) || S_ISDIR(srcSt.st_mode) ||
          emulated::IsReadOnlyMode(dstSt.st_mode))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    std::string target = dst.host;
    if (sameFile) {
      // The same file under another spelling: a change of letter case. The
      // drive map found the existing name; the new one is the name as given.
      target = dst.host.substr(0, dst.host.rfind('/') + 1) +
               dst.dos.substr(emulated::LastSeparator(dst.dos) + 1);
    }
    if (::rename(src.host.c_str(), target.c_str()) != 0)
      return Fail(emulated::Win32ErrorFromErrno(errno), FALSE);
    return TRUE;
  }
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  // Without replacing, a target that appears meanwhile must not be lost.
  int r = ::renameat2(AT_FDCWD, src.host.c_str(), AT_FDCWD, dst.host.c_str(),
                      (flags & MOVEFILE_REPLACE_EXISTING) ? 0 : RENAME_NOREPLACE);
  if (r != 0 && (errno == EINVAL || errno == ENOSYS) && !(flags & MOVEFILE_REPLACE_EXISTING)) {
    // A file system without RENAME_NOREPLACE: a hard link refuses an
    // existing target the same way (files only).
    if (!S_ISDIR(srcSt.st_mode) && ::link(src.host.c_str(), dst.host.c_str()) == 0) {
      ::unlink(src.host.c_str());
      return TRUE;
    }
    if (S_ISDIR(srcSt.st_mode)) r = ::rename(src.host.c_str(), dst.host.c_str());
  }
  // Across host file systems (C: and Z: may be two) rename gives EXDEV:
  // the machine moves by renaming only, it does not copy.
  if (r != 0) return Fail(emulated::Win32ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND), FALSE);
  return TRUE;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData) return emulated::Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  auto* search = new emulated::FindResults;
  if (DWORD err = emulated::FindFiles(lpFileName, search)) {
    delete search;
    return emulated::Fail(err, INVALID_HANDLE_VALUE);
  }
  FillFindData(search->entries[search->next++], lpFindFileData);
  emulated::LiveSearches().insert(search);
  return search;
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  auto* search = static_cast<emulated::FindResults*>(hFindFile);
  if (!emulated::LiveSearches().count(search) || !lpFindFileData)
    return emulated::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (search->next >= search->entries.size())
    return emulated::Fail(emulated::kErrorNoMoreFiles, FALSE);
  FillFindData(search->entries[search->next++], lpFindFileData);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  auto* search = static_cast<emulated::FindResults*>(hFindFile);
  if (!emulated::LiveSearches().erase(search)) return emulated::Fail(ERROR_INVALID_HANDLE, FALSE);
  delete search;
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName) return emulated::Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(lpFileName, &m))
    return emulated::Fail(err, INVALID_FILE_ATTRIBUTES);
  struct stat st;
  if (DWORD err = StatMapped(m, &st)) return emulated::Fail(err, INVALID_FILE_ATTRIBUTES);
  if (m.endsInSeparator && !m.isRoot && !S_ISDIR(st.st_mode))
    return emulated::Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return emulated::AttributesOf(m.host, st);
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  using emulated::Fail;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(lpFileName, &m)) return Fail(err, FALSE);
  struct stat st;
  if (DWORD err = StatMapped(m, &st)) return Fail(err, FALSE);
  // FILE_ATTRIBUTE_NORMAL alone clears everything; beside others it is
  // ignored, and so is the directory bit.
  DWORD wanted = dwFileAttributes == FILE_ATTRIBUTE_NORMAL ? 0 : dwFileAttributes;
  mode_t mode = st.st_mode & 07777;
  mode_t newMode = mode;
  if (wanted & FILE_ATTRIBUTE_READONLY) {
    newMode = mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if (emulated::IsReadOnlyMode(mode)) {
    // Writable again as a new file would be: the owner, and whoever else the
    // umask lets write; never more.
    mode_t mask = ::umask(0);
    ::umask(mask);
    newMode = mode | S_IWUSR | ((S_IWGRP | S_IWOTH) & ~mask);
  }
  if (newMode != mode && ::chmod(m.host.c_str(), newMode) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno), FALSE);
  if (!emulated::WriteDosAttrib(m.host, !S_ISDIR(st.st_mode), wanted & emulated::kXattrBits))
    return Fail(emulated::Win32ErrorFromErrno(errno), FALSE);
  return TRUE;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveImpl(lpExistingFileName, lpNewFileName, 0);
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  return MoveImpl(lpExistingFileName, lpNewFileName, dwFlags);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  using emulated::Fail;
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(lpFileName, &m)) return Fail(err, FALSE);
  struct stat st;
  if (::lstat(m.host.c_str(), &st) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno, NotFoundError(m)), FALSE);
  // Windows deletes neither a directory nor a read-only file.
  if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && emulated::IsReadOnlyMode(st.st_mode)))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::unlink(m.host.c_str()) != 0) return Fail(emulated::Win32ErrorFromErrno(errno), FALSE);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
  using emulated::Fail;
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(lpPathName, &m)) return Fail(err, FALSE);
  if (m.isRoot) return Fail(ERROR_ALREADY_EXISTS, FALSE);
  if (::mkdir(m.host.c_str(), 0777) != 0)
    return Fail(emulated::Win32ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND), FALSE);
  return TRUE;
}
