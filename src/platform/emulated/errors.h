// The emulated machine's Win32 error codes: the thread's last error, and the
// translation of host errno values into the codes Windows gives for the same
// situation.
#pragma once

#include "platform/emulated/win32_emulated.h"

namespace emulated {

// Error codes Windows uses that the program itself never names.
constexpr DWORD kErrorNoMoreFiles = 18;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorDirectory = 267;  // "The directory name is invalid."
constexpr DWORD kErrorInvalidFlags = 1004;
constexpr DWORD kErrorInvalidWindowHandle = 1400;

// The Win32 code for a host errno value. `notFound` is what ENOENT means at
// the call site: ERROR_FILE_NOT_FOUND when the containing directory exists,
// ERROR_PATH_NOT_FOUND otherwise.
DWORD Win32ErrorFromErrno(int err, DWORD notFound = ERROR_FILE_NOT_FOUND);

// Sets the last error and returns `result`, for one-line failure returns.
template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

}  // namespace emulated
