// The emulated machine's life cycle, for main() and for tests.
//
// The machine is opened on first use from QUILLMARK_PREFIX (default
// $HOME/.quillmark), created and seeded if new. A run's registry changes form
// one transaction, begun (BEGIN IMMEDIATE) at the run's first registry call and
// committed by FinishRun(); a run that is killed leaves the store as it was.
#pragma once

#include <string>

namespace emulated {

// The host directory of the prefix in use ("" before first use).
std::string PrefixDirectory();

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
