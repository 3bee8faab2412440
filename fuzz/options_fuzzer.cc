// The option grammar with the production operations. An input is a flag byte
// and the words of a command line separated by NUL bytes. Flag bit 0: the
// machine is Windows 98; bit 1: a registry call fails (bits 2-5 choose which,
// bits 6-7 how many times in a row), so that every operation's failure paths
// are reached. A first word that starts the command interpreter (-run, a
// .bat/.exe name) or any word naming Z:, the host's root, is skipped: those
// would run or delete what the input names.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "cli/driver.h"
#include "detect/tex_detect.h"
#include "env/pathlist.h"
#include "machine.h"

namespace {

const char* const kCalls[] = {"RegOpenKeyExA",    "RegCreateKeyExA", "RegQueryValueExA",
                              "RegSetValueExA",   "RegDeleteValueA", "RegEnumKeyExA",
                              "RegQueryInfoKeyA", "RegCloseKey",     "SHDeleteKeyA", "*"};

void Seed(const char* subkey, const char* name, DWORD type, const std::string& data, HKEY root) {
  HKEY key = nullptr;
  RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

qmfuzz::Machine& TheMachine() {
  static qmfuzz::Machine m;
  static bool seeded = [] {
    ::setenv("windir", "C:\\WINDOWS", 1);
    ::setenv("ComSpec", "C:\\COMMAND.COM", 1);
    ::setenv("Path", "C:\\WINDOWS;C:\\a", 1);
    m.Write("AUTOEXEC.BAT", "@echo off\r\nset Path=\"C:\\a;%Path%\"\r\nwin\r\n");
    m.Write("CONFIG.SYS", "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nFILES=40\r\n");
    m.Write("in.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fuzz\\I]\r\n\"s\"=\"x\"\r\n");
    Seed("Environment", "Path", REG_SZ, std::string("C:\\a", 5), HKEY_CURRENT_USER);
    Seed("Software\\Fuzz", "list", REG_EXPAND_SZ, std::string("C:\\a;C:\\ab", 10), HKEY_CURRENT_USER);
    Seed("Software\\Fuzz", "num", REG_DWORD, std::string("\1\0\0\0", 4), HKEY_CURRENT_USER);
    Seed("Software\\Fuzz\\1.0", "v", REG_SZ, std::string("one", 4), HKEY_CURRENT_USER);
    m.Keep();
    if (::chdir(m.Host("work/src").c_str()) != 0) std::abort();
    return std::freopen("/dev/null", "w", stdout) != nullptr;  // a result line per input
  }();
  (void)seeded;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Machine& machine = TheMachine();
  if (size == 0) return 0;
  auto words = qmfuzz::Split(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string& first = words[0];
  if (first.empty() || std::string("+-=").find(first[0]) == std::string::npos || first == "-run")
    return 0;
  for (const std::string& w : words)
    if (w.find("z:") != std::string::npos || w.find("Z:") != std::string::npos) return 0;
  if (data[0] & 1) ::setenv("QUILLMARK_WINVER", "win98", 1);
  if (data[0] & 2)
    emulated::InjectRegistryFault(kCalls[((data[0] >> 2) & 15) % 10], 5, 1 + (data[0] >> 6));
  qm::RunQuillmark(words);
  ::unsetenv("QUILLMARK_WINVER");
  qm::PathListBuffer.clear();
  qm::EnvironmentChanged = 0;
  qm::LastMiKTeXKind = 0;
  machine.Restore();  // also drops a fault the run did not use up
  return 0;
}
