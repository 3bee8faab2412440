// SendMessageTimeoutA: there are no windows on the emulated machine, so a
// broadcast is recorded in <prefix>/broadcast.log, one line per message, for
// tests and users to see what the program announced.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/emulated/errors.h"
#include "platform/emulated/machine.h"

namespace {

std::string MessageName(UINT msg) {
  if (msg == WM_SETTINGCHANGE) return "WM_SETTINGCHANGE";
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", msg);
  return buf;
}

}  // namespace

LRESULT SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM lParam, UINT /*fuFlags*/,
                            UINT /*uTimeout*/, PDWORD_PTR lpdwResult) {
  if (hWnd != HWND_BROADCAST) return emulated::Fail(emulated::kErrorInvalidWindowHandle, 0);
  std::string line = MessageName(Msg);
  if (lParam != 0) {
    line += ' ';
    line += reinterpret_cast<const char*>(lParam);
  }
  line += '\n';
  std::string prefix = emulated::PrefixDirectory();
  if (prefix.empty()) return emulated::Fail(ERROR_PATH_NOT_FOUND, 0);
  std::string log = prefix + "/broadcast.log";
  // One write with O_APPEND: lines of runs at the same time never interleave.
  int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return emulated::Fail(emulated::Win32ErrorFromErrno(errno), 0);
  ssize_t written = ::write(fd, line.data(), line.size());
  int err = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(line.size()))
    return emulated::Fail(
        written < 0 ? emulated::Win32ErrorFromErrno(err) : emulated::kErrorDiskFull, 0);
  if (lpdwResult) *lpdwResult = 0;
  return 1;
}
