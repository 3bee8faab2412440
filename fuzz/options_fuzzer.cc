// The option grammar with the production operations. An input is a flag byte
// and the words of a command line separated by NUL bytes. Flag bit 0: Windows
// 98; bit 1: a registry call fails (bits 2-5 choose which, bits 6-7 how many
// times in a row), so that every operation's failure paths are reached. A
// first word that starts the command interpreter (-run, a program name) or
// any word naming Z:, the host's root, is skipped: those would run or delete
// what the input names.
#include <cstdint>
#include <string>

#include "cli/driver.h"
#include "detect/tex_detect.h"
#include "env/pathlist.h"
#include "machine.h"
#include "registry/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCalls[] = {"RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA",
                                       "RegSetValueExA", "RegDeleteValueA", "RegEnumKeyExA",
                                       "RegQueryInfoKeyA", "RegCloseKey", "SHDeleteKeyA", "*"};
  static qmfuzz::Machine m;
  static const bool ready = [] {
    ::setenv("Path", "C:\\WINDOWS;C:\\a", 1);
    m.Write("AUTOEXEC.BAT", "@echo off\r\nset Path=\"C:\\a;%Path%\"\r\nwin\r\n");
    m.Write("CONFIG.SYS", "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nFILES=40\r\n");
    m.Write("in.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n\"Path\"=\"C:\\\\a\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Fuzz]\r\n\"list\"=hex(2):43,3a,5c,61,3b,43,3a,5c,61,62,00\r\n"
            "\"num\"=dword:00000001\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fuzz\\1.0]\r\n\"v\"=\"one\"\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Fuzz\\I]\r\n\"s\"=\"x\"\r\n");
    if (qm::ProcessRegFile("C:\\in.reg", qm::RegFileMode::Import) != 0) std::abort();
    m.Keep();
    return std::freopen("/dev/null", "w", stdout) != nullptr;
  }();
  if (size == 0 || !ready) return 0;
  auto words = qmfuzz::Split(data + 1, size - 1);
  if (words[0].empty() || std::string("+-=").find(words[0][0]) == std::string::npos || words[0] == "-run")
    return 0;
  for (const std::string& w : words)
    if (w.find("z:") != std::string::npos || w.find("Z:") != std::string::npos) return 0;
  if (data[0] & 1) ::setenv("QUILLMARK_WINVER", "win98", 1);
  if (data[0] & 2) emulated::InjectRegistryFault(kCalls[((data[0] >> 2) & 15) % 10], 5, 1 + (data[0] >> 6));
  qm::RunQuillmark(words);
  ::unsetenv("QUILLMARK_WINVER");
  qm::PathListBuffer.clear();
  qm::EnvironmentChanged = qm::LastMiKTeXKind = 0;
  m.Restore();  // also drops a fault the run did not use up
  return 0;
}
