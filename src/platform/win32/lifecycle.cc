// The run's turn on the machine, and its end. On Windows the registry keeps
// every change as it is made: nothing is left to commit when a run ends.
#include "platform/lifecycle.h"

#include <cstdio>

#include "platform/win32/machine_turn.h"

namespace port {
namespace {

// How long a run waits for another that keeps the machine. A run takes well
// under a second; one that keeps the turn this long hangs, and an installer
// must not hang with it.
constexpr DWORD kTurnWaitMs = 30000;

struct Turn {
  bool asked = false;      // TakeMachineTurn has run in this run
  HANDLE mutex = nullptr;  // set while the run has the turn
};
Turn theTurn;

// One line on standard error: the result lines on standard output stay as
// they are, and whoever reads them is not misled about the run's result.
void SayNoTurn(const char* what, DWORD error) {
  std::fprintf(stderr, "quillmark: %s (error %lu); going on without it\n", what, error);
  std::fflush(stderr);
}

}  // namespace

// The turn spans every option from the first that may work on the machine to
// the end of the run, not each operation alone: the options of one run see
// one machine that no other run changes under them, and a list (Path) is
// never read by one run while another has read it and not yet written it
// back, which would lose one of the two updates. The launcher and -run never
// take the turn, so a program they start that itself runs Quillmark cannot
// wait for the run that started it.
//
// A run never fails for want of the turn: when it cannot be had, the run goes
// on as runs did before there were turns.
void TakeMachineTurn() {
  if (theTurn.asked) return;
  theTurn.asked = true;
  HANDLE mutex = win32::OpenMachineTurn();
  if (!mutex) {
    SayNoTurn("the machine's turn could not be opened", GetLastError());
    return;
  }
  switch (WaitForSingleObject(mutex, kTurnWaitMs)) {
    case WAIT_OBJECT_0:
    // The run that had the turn ended without giving it back (killed, or it
    // crashed). Each registry value it wrote is whole, so the machine is as
    // that run left it; the turn is ours.
    case WAIT_ABANDONED:
      theTurn.mutex = mutex;
      return;
    case WAIT_TIMEOUT:
      std::fprintf(stderr,
                   "quillmark: another run has kept the machine for %lu s; going on without "
                   "waiting for it\n",
                   kTurnWaitMs / 1000);
      std::fflush(stderr);
      break;
    default:
      SayNoTurn("the machine's turn could not be waited for", GetLastError());
  }
  CloseHandle(mutex);
}

long FinishRun() {
  if (theTurn.mutex) {
    ReleaseMutex(theTurn.mutex);
    CloseHandle(theTurn.mutex);
  }
  theTurn = Turn{};
  return 0;
}

}  // namespace port
