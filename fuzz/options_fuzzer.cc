// libFuzzer target: the option grammar. An input is one flag byte and then
// the words of a command line separated by NUL bytes; the words go into the
// driver with the production operations, on an emulated machine whose
// registry and startup files are put back after every input.
//
// Flag byte, bit 0: the machine is Windows 98 (else Windows 10); bit 1: a
// registry call fails (bits 2-5 choose which, bits 6-7 how many times in a
// row, 1 to 4), so that the failure paths of every operation are reached.
//
// Inputs whose first word hands the run to the launcher (a .bat or .exe
// name) or to -run are skipped: both start the command interpreter with a
// text from the input, and the launcher deletes a file by that name. Their
// grammar is a single test of the first word, covered by the driver's and
// launcher's tests. So are inputs naming drive Z:, the host's root, where a
// path such as Z:\dev\zero would never end.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "detect/tex_detect.h"
#include "env/envstore.h"
#include "env/pathlist.h"
#include "fuzz_machine.h"
#include "text/codepage.h"

namespace {

constexpr const char* kFaultCalls[] = {
    "RegOpenKeyExA",  "RegCreateKeyExA",  "RegQueryValueExA", "RegSetValueExA",
    "RegDeleteValueA", "RegEnumKeyExA",   "RegEnumValueA",    "RegQueryInfoKeyA",
    "RegCloseKey",    "RegDeleteKeyA",    "SHDeleteKeyA",     "*",
};
constexpr long kFaultError = 5;  // ERROR_ACCESS_DENIED
constexpr unsigned kRunsPerReset = 1024;

constexpr char kAutoexec[] =
    "@echo off\r\nset PATH=C:\\WINDOWS;C:\\a\r\n\r\nset Path=\"C:\\a;%Path%\"\r\nwin\r\n";
constexpr char kConfig[] = "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nFILES=40\r\n";
constexpr char kRegFile[] =
    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fuzz\\Imported]\r\n\"s\"=\"x\"\r\n"
    "\"d\"=dword:00000001\r\n";

bool EndsWithProgramExtension(const std::string& word) {
  if (word.size() < 4) return false;
  std::string ext = word.substr(word.size() - 4);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == ".bat" || ext == ".exe";
}

bool StartsCommandInterpreter(const std::vector<std::string>& words) {
  if (words.empty()) return false;
  const std::string& first = words[0];
  if (first == "-run") return true;
  const bool signed_ = !first.empty() && (first[0] == '+' || first[0] == '-' || first[0] == '=');
  return !signed_ && EndsWithProgramExtension(first);
}

bool NamesHostDrive(const std::vector<std::string>& words) {
  for (const std::string& w : words)
    if (w.find("z:") != std::string::npos || w.find("Z:") != std::string::npos) return true;
  return false;
}

class OptionsMachine {
 public:
  OptionsMachine() {
    qmfuzz::SilenceStdout();
    ResetFiles();
    using qmfuzz::SeedValue;
    auto sz = [](const char* text) { return std::string(text) + '\0'; };
    const char* sysEnv = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    SeedValue(HKEY_LOCAL_MACHINE, sysEnv, "Path", REG_EXPAND_SZ,
              sz("C:\\WINDOWS;C:\\WINDOWS\\system32"));
    SeedValue(HKEY_CURRENT_USER, "Environment", "Path", REG_SZ, sz("C:\\a"));
    SeedValue(HKEY_CURRENT_USER, "Environment", "TEXINPUTS", REG_SZ, sz(".;C:\\tex"));
    SeedValue(HKEY_CURRENT_USER, "Software\\Fuzz", "list", REG_SZ, sz("C:\\a;C:\\ab"));
    SeedValue(HKEY_CURRENT_USER, "Software\\Fuzz", "num", REG_DWORD, std::string("\1\0\0\0", 4));
    SeedValue(HKEY_CURRENT_USER, "Software\\Fuzz", "", REG_SZ, sz("C:\\tex\\bin"));
    SeedValue(HKEY_CURRENT_USER, "Software\\Fuzz\\1.0", "v", REG_SZ, sz("one"));
    SeedValue(HKEY_CURRENT_USER, "Software\\Fuzz\\2.0", "v", REG_SZ, sz("two"));
    machine_.Checkpoint();
    if (::chdir((machine_.drive() + "/work/src").c_str()) != 0) std::abort();
  }

  void Run(const uint8_t* data, size_t size) {
    if (size == 0) return;
    std::vector<std::string> words =
        qmfuzz::SplitWords(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (StartsCommandInterpreter(words) || NamesHostDrive(words)) return;
    machine_.UseWindows98((data[0] & 1) != 0);
    const char* fault = nullptr;
    if ((data[0] & 2) != 0) {
      fault = kFaultCalls[((data[0] >> 2) & 15) % std::size(kFaultCalls)];
      emulated::InjectRegistryFault(fault, kFaultError, 1 + (data[0] >> 6));
    }

    qm::RunQuillmark(words);

    // A fault the run did not use up must not reach the next input.
    if (fault != nullptr)
      while (emulated::TakeInjectedFault(fault) != ERROR_SUCCESS) {
      }

    // Everything a run may have changed, back as it was.
    machine_.RollBack();
    qm::PathListBuffer.clear();
    qm::EnvironmentChanged = 0;
    qm::LastMiKTeXKind = 0;
    text::SetLocale("C");
    ResetFiles();
    // The machine keeps every fault it was given; a fresh start now and then
    // keeps the list short.
    if (++runs_ % kRunsPerReset == 0) emulated::ResetMachine();
  }

 private:
  void ResetFiles() {
    machine_.WriteHost("AUTOEXEC.BAT", kAutoexec);
    machine_.WriteHost("CONFIG.SYS", kConfig);
    machine_.WriteHost("in.reg", kRegFile);
    for (const char* name : {"AUTOEXEC.BAT", "CONFIG.SYS"}) {
      const std::string dos = std::string("C:\\") + name;
      SetFileAttributesA(dos.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    }
    // Whatever else a run left at the root (temporary files, backups, in
    // whatever letter case) goes.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.drive(), ec)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name != "AUTOEXEC.BAT" && name != "CONFIG.SYS" &&
          name != "in.reg" && name != "f.txt")
        std::filesystem::remove(entry.path(), ec);
    }
    std::filesystem::remove(machine_.dir() + "/broadcast.log", ec);
  }

  qmfuzz::FuzzMachine machine_;
  unsigned runs_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static OptionsMachine machine;
  machine.Run(data, size);
  return 0;
}
