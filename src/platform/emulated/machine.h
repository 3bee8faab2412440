// The emulated machine's life cycle, for main() and for tests.
//
// The machine is opened on first use from QUILLMARK_PREFIX (default
// $HOME/.quillmark), created and seeded if new. A run's registry changes form
// one transaction, begun (BEGIN IMMEDIATE) when the run takes its turn on the
// machine (port::TakeMachineTurn) or at its first registry call, and
// committed by FinishRun(); a run that is killed leaves the store as it was.
#pragma once

#include <string>

namespace emulated {

// The host directory of the prefix in use, made (with drive_c and
// drive_c/windows/system32) if it is new; "" when it cannot be made.
std::string PrefixDirectory();

// Commits the run's registry changes so far, so that a program the run
// starts (crt::system) sees them and can change the registry itself; the
// run's next registry call begins a new transaction. Returns 0 or the Win32
// error that stopped the commit (the run's later registry calls then fail).
long CommitPendingRun();

// Commits the run's registry transaction and closes the store. Returns 0, or
// a Win32 error code when the commit failed (nothing of the run was kept).
long FinishRun();

// Tests: drop every open handle and cached state, roll back nothing (commits
// first), and make the next call open the prefix named by QUILLMARK_PREFIX anew.
void ResetMachine();

// Tests: make the next registry call matching `call` ("RegSetValueExA", ...,
// or "*" for any) fail with `error`, `count` times. Nothing with count 0.
void InjectRegistryFault(const std::string& call, long error, int count);

}  // namespace emulated
