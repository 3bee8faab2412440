// A Windows program for the Wine tests: what a run of quillmark.exe did to the rest of the machine.
//   probe listen LOGFILE  a hidden top-level window appends "WM_SETTINGCHANGE <lParam text>" to
//                         LOGFILE for each WM_SETTINGCHANGE; prints "ready" once it exists
//   probe hold SECONDS    takes the machine's turn as quillmark.exe does, prints "ready", keeps it
//                         SECONDS and ends without giving it back: the turn is left abandoned
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/machine_turn.h"

namespace {

FILE* logFile = nullptr;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_SETTINGCHANGE) return DefWindowProcA(window, message, wParam, lParam);
  std::fprintf(logFile, "WM_SETTINGCHANGE %s\n", lParam ? reinterpret_cast<const char*>(lParam) : "(null)");
  std::fflush(logFile);
  return 0;
}

int Listen(const char* path) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.lpszClassName = "QuillmarkProbe";
  // Top-level (a broadcast reaches only those) and never shown.
  if (!(logFile = std::fopen(path, "ab")) || !RegisterClassA(&windowClass) ||
      !CreateWindowExA(0, "QuillmarkProbe", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                       nullptr, nullptr, nullptr))
    return 2;
  std::printf("ready\n");
  std::fflush(stdout);
  for (MSG message; GetMessageA(&message, nullptr, 0, 0) > 0;) DispatchMessageA(&message);
  return 0;
}

int Hold(DWORD seconds) {
  HANDLE turn = port::win32::OpenMachineTurn();
  if (!turn) return 2;
  DWORD waited = WaitForSingleObject(turn, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  Sleep(seconds * 1000);
  // Ends with the turn held: the system marks it abandoned.
  ExitProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "listen") == 0) return Listen(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0)
    return Hold(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
  std::fprintf(stderr, "usage: probe listen LOGFILE | probe hold SECONDS\n");
  return 1;
}
