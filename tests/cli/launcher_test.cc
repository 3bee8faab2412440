// The launcher and -run on the emulated machine. ComSpec names a small shell
// script that stands in for the command interpreter: it records the command
// line it was given, the directory it ran in, and whether the file named by
// the command line was there while it ran.
#include "cli/launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/crt.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Invocation {
  std::string switchArg;  // what came before the command line: "/c"
  std::string commandLine;
  std::string directory;  // host path, symbolic links resolved
  bool fileExisted = false;
};

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() {
    log_ = prefix_.dir() + "/interpreter.log";
    const std::string script = prefix_.dir() + "/interpreter.sh";
    // The command line without its enclosing quotes (one pair, or two when
    // the name needs them) names the file, as it does for cmd.exe; C: is the
    // prefix's drive_c.
    std::ofstream(script) << R"sh(#!/bin/sh
file=$(printf '%s' "$2" | sed -e 's/^"\(.*\)"$/\1/' -e 's/^"\(.*\)"$/\1/' -e 's|^[Cc]:|)sh"
                          << prefix_.driveC() << R"sh(|' -e 's|\\|/|g')
if [ -e "$file" ]; then there=yes; else there=no; fi
printf '%s\n%s\n%s\n%s\n' "$1" "$2" "$(pwd -P)" "$there" >> ')sh"
                          << log_ << R"sh('
exit 3
)sh";
    fs::permissions(script, fs::perms::owner_all);
    if (const char* old = crt::getenv("ComSpec")) oldComSpec_ = old;
    crt::putenv("ComSpec", script.c_str());
  }
  ~LauncherTest() override { crt::putenv("ComSpec", oldComSpec_ ? oldComSpec_->c_str() : nullptr); }

  std::vector<Invocation> Invocations() const {
    std::vector<Invocation> out;
    std::ifstream in(log_);
    Invocation i;
    std::string there;
    while (std::getline(in, i.switchArg) && std::getline(in, i.commandLine) &&
           std::getline(in, i.directory) && std::getline(in, there)) {
      i.fileExisted = there == "yes";
      out.push_back(i);
    }
    return out;
  }

  std::string Canonical(const std::string& dosPath) const {
    return fs::canonical(prefix_.HostPath(dosPath)).string();
  }
  bool Exists(const std::string& dosPath) const { return fs::exists(prefix_.HostPath(dosPath)); }

  std::string CurrentDirectory() const {
    char buffer[1024];
    return crt::getcwd(buffer, sizeof buffer) ? buffer : "<unknown>";
  }

  qmtest::TempPrefix prefix_;
  std::string log_;
  std::optional<std::string> oldComSpec_;
};

TEST_F(LauncherTest, RunsTheFileInItsDirectoryThenDeletesIt) {
  const struct {
    const char* file;       // as typed
    const char* directory;  // the second argument, or ""
    const char* hostFile;   // where the file lies (DOS path on drive C:)
    const char* ranIn;      // where it must run
    const char* commandLine;
  } kCases[] = {
      {"C:\\tmp\\inst.bat", "", "C:\\tmp\\inst.bat", "C:\\tmp", "C:\\tmp\\inst.bat"},
      {"inst.bat", "C:\\work", "C:\\work\\inst.bat", "C:\\work", "inst.bat"},
      {"C:\\tmp\\setup.exe", "C:\\work", "C:\\tmp\\setup.exe", "C:\\work", "C:\\tmp\\setup.exe"},
      // A path with a space is quoted, or the interpreter would run C:\Program.
      {"C:\\Program Files\\x\\setup.bat", "", "C:\\Program Files\\x\\setup.bat",
       "C:\\Program Files\\x", "\"C:\\Program Files\\x\\setup.bat\""},
      {"my setup.bat", "C:\\work", "C:\\work\\my setup.bat", "C:\\work", "\"my setup.bat\""},
      // Special characters of the interpreter: a second pair of quotes, for
      // cmd.exe to drop, keeps the name whole.
      {"C:\\Program Files (x86)\\x\\go.bat", "", "C:\\Program Files (x86)\\x\\go.bat",
       "C:\\Program Files (x86)\\x", "\"\"C:\\Program Files (x86)\\x\\go.bat\"\""},
      {"C:\\R&D\\go.bat", "", "C:\\R&D\\go.bat", "C:\\R&D", "\"\"C:\\R&D\\go.bat\"\""},
      // Relative with a directory: run inside sub by its own name.
      {"sub\\go.bat", "", "C:\\base\\sub\\go.bat", "C:\\base\\sub", "go.bat"},
      {"..\\up\\go.bat", "", "C:\\up\\go.bat", "C:\\up", "go.bat"},
      // Without a backslash the file's directory is the current one.
      {"here.bat", "", "C:\\base\\here.bat", "C:\\base", "here.bat"},
      {"C:\\base\\..\\up\\a.bat", "", "C:\\up\\a.bat", "C:\\up", "C:\\base\\..\\up\\a.bat"},
      // In a drive's root the directory is "C:", drive C's current directory.
      {"C:\\root.bat", "", "C:\\root.bat", "C:\\base", "C:\\root.bat"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.file) + " | " + c.directory);
    fs::remove(log_);
    prefix_.MakeDir("C:\\base");
    prefix_.MakeDir(c.ranIn);
    prefix_.ChangeDir("C:\\base");
    prefix_.WriteFile(c.hostFile, "@echo off\r\n");
    const std::string before = CurrentDirectory();

    RunProgram(c.file, c.directory);

    const std::vector<Invocation> runs = Invocations();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].switchArg, "/c");
    EXPECT_EQ(runs[0].commandLine, c.commandLine);
    EXPECT_EQ(runs[0].directory, Canonical(c.ranIn));
    EXPECT_TRUE(runs[0].fileExisted) << "the file was not where the command line named it";
    EXPECT_FALSE(Exists(c.hostFile)) << "the file was not deleted";
    EXPECT_EQ(CurrentDirectory(), before);
  }
}

// COMMAND.COM of Windows 9x/ME takes a quoted name as it is: one pair.
TEST_F(LauncherTest, OnWindows9xSpecialCharactersGetOnePairOfQuotes) {
  ::setenv("QUILLMARK_WINVER", "win98", 1);
  prefix_.WriteFile("C:\\R&D\\go.bat", "@echo off\r\n");
  RunProgram("C:\\R&D\\go.bat", "");
  ::unsetenv("QUILLMARK_WINVER");
  const std::vector<Invocation> runs = Invocations();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine, "\"C:\\R&D\\go.bat\"");
  EXPECT_FALSE(Exists("C:\\R&D\\go.bat"));
}

// Inside sub, the name sub\go.bat would reach another file: that one must be
// neither run nor deleted.
TEST_F(LauncherTest, RelativeFileDoesNotReachAFileOfTheSamePathInsideItsDirectory) {
  prefix_.WriteFile("C:\\base\\sub\\go.bat", "mine");
  prefix_.WriteFile("C:\\base\\sub\\sub\\go.bat", "someone else's");
  prefix_.ChangeDir("C:\\base");
  RunProgram("sub\\go.bat", "");
  EXPECT_FALSE(Exists("C:\\base\\sub\\go.bat"));
  EXPECT_EQ(prefix_.ReadFile("C:\\base\\sub\\sub\\go.bat"), "someone else's");
}

// In the program's default code page (936) the second byte of a double-byte
// character may be 0x5C. Inside sub, sub\<that character>.bat is called by
// its whole name, not by what follows the 0x5C byte.
TEST_F(LauncherTest, RelativeFileNameKeepsADoubleByteCharacterEndingIn5C) {
  const std::string hostFile = prefix_.driveC() + "/base/sub/\xD5\\.bat";
  fs::create_directories(prefix_.driveC() + "/base/sub");
  std::ofstream(hostFile) << "@echo off\r\n";
  prefix_.ChangeDir("C:\\base");
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  RunProgram("sub\\\xD5\x5C.bat", "");
  text::SetLocale("C");
  const std::vector<Invocation> runs = Invocations();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine, "\xD5\x5C.bat");
  EXPECT_EQ(runs[0].directory, Canonical("C:\\base\\sub"));
  EXPECT_FALSE(fs::exists(hostFile)) << "the file was not deleted";
}

TEST_F(LauncherTest, DirectoryThatCannotBeEnteredLeavesTheRunWhereItWas) {
  prefix_.WriteFile("C:\\base\\inst.bat", "x");
  prefix_.ChangeDir("C:\\base");
  RunProgram("inst.bat", "C:\\no\\such\\dir");
  const std::vector<Invocation> runs = Invocations();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].directory, Canonical("C:\\base"));
  EXPECT_FALSE(Exists("C:\\base\\inst.bat"));
  EXPECT_EQ(CurrentDirectory(), "C:\\base");
}

TEST_F(LauncherTest, MissingFileIsHandedToTheInterpreterAndNothingElseHappens) {
  prefix_.MakeDir("C:\\base");
  prefix_.ChangeDir("C:\\base");
  RunProgram("C:\\base\\gone.bat", "");
  const std::vector<Invocation> runs = Invocations();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].fileExisted);
  EXPECT_EQ(CurrentDirectory(), "C:\\base");
}

TEST_F(LauncherTest, CommandLineQuotesOnlyWordsWithASpace) {
  const struct {
    std::vector<std::string> words;
    const char* commandLine;
  } kCases[] = {
      {{"notepad", "a.txt"}, "notepad a.txt"},
      {{"notepad"}, "notepad"},
      {{"C:\\Program Files\\x\\y.exe", "a"}, "\"C:\\Program Files\\x\\y.exe\" a"},
      {{"prog", "a b", "-user"}, "prog \"a b\" -user"},
      {{"prog", "-x", "+path", "=env"}, "prog -x +path =env"},
      // Nothing else is escaped: quotes inside a word stay as typed.
      {{"prog", "x\"y", "say \"hi\""}, "prog x\"y \"say \"hi\"\""},
      {{"prog", "", "tab\there"}, "prog  tab\there"},
  };
  for (const auto& c : kCases) {
    fs::remove(log_);
    EXPECT_EQ(RunCommandLine(c.words), 0) << c.commandLine;
    const std::vector<Invocation> runs = Invocations();
    ASSERT_EQ(runs.size(), 1u) << c.commandLine;
    EXPECT_EQ(runs[0].commandLine, c.commandLine);
  }
}

TEST_F(LauncherTest, CommandLineRunsInTheCurrentDirectoryAndDeletesNothing) {
  prefix_.WriteFile("C:\\base\\prog.bat", "x");
  prefix_.ChangeDir("C:\\base");
  const std::vector<std::string> words = {"prog.bat"};
  RunCommandLine(words);
  ASSERT_EQ(Invocations().size(), 1u);
  EXPECT_EQ(Invocations()[0].directory, Canonical("C:\\base"));
  EXPECT_TRUE(Exists("C:\\base\\prog.bat"));
}

TEST_F(LauncherTest, RunAloneRunsNothing) {
  EXPECT_EQ(RunCommandLine({}), 0);
  EXPECT_TRUE(Invocations().empty());
}

// 779 characters run; one more and nothing runs, rather than a cut command.
TEST_F(LauncherTest, CommandLineOverTheLimitIsNotRun) {
  const struct {
    std::vector<std::string> words;
    size_t length;
  } kCases[] = {
      {{"prog", std::string(kMaxCommandLine - 5, 'a')}, kMaxCommandLine},
      {{"prog", std::string(kMaxCommandLine - 4, 'a')}, kMaxCommandLine + 1},
      {{std::string(kMaxCommandLine, 'p')}, kMaxCommandLine},
      {{std::string(kMaxCommandLine + 1, 'p')}, kMaxCommandLine + 1},
      // The quotes count: 4 + 1 + 2 + 772 = 779, then 780.
      {{"prog", "a " + std::string(kMaxCommandLine - 9, 'b')}, kMaxCommandLine},
      {{"prog", "a " + std::string(kMaxCommandLine - 8, 'b')}, kMaxCommandLine + 1},
      // Too long long before the last word.
      {{"prog", std::string(2000, 'a'), "x"}, 2007},
  };
  for (const auto& c : kCases) {
    fs::remove(log_);
    const bool fits = c.length <= kMaxCommandLine;
    EXPECT_EQ(RunCommandLine(c.words), fits ? 0 : 1) << c.length;
    const std::vector<Invocation> runs = Invocations();
    if (fits) {
      ASSERT_EQ(runs.size(), 1u) << c.length;
      EXPECT_EQ(runs[0].commandLine.size(), c.length);
    } else {
      EXPECT_TRUE(runs.empty()) << c.length << " characters were run";
    }
  }
}

}  // namespace
}  // namespace qm
