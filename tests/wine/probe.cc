// A Windows program for the Wine tests: it shows what a run of quillmark.exe
// did to the rest of the machine.
//
//   probe listen LOGFILE   owns a hidden top-level window and appends a line
//                          "WM_SETTINGCHANGE <lParam text>" to LOGFILE for
//                          every WM_SETTINGCHANGE it receives; prints "ready"
//                          once the window exists; ends when its standard
//                          input ends (or after ten minutes)
//   probe hold SECONDS     takes the machine's turn as quillmark.exe does,
//                          prints "ready", keeps it SECONDS and ends without
//                          giving it back, so that the turn is left abandoned
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/machine_turn.h"

namespace {

constexpr DWORD kListenAtMostMs = 600000;
FILE* logFile = nullptr;
DWORD listenerThread = 0;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTINGCHANGE) {
    const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "(null)";
    std::fprintf(logFile, "WM_SETTINGCHANGE %s\n", text);
    std::fflush(logFile);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Waits for the end of standard input, then ends the message loop.
DWORD WINAPI WatchInput(void*) {
  char buffer[64];
  DWORD got = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  PostThreadMessageA(listenerThread, WM_QUIT, 0, 0);
  return 0;
}

int Listen(const char* path) {
  logFile = std::fopen(path, "ab");
  if (!logFile) return 2;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuillmarkProbe";
  if (!RegisterClassA(&windowClass)) return 3;
  // Top-level (a broadcast reaches only those) and never shown.
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "probe", WS_OVERLAPPEDWINDOW, 0, 0,
                                100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) return 4;
  listenerThread = GetCurrentThreadId();
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
  HANDLE watcher = CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
  if (!watcher) return 5;
  SetTimer(window, 1, kListenAtMostMs, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) break;
    DispatchMessageA(&message);
  }
  std::fclose(logFile);
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
