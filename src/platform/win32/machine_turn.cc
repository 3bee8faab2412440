#include "platform/win32/machine_turn.h"

#include <sddl.h>

#include <string>

namespace port::win32 {
namespace {

// What every opener of the mutex needs: to wait for it (SYNCHRONIZE) and to
// release it (MUTEX_MODIFY_STATE), and nothing else.
constexpr DWORD kTurnAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Everyone (WD) may wait for the mutex and release it, so that a run by any
// user, elevated or not, in any session, takes turns with every other; no one
// but its creator may change its security. The default security of the
// creator's token would shut out every other user, and an elevated installer
// that made the mutex first would shut out the user's own runs. No mandatory
// label is set: both rights are read and execute rights of a mutex, which the
// default no-write-up policy grants to low-integrity processes too.
constexpr char kTurnSecurity[] = "D:P(A;;0x00100001;;;WD)";
static_assert(kTurnAccess == 0x00100001);

HANDLE OpenOrCreate(const char* name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kTurnSecurity, SDDL_REVISION_1,
                                                           &descriptor, nullptr))
    attributes.lpSecurityDescriptor = descriptor;
  HANDLE mutex = CreateMutexA(&attributes, FALSE, name);
  DWORD error = GetLastError();
  if (descriptor) LocalFree(descriptor);
  // CreateMutexA asks for every right on a mutex that exists already; the
  // security above gives the others only the two the turn needs.
  if (!mutex && error == ERROR_ACCESS_DENIED) return OpenMutexA(kTurnAccess, FALSE, name);
  SetLastError(error);
  return mutex;
}

}  // namespace

HANDLE OpenMachineTurn() {
  constexpr DWORD kWindows9xVersionBit = 0x80000000u;
  if (GetVersion() & kWindows9xVersionBit) return CreateMutexA(nullptr, FALSE, kMachineTurnName);
  const std::string global = std::string("Global\\") + kMachineTurnName;
  if (HANDLE mutex = OpenOrCreate(global.c_str())) return mutex;
  // No global namespace (Windows NT 4 without Terminal Services takes the
  // backslash for a bad name), or the global name taken by an object that is
  // no mutex or that we may not open: the session's own mutex still makes
  // the runs of this session take turns, which is where an installer and the
  // batch files it starts run.
  return OpenOrCreate(kMachineTurnName);
}

}  // namespace port::win32
