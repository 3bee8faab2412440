// Path lists, the environment store and the Windows 9x startup files where the scenarios do not
// reach: limits, failures that change nothing, double-byte letters, concurrent runs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "env/envstore.h"
#include "env/pathlist.h"
#include "env/startup_files.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/registry_store.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qm {
namespace {

using namespace std::string_literals;

TEST(PathList, Edges) {
  qmtest::TempPrefix prefix;
  const std::string z(32759, 'z'), p251(251, 'p'), d263 = "C:\\" + std::string(260, 'd'),
                    deep = "C:\\" + p251 + "\\" + p251;  // too deep to be fetched
  for (const std::string& d : {"C:\\a\\b"s, "C:\\ab"s, "C:\\x"s, "C:\\work\\src"s, deep}) prefix.MakeDir(d);
  // "<" adds at the start, ">" at the end, "-" removes, "=" resolves (1: done); then "9": in
  // code page 936, "r": from C:\ (which has no parent), "d": from deep (else from C:\work\src).
  const struct { const char* op; std::string list, paths; int result; std::string after; } kRows[] = {
      {"<", "C:\\abc", "C:\\ab", 0, "C:\\ab;C:\\abc"}, {">", "L;", "C:\\x", 0, "L;C:\\x"},
      {"<", ";L", "C:\\x", 0, "C:\\x;;L"}, {"<", "L", "C:\\none;C:\\;C:\\a*;" + d263, 0, "L"},
      {">", "L", "C:\\x;;C:\\ab", 1, "L;C:\\x;C:\\ab"}, {"-", "L", d263 + "d", 1, "L"},
      {">", "L", "C:\\x;" + d263 + "d", 1, "L;C:\\x"}, {"-", "C:\\;D:\\", "C:\\", 0, "D:\\"},
      // The list's limit: 3 after the list's own ";", 4 with a ";" of its own.
      {">", z, "C:\\a\\b", 0, z + ";C:\\a\\b"}, {">", z + "z", "C:\\a\\b", 4, z + "z"},
      {">", z + ";", "C:\\a\\b", 0, z + ";C:\\a\\b"}, {">", z + "z;", "C:\\a\\b", 3, z + "z;"},
      {"<", z, "C:\\a\\b", 0, "C:\\a\\b;" + z}, {"<", z + "z", "C:\\a\\b", 4, z + "z"},
      {"-", "C:\\a\\;D:\\x", "c:\\A", 0, "D:\\x"}, {"-", "a;b;a", "a", 0, "b;a"}, {"-", "a;b", "b", 0, "a"},
      {"-", "D:\\t\\b;C:\\ab", "t\\b;C:\\ab", 1, "D:\\t\\b"},
      {"-9", "C:\\\x81\x41;E", "C:\\\x81\x61;c:\\\x81\x41", 1, "E"},  // a trail byte is no letter
      {"=", "", ".\\x\\..\\bin;", 1, "C:\\work\\src\\bin"}, {"=r", "", "..\\bin", 1, "C:\\bin"},
      {"=", "", "C:\\a..b\\.\\c\\..\\d", 1, "C:\\a..b\\d"}, {"=d", "", ".", 0, "."},
      // Above the drive's root is the root: never a relative entry in a Path.
      {"=", "", "..\\..\\..\\x", 1, "C:\\x"}, {"=", "", "C:\\work\\..\\..\\x", 1, "C:\\x"},
      {"=", "", ".\\" + p251, 1, "C:\\work\\src\\" + p251},  // 263 characters, then refused, not cut
      {"=", "", ".\\" + p251 + "p", 0, ".\\" + p251 + "p"}, {"=", "", d263 + "d", 0, d263 + "d"},
  };
  for (const auto& row : kRows) {
    text::SetLocale(row.op[1] == '9' ? "chinese-simplified" : "C");
    prefix.ChangeDir(row.op[1] == 'r' ? "C:\\" : row.op[1] == 'd' ? deep : "C:\\work\\src");
    std::string list = row.op[0] == '=' ? row.paths : row.list;
    const int result = row.op[0] == '=' ? ResolvePath(list)
                       : row.op[0] == '-' ? RemovePathsFromList(list, row.paths)
                                          : AddPathsToList(list, row.paths, PathPlacement(row.op[0] == '>'));
    EXPECT_EQ(std::pair(result, list), std::pair(row.result, row.after)) << row.op << row.paths;
  }
  // A variable has a name; any scope but 0 is the user's; a delete creates no key.
  std::string out = "old";
  EXPECT_EQ(std::tuple(GetEnvironmentValue(out, "", EnvScope::User), out, SetEnvironmentValue("x", "", {}),
                       DeleteEnvironmentValue("", EnvScope::User), SetEnvironmentValue("v", "N", EnvScope(7))),
            std::tuple(2, "old"s, 2, 2, 0));
  EXPECT_EQ((ReadRegistryString(out, HKEY_CURRENT_USER, "Environment", "N"), out), "v\0"s);
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Environment"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteEnvironmentValue("N", EnvScope::User), 1);
  EXPECT_EQ(ReadRegistryString(out, HKEY_CURRENT_USER, "Environment", "N"), kValueKeyFailed);
}

// On fresh machines: "+NAME VALUE" (">": at the end) appends a set line to autoexec.bat, "-"
// removes them, "=SIZE" sets CONFIG.SYS's; what goes wrong leaves the file as it was ("=").
TEST(StartupFiles, Edges) {
  const std::string x = "A\r\nset N=C:\\T\r\nZ\r\n", v(252, 'v'), r(254, 'r'), shell = "SHELL=C:\\C /E:4096 /P\r\n";
  std::string before, after;  // the removal takes whole lines of the forms written ("-") only
  for (const std::string& line : {"-\r\n"s, "set Path=C:\\T;%Path%\r\n"s, "-SET PATH=\"C:\\T;%PATH%\"\r\n"s,
           "set Path=\"C:\\T;%Path%\" \r\n"s, "-set path=\"c:\\t\"\r\n"s, std::string(259, 'L') + "\r\n",
           std::string(259, 'M') + "set Path=\"C:\\T;%Path%\"\r\n", "SET PATH=\"%PATH%;C:\\T\""s}) {
    before += line[0] == '-' ? line.substr(1) : line;
    after += line[0] == '-' ? "" : line;
  }
  const struct { const char* setup; std::string call, before; int result; std::string after; } kRows[] = {
      {"", "-Path C:\\T", before, 0, after},
      {"", "+N C:\\T", x, 0, "A\r\nZ\r\n\r\nset N=C:\\T\r\n"},  // once, at the end
      {"no PATH", "+N C:\\T", x, 0, x + "\r\nset N=C:\\T\r\n"}, {"no PATH", "-N C:\\T", x, 2, "="},
      {"", "+B C:\\T", "A", 0, "A\r\nset B=C:\\T;%B%\r\n"}, {"", ">B C:\\T", "", 0, "\r\nset B=%B%;C:\\T\r\n"},
      {"", "+N " + v + "vvv", "", 0, "\r\nset N=" + v + "vvv\r\n"},  // 263 characters with "\n"s
      {"", "+N " + v + "vvvv", x, 3, "="}, {"", "-B " + v, "\r\n", 0, ""}, {"", "-B " + v + "v", x, 3, "="},
      {"tmp", "-N C:\\T", x, 3, "="}, {"tmp", "+N C:\\G", x, 3, "="}, {"read-only", "-N C:\\T", x, 3, "="},
      {"read-only", "+N C:\\G", x, 3, "="}, {"no windir", "-N C:\\T", x, 3, "="},
      {"no windir", "+N C:\\G", x, 3, "="}, {"no windir", "=4096", x, 1, "="},
      {"", "=4096", "SHELL=C:\\C /E:1024 /P\r\nshell=x /e:1\r\n", 0, shell + "shell=x /e:1\r\n"},
      {"", "=4096", "shell=c:\\command.com /p /e:1024\r\nX", 0, "shell=c:\\command.com /p  /E:4096\r\nX"},
      {"", "=4096", "SHELL=C:\\C /P\r\n", 0, "SHELL=C:\\C /P /E:4096\r\n"}, {"", "=4096", "", 0, shell},
      {"", "=4096", "SHELL=C:\\C /E:1024\t/P", 0, "SHELL=C:\\C /E:4096\t/P\r\n"},
      // The first line ends at its first CR or LF; with its line end it may have 260 characters.
      {"", "=4096", "DOS=HIGH\r" + r + "rrrr\r\n", 0, shell + "DOS=HIGH\r\n" + r + "rrrr\r\n"},
      {"", "=4096", "REM " + r + "\r\n", 0, shell + "REM " + r + "\r\n"}, {"", "=4096", "REM " + r + "r\r\n", 1, "="},
      {"read-only", "=4096", "X", 2, "="}, {"no ComSpec", "=4096", "X", 2, "="}, {"tmp", "=4096", "X", 2, "="},
      {"bak", "=4096", "X", 2, "="},
  };
  for (const auto& row : kRows) {  // each test runs in a process of its own: no variable is put back
    qmtest::TempPrefix machine;
    const std::string setup = row.setup, file = row.call[0] == '=' ? "C:\\CONFIG.SYS" : "C:\\autoexec.bat";
    for (auto [name, value] : {std::pair<const char*, const char*>{"windir", "C:\\WINDOWS"},
             {"PATH", "C:\\W"}, {"B", "C:\\B"}, {"ComSpec", "C:\\C"}, {"N", nullptr}}) {
      if (setup == "no "s + name) value = name[0] == 'P' ? nullptr : "";  // an empty windir is none
      value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    machine.WriteFile(file, row.before);
    if (setup == "read-only") SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    if (setup == "tmp" || setup == "bak") machine.WriteFile(file + "." + setup + "\\x", "");
    const size_t blank = row.call.find(' ');
    const std::string name = row.call.substr(1, blank - 1), value = row.call.substr(blank + 1);
    const int result = row.call[0] == '=' ? SetEnvironmentSize(std::stoi(row.call.substr(1)))
                       : row.call[0] == '-' ? RemoveAutoexecSetLines(value, name)
                                            : AppendAutoexecSetLine(value, name, PathPlacement(row.call[0] == '>'));
    EXPECT_EQ(std::pair(result, machine.ReadFile(file)),
              std::pair(row.result, row.after == "=" ? row.before : row.after)) << setup << row.call;
  }
  // Real CONFIG.SYS files: a SHELL line before all their bytes, the old file the backup.
  qmtest::TempPrefix prefix;
  for (const char* name : {"bootwinme", "dosretropc-dos622", "dosretropc-win98", "win98config"}) {
    std::ostringstream file;
    file << std::ifstream(QM_SHARED_TESTDATA "/startup/"s + name + "-CONFIG.SYS").rdbuf();
    prefix.WriteFile("C:\\CONFIG.SYS", file.str());
    ASSERT_TRUE(SetEnvironmentSize(4096) == 0 && SetEnvironmentSize(-2) == 0) << name;
    EXPECT_EQ(prefix.ReadFile("C:\\CONFIG.SYS") + prefix.ReadFile("C:\\CONFIG.SYS.bak"),
              "SHELL=C:\\C /E:-2 /P\r\n" + file.str() + shell + file.str()) << name;
  }
}

// Each registry call an environment operation makes, made to fail: reported, the Path and its type kept, no broadcast.
TEST(FaultInjection, AFailingRegistryCallLeavesTheEnvironmentAsItWas) {
  qmtest::TempPrefix prefix;
  int (*const operations[])() = {[] { return SetEnvironmentValue("C:\\x", "Path", EnvScope::User); },
      [] { return AddPathToEnvironment("C:\\", "Path", EnvScope::User, PathPlacement::Start); },
      [] { return AddPathToRegistryValue("C:\\", "HKEY_CURRENT_USER\\Environment", "Path", PathPlacement::End); },
      [] { return RemovePathFromEnvironment("C:\\a", "Path", EnvScope::User); },
      [] { return DeleteEnvironmentValue("Path", EnvScope::User); }};
  for (const char* call : {"RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA"})
    for (auto& operation : operations) {
      WriteRegistryPathTypedString("C:\\a;%W%", REG_EXPAND_SZ, "HKEY_CURRENT_USER\\Environment", "Path");
      EnvironmentChanged = 0;
      emulated::InjectRegistryFault(call, ERROR_ACCESS_DENIED, 1);
      const int result = operation();
      if (emulated::TakeInjectedFault(call) != ERROR_SUCCESS) continue;  // a call the operation does not make
      RegistryValue after;
      ReadRegistryValue(after, HKEY_CURRENT_USER, "Environment", "Path");
      EXPECT_TRUE(result && !EnvironmentChanged && after.type == REG_EXPAND_SZ && after.bytes == "C:\\a;%W%\0"s)
          << call << " in operation " << &operation - operations;
    }
}

}  // namespace
}  // namespace qm
