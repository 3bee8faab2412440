#include "env/envstore.h"

#include <cstring>

#include "platform/win32api.h"
#include "registry/registry.h"
#include "text/output.h"

namespace qm {

std::uint8_t EnvironmentChanged = 0;

namespace {

constexpr char kSystemEnvironmentKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr char kUserEnvironmentKey[] = "Environment";

// The top bit of the version word is set on Windows 95, 98 and ME.
constexpr DWORD kWindows9xVersionBit = 0x80000000;

// How long the broadcast waits for a window that does not answer.
constexpr UINT kBroadcastTimeoutMs = 5000;

constexpr char kRebootRequest[] =
    "You should reboot your computer to enable the change to the environment table!\n";

// The result for a variable that cannot be read, stored or deleted, as the
// registry gives it for its value.
constexpr int kNoSuchVariable = kValueFailed;

struct ScopeKey {
  HKEY root;
  const char* subkey;
};

// Any nonzero scope byte means the current user's variables.
ScopeKey KeyOf(EnvScope scope) {
  if (scope != EnvScope::System) return {HKEY_CURRENT_USER, kUserEnvironmentKey};
  return {HKEY_LOCAL_MACHINE, kSystemEnvironmentKey};
}

}  // namespace

bool IsWindowsNT() {
  return (GetVersion() & kWindows9xVersionBit) == 0;
}

int GetEnvironmentValue(std::string& out, std::string_view name, EnvScope scope) {
  // An empty name would address the key's unnamed value, which is no
  // variable: a variable always has a name.
  if (name.empty()) return kNoSuchVariable;
  const ScopeKey key = KeyOf(scope);
  int status = ReadRegistryString(out, key.root, key.subkey, name);
  // The registry hands back the stored bytes, terminator included; the
  // variable is the text before it.
  if (status == 0) out.resize(std::strlen(out.c_str()));
  return status;
}

int SetEnvironmentValue(std::string_view text, std::string_view name, EnvScope scope) {
  if (name.empty()) return kNoSuchVariable;
  const ScopeKey key = KeyOf(scope);
  // A rewrite keeps an existing REG_EXPAND_SZ: a system Path turned into
  // REG_SZ would leave every %SystemRoot% entry in it unexpanded.
  int status = RewriteRegistryString(text, key.root, key.subkey, name);
  if (status == 0) EnvironmentChanged = 1;
  return status;
}

int DeleteEnvironmentValue(std::string_view name, EnvScope scope) {
  if (name.empty()) return kNoSuchVariable;
  const ScopeKey key = KeyOf(scope);
  int status = DeleteRegistryValue(key.root, key.subkey, name);
  if (status == 0) EnvironmentChanged = 1;
  return status;
}

void BroadcastEnvironmentChange() {
  if (EnvironmentChanged == 0) return;
  if (!IsWindowsNT()) {
    text::Print(kRebootRequest);
    return;
  }
  static const char kSection[] = "Environment";
  DWORD_PTR result = 0;
  // Neither the call's result nor the answer matters: windows that do not
  // answer in time are simply left behind.
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(kSection),
                      SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, &result);
}

}  // namespace qm
