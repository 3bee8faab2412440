// The rewriters of autoexec.bat and CONFIG.SYS on Windows 98. An input is:
// op, flags, VALUE, NUL, CURRENT, NUL, NAME, NUL, FILE. op % 3: 0 removes
// the set lines of VALUE from NAME, 1 appends one, 2 sets the environment
// size to VALUE (as a number). FILE is autoexec.bat or CONFIG.SYS. Flags bit
// 0: placement End; bit 1: the process has a Path; bit 2: it has NAME =
// CURRENT; bit 3: the file is read-only; bit 4: there is none; bit 5: code
// page 936 (else the C locale). Checked: a failure leaves the file exactly
// as it was (or missing) and nothing else behind, no temporary file is ever
// left, and a new size keeps the old CONFIG.SYS as its backup.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "env/startup_files.h"
#include "machine.h"
#include "text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qmfuzz::Machine machine;
  static const bool ready = [] {
    ::setenv("QUILLMARK_WINVER", "win98", 1);
    machine.Keep();
    return true;
  }();
  if (size < 2 || !ready) return 0;
  const int op = data[0] % 3, flags = data[1];
  auto parts = qmfuzz::Split(data + 2, size - 2);
  parts.resize(4);
  const std::string &value = parts[0], &name = parts[2], &content = parts[3];
  const std::string file = op == 2 ? "CONFIG.SYS" : "AUTOEXEC.BAT";
  machine.Restore();
  text::SetLocale(flags & 32 ? "chinese-simplified" : "C");
  ::unsetenv("Path");
  ::unsetenv("PATH");
  if (flags & 2) ::setenv("Path", "C:\\WINDOWS", 1);
  const bool named = (flags & 4) && !name.empty() && name.find('=') == std::string::npos;
  const bool missing = flags & 16;
  if (named) ::setenv(name.c_str(), parts[1].c_str(), 1);
  if (!missing) machine.Write(file, content);
  if (!missing && (flags & 8))
    std::filesystem::permissions(machine.Host(file), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);

  const auto placement = flags & 1 ? qm::PathPlacement::End : qm::PathPlacement::Start;
  const int status = op == 0 ? qm::RemoveAutoexecSetLines(value, name)
                     : op == 1 ? qm::AppendAutoexecSetLine(value, name, placement)
                               : qm::SetEnvironmentSize(std::atoi(value.substr(0, 9).c_str()));
  if (named) ::unsetenv(name.c_str());
  const bool exists = std::filesystem::exists(machine.Host(file));
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(machine.Host(""))) {
    if (e.path().extension() == ".tmp" || e.path().extension() == ".old") std::abort();
    files += e.is_regular_file();
  }
  if (status != 0 && (missing ? exists : machine.Read(file) != content) + (files != !missing))
    std::abort();
  if (status == 0 && op == 2 && !content.empty() && machine.Read("CONFIG.SYS.bak") != content)
    std::abort();
  return 0;
}
