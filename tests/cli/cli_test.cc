// The option grammar and the launcher's command line, where the scenarios cannot look.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/driver.h"
#include "platform/crt.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"
#include "text/output.h"

namespace qm {
namespace {

using namespace std::string_literals;

std::string Text(std::string_view text) { return std::string(text); }
std::string Text(std::span<const std::string> words) { return std::to_string(words.size()); }
template <typename T> std::string Text(T number) { return std::to_string(static_cast<int>(number)); }

// Runs `args` ("<>": an empty word) on operations that log "Name(arguments)" (1 for the
// user, the end, a removal) and return `answer`, their text results "F%d" (and bytes after
// a terminator), then "L". Result lines and screens (checked by the scenarios) are named.
std::pair<std::string, int> Quillmark(const std::string& args, int answer = 0) {
  std::string log, out;
  const auto op = [&](const char* name) {
    return [&log, name, answer](auto&&... a) {
      std::string call = name + "("s, sep;
      int outs = 0;
      [[maybe_unused]] const auto note = [&](auto&& x) {
        if constexpr (std::is_same_v<decltype(x), std::string&>) x = outs++ ? "L" : "F%d\0junk"s;
        else call += std::exchange(sep, ",") + Text(x);
      };
      (note(a), ...);
      log += call + ") ";
      return answer;
    };
  };
  const Operations ops{op("AddEnv"), op("RmEnv"), op("SetEnv"), op("DelEnv"), op("EnvSize"),
      op("Mark"), op("Bcast"), op("AddReg"), op("RmReg"), op("SetVal"), op("DelVal"), op("MkKey"),
      op("RmKey"), op("RegFile"), op("Read"), op("Latest"), op("MiKTeX"), op("WinEdt"),
      op("FindGs"), op("AddGs"), op("FindJava"), op("RegJavaw"), op("Md5"), op("RunProg"), op("Run")};
  std::istringstream in(args);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w == "<>" ? "" : w);
  text::CaptureOutput(&out);
  const int exitCode = RunQuillmark(words, ops);
  text::CaptureOutput(nullptr);
  for (const auto& [line, name] : {std::pair{kSucceededLine, "<ok>"}, {kFailedLine, "<fail>"}})
    for (size_t at; (at = out.find(line)) != std::string::npos;) out.replace(at, line.size(), name);
  if (const size_t banner = out.find("Quillmark v"); banner != std::string::npos)
    out.replace(banner, std::string::npos, "<screen>");
  return {log + out, exitCode};
}

TEST(Driver, OptionGrammar) {
  ::setenv("QUILLMARK_ACP", "936", 1);  // where "\x81U" is one character, not "u"
  for (const char* args : {"exe", "<>", "+", "-sza", "-z123", "-x -l chs -code-page", "-refresh -u",
           "+path", "+env N", "*env N V", "=path X", "-env-size", "+regv K", "-regv", "-regp K",
           "=regp K N D", "-regk", "-regkk K", "-regz K", "-read-reg K", "-regl K", "+read-reg K V", "-x \x81User"})
    EXPECT_EQ(Quillmark(args), std::pair("Syntax error occurs!\n<screen>"s, 1)) << args;
  const struct { const char* args; int answer; const char* callsThenOutput; int exit; } kRows[] = {
      {"setup.EXE C:\\d x", 0, "RunProg(setup.EXE,C:\\d) ", 0}, {".bAt", 0, "RunProg(.bAt,) ", 0},
      // Switches apply to what follows; words are taken as they come, optional ones if they can be.
      {"+path X -user -end -stop -sys +path Y", 0,
       "AddEnv(X,Path,0,0) AddEnv(Y,Path,0,0) Bcast() <ok><ok>", 0},
      {"=usr1 xend -path X -env-size 12abc -env-size 99999999999999 -env-size -99999999999", 0,
       "RmEnv(X,Path,1) EnvSize(12) EnvSize(2147483647) EnvSize(-2147483648) Bcast() <ok><ok><ok><ok>", 0},
      {"-env N -user -path -path +env N -h =env N V -env N", 0, "RmEnv(-user,N,0) "
       "RmEnv(-path,Path,0) AddEnv(-h,N,0,0) SetEnv(V,N,0) DelEnv(N,0) Bcast() <ok><ok><ok><ok><ok>", 0},
      {"-regv K -h -regv K", 0, "DelVal(K,-h) DelVal(K,) Bcast() <ok><ok>", 0},
      {"-regp K D -end +regp K D", 0, "RmReg(-end,K,D) AddReg(D,K,,0) Bcast() <ok><ok>", 0},
      // Reading and detection end the run, announcing first; the screens never announce.
      {"-read-reg K V +regk K", 0, "Read(K,V) Bcast() \n[K]\nV=F%d\n", 0},
      {"-refresh -no-refresh -path X", 0, "RmEnv(X,Path,0) <ok>", 0},
      {"-refresh -WinEdt", 1, "WinEdt() Mark() Bcast() F%d", 1}, {"-no-refresh -javaw", 0, "FindJava() F%d", 0},
      {"+md5", 2, "MiKTeX() Bcast() MiKTeX Direct CD:\nTeXMF=F%d\nLocalTeXMF=L\n", 2},
      {"-md5 F -md5", 0, "Md5(F) Bcast() <ok><fail>", 0},
      {"+path X -refresh -examples", 0, "AddEnv(X,Path,0,0) <ok><screen>", 0},
  };
  for (const auto& row : kRows)
    EXPECT_EQ(Quillmark(row.args, row.answer), std::pair(row.callsThenOutput + ""s, row.exit)) << row.args;
}

// ComSpec's interpreter logs its command line and directory; the machine's code page is 936.
TEST(Launcher, CommandLineAndDirectory) {
  const struct { const char *winver, *file, *directory, *commandLine, *ranIn; } kRows[] = {
      // cmd.exe drops the outer quotes of a line holding & < > ( ) @ ^ or |; Windows 9x none.
      {"winxp", "C:\\R&D\\go.bat", "", "\"\"C:\\R&D\\go.bat\"\"", "C:\\R&D"},
      {"win98", "C:\\R&D\\go.bat", "", "\"C:\\R&D\\go.bat\"", "C:\\R&D"},
      {"winxp", "sub\\\xD5\x5C.bat", "", "\xD5\x5C.bat", "C:\\base\\sub"},
      {"winxp", "\\up\\go.bat", "", "\\up\\go.bat", "C:\\up"},
      {"winxp", "go.bat", "C:\\no\\such", "go.bat", "C:\\base"},
  };
  qmtest::TempPrefix prefix;
  const std::string script = prefix.dir() + "/cmd.sh";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|%s' \"$2\" \"$(pwd -P)\" > " << prefix.driveC() << "/log\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  crt::putenv("ComSpec", script.c_str());
  ::setenv("QUILLMARK_ACP", "936", 1);
  for (const auto& row : kRows) {
    ::setenv("QUILLMARK_WINVER", row.winver, 1);
    for (const char* dir : {"C:\\base\\sub", "C:\\up", row.ranIn}) prefix.MakeDir(dir);
    prefix.ChangeDir("C:\\base");
    RunQuillmark(std::vector<std::string>{row.file, row.directory});
    const std::string ranIn = std::filesystem::canonical(prefix.HostPath(row.ranIn));
    EXPECT_EQ(prefix.ReadFile("C:\\log"), row.commandLine + "|"s + ranIn);
    char cwd[300];
    EXPECT_STREQ(crt::getcwd(cwd, sizeof cwd), "C:\\base") << row.file;
  }
}

}  // namespace
}  // namespace qm
