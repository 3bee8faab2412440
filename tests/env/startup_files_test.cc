#include "env/startup_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "env_test_support.h"

namespace qm {
namespace {

constexpr char kAutoexec[] = "C:\\autoexec.bat";
constexpr char kConfig[] = "C:\\CONFIG.SYS";

std::string SharedStartupFile(const std::string& name) {
  std::ifstream in(std::string(QM_SHARED_TESTDATA) + "/startup/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Drops the empty lines of a CR LF text, as every rewrite of autoexec.bat does.
std::string WithoutEmptyLines(const std::string& crlfText) {
  std::string out;
  size_t begin = 0;
  while (begin < crlfText.size()) {
    size_t end = crlfText.find("\r\n", begin);
    end = end == std::string::npos ? crlfText.size() : end + 2;
    if (end - begin != 2 || crlfText.compare(begin, 2, "\r\n") != 0)
      out.append(crlfText, begin, end - begin);
    begin = end;
  }
  return out;
}

class StartupFilesTest : public qmtest::EnvTest {
 protected:
  void SetUp() override {
    EnvTest::SetUp();
    SetVariable("windir", "C:\\WINDOWS");
    SetVariable("ComSpec", "C:\\COMMAND.COM");
    SetVariable("PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
  }
  std::string Autoexec() { return prefix_.ReadFile(kAutoexec); }
  bool Exists(const char* dosPath) { return std::filesystem::exists(prefix_.HostPath(dosPath)); }
};

TEST_F(StartupFilesTest, AppendedSetLineForms) {
  SetVariable("TEXINPUTS", nullptr);
  SetVariable("BIBINPUTS", "C:\\BIB");
  const struct {
    const char* name;
    const char* value;
    PathPlacement placement;
    const char* line;
  } cases[] = {
      {"Path", "C:\\TEX\\BIN", PathPlacement::Start, "set Path=\"C:\\TEX\\BIN;%Path%\""},
      {"PATH", "C:\\TEX\\BIN", PathPlacement::End, "set PATH=\"%PATH%;C:\\TEX\\BIN\""},
      {"path", "C:\\TEX\\BIN", static_cast<PathPlacement>(9), "set path=\"C:\\TEX\\BIN;%path%\""},
      {"BIBINPUTS", "C:\\TEX", PathPlacement::Start, "set BIBINPUTS=C:\\TEX;%BIBINPUTS%"},
      {"BIBINPUTS", "C:\\TEX", PathPlacement::End, "set BIBINPUTS=%BIBINPUTS%;C:\\TEX"},
      {"TEXINPUTS", "C:\\TEX", PathPlacement::End, "set TEXINPUTS=C:\\TEX"},
  };
  for (const auto& c : cases) {
    prefix_.WriteFile(kAutoexec, "@ECHO OFF\r\n");
    ASSERT_EQ(AppendAutoexecSetLine(c.value, c.name, c.placement), 0) << c.line;
    EXPECT_EQ(Autoexec(), std::string("@ECHO OFF\r\n\r\n") + c.line + "\r\n");
    // The removal takes exactly the line back out, and the empty line with it.
    ASSERT_EQ(RemoveAutoexecSetLines(c.value, c.name), 0) << c.line;
    EXPECT_EQ(Autoexec(), "@ECHO OFF\r\n") << c.line;
  }
}

TEST_F(StartupFilesTest, ValueAlreadyInTheVariableChangesNothing) {
  SetVariable("PATH", "C:\\WINDOWS;C:\\TEX\\BIN;C:\\DOS");
  const std::string before = "set Path=\"C:\\TEX\\BIN;%Path%\"\r\n\r\nREM x\r\n";
  prefix_.WriteFile(kAutoexec, before);
  EXPECT_EQ(AppendAutoexecSetLine("C:\\TEX\\BIN", "Path", PathPlacement::Start), 2);
  EXPECT_EQ(Autoexec(), before);
  // A plain substring test: part of an entry is enough.
  EXPECT_EQ(AppendAutoexecSetLine("TEX", "Path", PathPlacement::Start), 2);
  EXPECT_EQ(Autoexec(), before);
}

TEST_F(StartupFilesTest, AddingTwiceLeavesOneLine) {
  prefix_.WriteFile(kAutoexec, "@ECHO OFF");  // no final line end
  ASSERT_EQ(AppendAutoexecSetLine("C:\\TEX\\BIN", "Path", PathPlacement::Start), 0);
  EXPECT_EQ(Autoexec(), "@ECHO OFF\r\nset Path=\"C:\\TEX\\BIN;%Path%\"\r\n");
  ASSERT_EQ(AppendAutoexecSetLine("C:\\TEX\\BIN", "Path", PathPlacement::Start), 0);
  EXPECT_EQ(Autoexec(), "@ECHO OFF\r\n\r\nset Path=\"C:\\TEX\\BIN;%Path%\"\r\n");
}

TEST_F(StartupFilesTest, RemovalKeepsEverythingElse) {
  const std::string kept =
      "@ECHO OFF\r\n"
      "set Path=C:\\TEX\\BIN;%Path%\r\n"       // unquoted: not a form for PATH
      "set Path=\"C:\\TEX\\BIN;%Path%\" \r\n"  // extra blank
      "set Path=\"C:\\TEX\\BIN2;%Path%\"\r\n"
      "set TEXINPUTS=C:\\TEX\\BIN\r\n"
      "PATH %PATH%;C:\\UTIL\r\n"
      "SET PATH=\"%PATH%;C:\\TEX\\BIN\"";  // last line without its line end never matches
  const std::string file =
      "@ECHO OFF\r\n\r\n"
      "set Path=C:\\TEX\\BIN;%Path%\r\n"
      "SET PATH=\"C:\\TEX\\BIN;%PATH%\"\r\n"
      "set Path=\"C:\\TEX\\BIN;%Path%\" \r\n"
      "\r\n\r\n"
      "set Path=\"C:\\TEX\\BIN2;%Path%\"\r\n"
      "set path=\"c:\\tex\\bin\"\r\n"
      "set TEXINPUTS=C:\\TEX\\BIN\r\n"
      "set Path=\"%Path%;C:\\TEX\\BIN\"\r\n"
      "PATH %PATH%;C:\\UTIL\r\n"
      "SET PATH=\"%PATH%;C:\\TEX\\BIN\"";
  prefix_.WriteFile(kAutoexec, file);
  ASSERT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 0);
  EXPECT_EQ(Autoexec(), kept);
}

// A line longer than one read piece must come through whole: its pieces are
// neither taken for empty lines nor for set lines.
TEST_F(StartupFilesTest, LongLinesAreNotSplitOrJoined) {
  const std::string long259(259, 'L');
  const std::string setLine = "set Path=\"C:\\TEX\\BIN;%Path%\"\r\n";
  const std::string file = long259 + "\r\nNEXT\r\n" + std::string(259, 'M') + setLine;
  prefix_.WriteFile(kAutoexec, file);
  ASSERT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 0);
  EXPECT_EQ(Autoexec(), file);
}

TEST_F(StartupFilesTest, MissingFile) {
  EXPECT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 3);
  EXPECT_FALSE(Exists(kAutoexec));
  SetVariable("TEXINPUTS", nullptr);
  ASSERT_EQ(AppendAutoexecSetLine("C:\\TEX", "TEXINPUTS", PathPlacement::Start), 0);
  EXPECT_EQ(Autoexec(), "\r\nset TEXINPUTS=C:\\TEX\r\n");
}

TEST_F(StartupFilesTest, NoPathVariable) {
  SetVariable("PATH", nullptr);
  SetVariable("Path", nullptr);
  prefix_.WriteFile(kAutoexec, "A\r\n\r\n");
  EXPECT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 2);
  EXPECT_EQ(Autoexec(), "A\r\n\r\n");
  // The addition still appends, and without a removal the text stays whole.
  ASSERT_EQ(AppendAutoexecSetLine("C:\\TEX\\BIN", "Path", PathPlacement::Start), 0);
  EXPECT_EQ(Autoexec(), "A\r\n\r\n\r\nset Path=\"C:\\TEX\\BIN\"\r\n");
}

TEST_F(StartupFilesTest, PercentSignsAndHighBytesComeBackUnchanged) {
  for (const char* name : {"bootwinme-AUTOEXEC.BAT", "dosretropc-win98-AUTOEXEC.BAT",
                           "win98config-AUTOEXEC.BAT", "dosretropc-dos622-AUTOEXEC.BAT"}) {
    const std::string original = SharedStartupFile(name);
    prefix_.WriteFile(kAutoexec, original);
    ASSERT_EQ(AppendAutoexecSetLine("C:\\TEX\\BIN", "Path", PathPlacement::End), 0) << name;
    EXPECT_EQ(Autoexec(), WithoutEmptyLines(original) + "\r\nset Path=\"%Path%;C:\\TEX\\BIN\"\r\n")
        << name;
    ASSERT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 0) << name;
    EXPECT_EQ(Autoexec(), WithoutEmptyLines(original)) << name;
  }
}

// The file is replaced only once the new text is complete: a failure at any
// step leaves autoexec.bat exactly as it was, and no temporary file behind.
TEST_F(StartupFilesTest, FailedRewriteLeavesAutoexecAsItWas) {
  const std::string before = "@ECHO OFF\r\n\r\nset Path=\"C:\\TEX\\BIN;%Path%\"\r\n";
  prefix_.WriteFile(kAutoexec, before);

  // The temporary file cannot be made.
  prefix_.MakeDir("C:\\autoexec.bat.tmp");
  EXPECT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 3);
  EXPECT_EQ(AppendAutoexecSetLine("C:\\GS", "Path", PathPlacement::End), 3);
  EXPECT_EQ(Autoexec(), before);
  std::filesystem::remove(prefix_.HostPath("C:\\autoexec.bat.tmp"));

  // The file is read-only.
  ASSERT_TRUE(SetFileAttributesA(kAutoexec, FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RemoveAutoexecSetLines("C:\\TEX\\BIN", "Path"), 3);
  EXPECT_EQ(AppendAutoexecSetLine("C:\\GS", "Path", PathPlacement::End), 3);
  EXPECT_EQ(Autoexec(), before);
  EXPECT_FALSE(Exists("C:\\autoexec.bat.tmp"));

  // A set line that does not fit its 263 characters fails rather than being cut.
  ASSERT_TRUE(SetFileAttributesA(kAutoexec, FILE_ATTRIBUTE_ARCHIVE));
  const std::string longValue(260, 'v');
  EXPECT_EQ(AppendAutoexecSetLine(longValue, "Path", PathPlacement::End), 3);
  EXPECT_EQ(RemoveAutoexecSetLines(longValue, "Path"), 3);
  EXPECT_EQ(Autoexec(), before);
}

TEST_F(StartupFilesTest, LongestSetLineThatFits) {
  SetVariable("V", nullptr);
  // "\nset V=" and the value and "\n": 263 characters in all.
  const std::string value(263 - 8, 'v');
  ASSERT_EQ(AppendAutoexecSetLine(value, "V", PathPlacement::Start), 0);
  EXPECT_EQ(Autoexec(), "\r\nset V=" + value + "\r\n");
  EXPECT_EQ(AppendAutoexecSetLine(value + "w", "V", PathPlacement::Start), 3);
}

TEST_F(StartupFilesTest, MissingWindirChangesNothing) {
  SetVariable("windir", "");
  prefix_.WriteFile(kAutoexec, "A\r\n\r\n");
  prefix_.WriteFile(kConfig, "DEVICE=HIMEM.SYS\r\n");
  EXPECT_EQ(AppendAutoexecSetLine("C:\\TEX", "Path", PathPlacement::Start), 3);
  EXPECT_EQ(RemoveAutoexecSetLines("C:\\TEX", "Path"), 3);
  EXPECT_NE(SetEnvironmentSize(4096), 0);
  EXPECT_EQ(Autoexec(), "A\r\n\r\n");
  EXPECT_EQ(prefix_.ReadFile(kConfig), "DEVICE=HIMEM.SYS\r\n");
}

TEST_F(StartupFilesTest, EnvironmentSizeFirstLineRows) {
  const struct {
    const char* firstLine;
    const char* written;
  } cases[] = {
      {"SHELL=C:\\COMMAND.COM /E:1024 /P\r\n", "SHELL=C:\\COMMAND.COM /E:4096 /P\r\n"},
      {"shell=c:\\command.com /p /e:1024\r\n", "shell=c:\\command.com /p  /E:4096\r\n"},
      {"SHELL=C:\\COMMAND.COM /P\r\n", "SHELL=C:\\COMMAND.COM /P /E:4096\r\n"},
      {"DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\n",
       "SHELL=C:\\COMMAND.COM /E:4096 /P\r\nDEVICE=C:\\WINDOWS\\HIMEM.SYS\r\n"},
      {"", "SHELL=C:\\COMMAND.COM /E:4096 /P\r\n"},
      {"Shell=C:\\COMMAND.COM /e:512", "Shell=C:\\COMMAND.COM  /E:4096\r\n"},
      {"DOS=HIGH", "SHELL=C:\\COMMAND.COM /E:4096 /P\r\nDOS=HIGH\r\n"},
  };
  for (const auto& c : cases) {
    // Further lines follow only a first line that has its line end.
    const bool ended = std::string_view(c.firstLine).ends_with("\n");
    const std::string rest = ended ? "FILES=40\r\nshell=second /e:1\r\n" : "";
    prefix_.WriteFile(kConfig, c.firstLine + rest);
    ASSERT_EQ(SetEnvironmentSize(4096), 0) << c.firstLine;
    EXPECT_EQ(prefix_.ReadFile(kConfig), c.written + rest) << c.firstLine;
    EXPECT_FALSE(Exists("C:\\CONFIG.SYS.tmp"));
  }
}

// DOS needs no blank between switches: a switch written right after the old
// size (or after a tab) is the user's and must survive the new size.
TEST_F(StartupFilesTest, EnvironmentSizeKeepsASwitchRightAfterTheOldSize) {
  const struct {
    const char* firstLine;
    const char* written;
  } cases[] = {
      {"SHELL=C:\\COMMAND.COM /E:1024/P\r\n", "SHELL=C:\\COMMAND.COM /E:4096/P\r\n"},
      {"shell=c:\\command.com /e:1024/p /f\r\n", "shell=c:\\command.com /E:4096/p /f\r\n"},
      {"SHELL=C:\\COMMAND.COM /E:1024\t/P\r\n", "SHELL=C:\\COMMAND.COM /E:4096\t/P\r\n"},
  };
  for (const auto& c : cases) {
    prefix_.WriteFile(kConfig, std::string(c.firstLine) + "FILES=40\r\n");
    ASSERT_EQ(SetEnvironmentSize(4096), 0) << c.firstLine;
    EXPECT_EQ(prefix_.ReadFile(kConfig), std::string(c.written) + "FILES=40\r\n") << c.firstLine;
  }
}

// The first line ends at its first CR or LF. Text after a CR that no LF
// follows is the start of the next line, and stays.
TEST_F(StartupFilesTest, EnvironmentSizeLosesNothingAfterALoneCarriageReturn) {
  prefix_.WriteFile(kConfig, "DEVICE=HIMEM.SYS\rDOS=HIGH\r\nFILES=40\r\n");
  ASSERT_EQ(SetEnvironmentSize(4096), 0);
  EXPECT_EQ(prefix_.ReadFile(kConfig),
            "SHELL=C:\\COMMAND.COM /E:4096 /P\r\nDEVICE=HIMEM.SYS\r\nDOS=HIGH\r\nFILES=40\r\n");
  // Only the first line counts against the length that is edited.
  const std::string longSecond = "DOS=HIGH\r" + std::string(300, 'r') + "\r\n";
  prefix_.WriteFile(kConfig, longSecond);
  ASSERT_EQ(SetEnvironmentSize(4096), 0);
  EXPECT_EQ(prefix_.ReadFile(kConfig),
            "SHELL=C:\\COMMAND.COM /E:4096 /P\r\nDOS=HIGH\r\n" + std::string(300, 'r') + "\r\n");
}

// Real CONFIG.SYS files: none has a SHELL first line, so a new one goes in
// front and every byte of the old file follows unchanged; the old file is
// the backup. A second run edits the SHELL line the first one wrote.
TEST_F(StartupFilesTest, EnvironmentSizeOnRealConfigFiles) {
  for (const char* name : {"bootwinme-CONFIG.SYS", "dosretropc-dos622-CONFIG.SYS",
                           "dosretropc-win98-CONFIG.SYS", "win98config-CONFIG.SYS"}) {
    const std::string original = SharedStartupFile(name);
    ASSERT_FALSE(original.empty());
    std::filesystem::remove(prefix_.HostPath("C:\\CONFIG.SYS.bak"));
    prefix_.WriteFile(kConfig, original);
    ASSERT_EQ(SetEnvironmentSize(4096), 0) << name;
    EXPECT_EQ(prefix_.ReadFile(kConfig), "SHELL=C:\\COMMAND.COM /E:4096 /P\r\n" + original) << name;
    EXPECT_EQ(prefix_.ReadFile("C:\\CONFIG.SYS.bak"), original) << name;
    ASSERT_EQ(SetEnvironmentSize(-2), 0) << name;
    EXPECT_EQ(prefix_.ReadFile(kConfig), "SHELL=C:\\COMMAND.COM /E:-2 /P\r\n" + original) << name;
    EXPECT_EQ(prefix_.ReadFile("C:\\CONFIG.SYS.bak"),
              "SHELL=C:\\COMMAND.COM /E:4096 /P\r\n" + original)
        << name;
  }
}

TEST_F(StartupFilesTest, EnvironmentSizeHidesTheNewFile) {
  prefix_.WriteFile(kConfig, "DOS=HIGH\r\n");
  ASSERT_TRUE(SetFileAttributesA(kConfig, FILE_ATTRIBUTE_HIDDEN));
  if ((GetFileAttributesA(kConfig) & FILE_ATTRIBUTE_HIDDEN) == 0)
    GTEST_SKIP() << "this file system keeps no hidden attribute";
  ASSERT_TRUE(SetFileAttributesA(kConfig, FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_EQ(SetEnvironmentSize(4096), 0);
  EXPECT_NE(GetFileAttributesA(kConfig) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// A read-only CONFIG.SYS, empty or not, is neither replaced nor made writable.
TEST_F(StartupFilesTest, ReadOnlyConfigIsLeftAlone) {
  for (const char* content : {"DOS=HIGH\r\n", ""}) {
    SCOPED_TRACE(content);
    prefix_.WriteFile(kConfig, content);
    ASSERT_TRUE(SetFileAttributesA(kConfig, FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(SetEnvironmentSize(4096), 0);
    EXPECT_EQ(prefix_.ReadFile(kConfig), content);
    EXPECT_NE(GetFileAttributesA(kConfig) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(std::filesystem::exists(prefix_.HostPath("C:\\CONFIG.SYS.bak")));
    ASSERT_TRUE(SetFileAttributesA(kConfig, FILE_ATTRIBUTE_ARCHIVE));
  }
}

// When the new CONFIG.SYS cannot be put in place the old one stays, and the
// operation says so.
TEST_F(StartupFilesTest, FailedConfigReplacementKeepsTheOldFile) {
  const std::string before = "DEVICE=HIMEM.SYS\r\nFILES=40\r\n";
  prefix_.WriteFile(kConfig, before);

  prefix_.MakeDir("C:\\CONFIG.SYS.tmp");  // the temporary copy cannot be written
  EXPECT_EQ(SetEnvironmentSize(4096), 2);
  EXPECT_EQ(prefix_.ReadFile(kConfig), before);
  std::filesystem::remove(prefix_.HostPath("C:\\CONFIG.SYS.tmp"));

  prefix_.WriteFile("C:\\CONFIG.SYS.bak\\keep", "x");  // the backup name is taken
  EXPECT_EQ(SetEnvironmentSize(4096), 2);
  EXPECT_EQ(prefix_.ReadFile(kConfig), before);
  EXPECT_FALSE(Exists("C:\\CONFIG.SYS.tmp"));
  std::filesystem::remove_all(prefix_.HostPath("C:\\CONFIG.SYS.bak"));

  SetVariable("ComSpec", "");
  EXPECT_NE(SetEnvironmentSize(4096), 0);
  EXPECT_EQ(prefix_.ReadFile(kConfig), before);
  EXPECT_FALSE(Exists("C:\\CONFIG.SYS.bak"));

  std::filesystem::remove(prefix_.HostPath(kConfig));
  EXPECT_EQ(SetEnvironmentSize(4096), 1);
  EXPECT_FALSE(Exists(kConfig));
}

TEST_F(StartupFilesTest, OverlongFirstConfigLineIsNotSplit) {
  const std::string before = "REM " + std::string(300, 'r') + "\r\nDOS=HIGH\r\n";
  prefix_.WriteFile(kConfig, before);
  EXPECT_NE(SetEnvironmentSize(4096), 0);
  EXPECT_EQ(prefix_.ReadFile(kConfig), before);
}

}  // namespace
}  // namespace qm
