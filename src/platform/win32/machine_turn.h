// The machine's turn on Windows: one named mutex that every run of the
// program on the machine waits for before it works on the registry or the
// startup files. Whatever else takes turns with the program (the test probe)
// opens it through this header, so that the name and the way it is opened
// are the same everywhere.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace port::win32 {

// The mutex's name in a session's namespace; where the system has a global
// namespace, the name used is "Global\\" followed by this. Every version of
// the program must use the same name, or their runs no longer take turns.
inline constexpr char kMachineTurnName[] = "Quillmark.MachineTurn";

// Opens the machine's turn mutex, creating it if no run has it open: in the
// global namespace, so that every session and every user on the machine (an
// elevated installer and the user's own runs alike) share one; in the
// session's namespace when the global one cannot be had; under the plain name
// on Windows 9x, which has neither namespaces nor security. Returns NULL, with
// the reason in GetLastError(), when no mutex could be had at all.
HANDLE OpenMachineTurn();

}  // namespace port::win32
