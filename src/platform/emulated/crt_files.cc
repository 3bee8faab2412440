// The C runtime's file and directory calls on the emulated machine: DOS paths
// through the drive map, and the results the Windows C runtime gives (errno
// values included).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/crt.h"
#include "platform/emulated/drives.h"
#include "platform/emulated/errors.h"
#include "platform/emulated/files.h"

namespace {

constexpr unsigned kFindAttribMask =
    crt::A_RDONLY | crt::A_HIDDEN | FILE_ATTRIBUTE_SYSTEM | crt::A_SUBDIR | crt::A_ARCH;

int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case emulated::kErrorNoMoreFiles:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
      return ENOMEM;
    default:
      return EINVAL;
  }
}

// The live _findfirst handles, so that a stale handle is refused.
std::set<emulated::FindResults*>& LiveSearches() {
  static std::set<emulated::FindResults*> live;
  return live;
}

void FillFindData(const emulated::FindEntry& e, crt::finddata_t* data) {
  // _A_NORMAL is 0 in the C runtime, where Windows says 0x80.
  data->attrib = e.attributes & kFindAttribMask;
  data->size = S_ISDIR(e.st.st_mode) ? 0 : static_cast<long long>(e.st.st_size);
  std::memcpy(data->name, e.name.c_str(), e.name.size() + 1);
}

}  // namespace

namespace crt {

FILE* fopen(const char* path, const char* mode) {
  if (!path || !mode || !*path) {
    errno = EINVAL;
    return nullptr;
  }
  // Binary underneath: the text-stream rules belong to text/textstream.h.
  // Close-on-exec, so that a started program does not inherit the file.
  std::string hostMode;
  for (const char* m = mode; *m; ++m)
    if (std::strchr("rwa+bx", *m)) hostMode += *m;
  if (hostMode.empty() || !std::strchr("rwa", hostMode[0])) {
    errno = EINVAL;
    return nullptr;
  }
  hostMode += 'e';
  bool writes = hostMode.find_first_of("wa+") != std::string::npos;

  emulated::MappedPath m;
  if (DWORD err = emulated::MapPath(path, &m)) {
    errno = ErrnoFromWin32(err);
    return nullptr;
  }
  struct stat st;
  if (::stat(m.host.c_str(), &st) == 0) {
    // Windows opens no directory as a file and writes no read-only file,
    // even for an administrator.
    if (S_ISDIR(st.st_mode) || (writes && emulated::IsReadOnlyMode(st.st_mode))) {
      errno = EACCES;
      return nullptr;
    }
  } else if (!m.parentExists || m.isRoot) {
    errno = ENOENT;
    return nullptr;
  }
  return ::fopen(m.host.c_str(), hostMode.c_str());
}

intptr_t findfirst(const char* pattern, finddata_t* data) {
  if (!data) {
    errno = EINVAL;
    return -1;
  }
  auto* search = new emulated::FindResults;
  if (DWORD err = emulated::FindFiles(pattern, search)) {
    delete search;
    errno = ErrnoFromWin32(err);
    return -1;
  }
  FillFindData(search->entries[search->next++], data);
  LiveSearches().insert(search);
  return reinterpret_cast<intptr_t>(search);
}

int findnext(intptr_t handle, finddata_t* data) {
  auto* search = reinterpret_cast<emulated::FindResults*>(handle);
  if (!LiveSearches().count(search) || !data) {
    errno = EINVAL;
    return -1;
  }
  if (search->next >= search->entries.size()) {
    errno = ENOENT;
    return -1;
  }
  FillFindData(search->entries[search->next++], data);
  return 0;
}

int findclose(intptr_t handle) {
  auto* search = reinterpret_cast<emulated::FindResults*>(handle);
  if (!LiveSearches().erase(search)) {
    errno = EINVAL;
    return -1;
  }
  delete search;
  return 0;
}

char* getcwd(char* buffer, int size) {
  std::string cwd = emulated::CurrentDosDirectory();
  if (cwd.empty()) {
    errno = ErrnoFromWin32(GetLastError());
    return nullptr;
  }
  size_t needed = cwd.size() + 1;
  if (!buffer) {
    // As the Windows C runtime: a buffer of at least `size` bytes is
    // allocated for the caller to free.
    size_t bytes =
        size > 0 && static_cast<size_t>(size) > needed ? static_cast<size_t>(size) : needed;
    buffer = static_cast<char*>(std::malloc(bytes));
    if (!buffer) {
      errno = ENOMEM;
      return nullptr;
    }
  } else if (size <= 0 || static_cast<size_t>(size) < needed) {
    errno = ERANGE;
    return nullptr;
  }
  std::memcpy(buffer, cwd.c_str(), needed);
  return buffer;
}

int chdir(const char* path) {
  if (!path) {
    errno = EINVAL;
    return -1;
  }
  if (!SetCurrentDirectoryA(path)) {
    errno = ErrnoFromWin32(GetLastError());
    return -1;
  }
  return 0;
}

int unlink(const char* path) {
  if (!path) {
    errno = EINVAL;
    return -1;
  }
  if (!DeleteFileA(path)) {
    errno = ErrnoFromWin32(GetLastError());
    return -1;
  }
  return 0;
}

}  // namespace crt
