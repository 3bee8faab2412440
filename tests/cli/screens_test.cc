// The screens as a user sees them: tabs as tab characters, each doubled
// percent sign of a line shown as one.
#include "cli/screens.h"

#include <gtest/gtest.h>

#include <string>

#include "text/output.h"

namespace qm {
namespace {

const char kBanner[] =
    "Quillmark v 1.08 (20 May 2005), developed by Tamsworth\n"
    "Welcome to report bugs and comments via https://quillmark.example.org/\n"
    "Usage:\tQuillmark [options]\n";

const char kHelp[] =
    "Common Options/Switches:\n"
    "\t-help\t\tDisplay this help screen\n"
    "\t-examples\tDisplay some examples\n"
    "\t-sys\t\tProcess system environment variables (default)\n"
    "\t-user\t\tProcess the current user's environment variables\n"
    "\t-start\t\tAdd the path at the beginning (default)\n"
    "\t-end\t\tAppend the path at the end\n"
    "\t-code-page\n"
    "\t-language\tSet the code page of your desired language [chs]\n"
    "\t-refresh\tForce to refresh the system environment\n"
    "\t-no-refresh\tDONNOT refresh the system environment even changed\n"
    "Options for Environment Variables (multiple relative paths are supported):\n"
    "\t+path path\tadd a path to the environment variable %PATH%\n"
    "\t-path path\tremove a path from the environment variable %PATH%\n"
    "\t+env  ENV path\tadd a path to the environment variable %ENV%\n"
    "\t-env  ENV path\tremove a path from the environment variable %ENV%\n"
    "\t=env  ENV value\tset the environment variable \"%ENV%=value\"\n"
    "\t-env  ENV\tremove the environment variable %ENV%\n"
    "\t-env-size size\tset environment space size (for Win9X/ME systems)\n"
    "Options for Registry Table:\n"
    "\t+regp key [value] path\tadd a path to a REG_SZ registry value\n"
    "\t-regp key [value] path\tremove a path from a REG_SZ registry value\n"
    "\t=regv key [value] sz\n"
    "\t+regv key [value] sz\tset/add a registry value (REG_SZ only)\n"
    "\t-regv key [value]\tremove a registry value\n"
    "\t+regk key\t\tadd a registry key\n"
    "\t-regk key\t\tremove a registry key (all sub-keys and values)\n"
    "\t+regf regfile_path\tadd a registry file into the registry table\n"
    "\t-regf regfile_path\tremove a registry file from the registry table\n"
    "\t-regr key value\t\tread a value under the given key\n"
    "\t-regl key value\t\tread the latest value under a subkey\n"
    "Options for MiKTeX and Related Tools:\n"
    "\t-miktex\t\tdetect MiKTeX installation\n"
    "\t-WinEdt\t\tdetect WinEdt installation\n"
    "\t-gswin32c\tdetect the latest version of Ghostscript\n"
    "\t+gswin32c\tadd Ghostscript into PATH\n"
    "\t-javaw\t\tdetect the latest version of Java2RE\n"
    "\t+javaw [ENV]\tadd javaw.exe into the environment variable %ENV%\n";

const char kExamples[] =
    "Some Examples:\n"
    "Quillmark +path C:\\brambley\\bin\n"
    "Quillmark -no-refresh -path .\\brambley\\..\\bin;..\\bin\n"
    "Quillmark -user -start +env include C:\\brambley\\include\n"
    "Quillmark -user -env include C:\\brambley\\include\n"
    "Quillmark =env localtexmf C:\\MiKTeXDirect\n"
    "Quillmark -env localtexmf\n"
    "Quillmark -env-size 4096\n"
    "Quillmark +regp HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley path C:\\brambley\\bin\n"
    "Quillmark -regp HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley C:\\brambley\\bin\n"
    "Quillmark =regv HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley https://quillmark.example.org/\n"
    "Quillmark +regv HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley e-mail support@quillmark.example.org\n"
    "Quillmark -regv HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley e-mail\n"
    "Quillmark -regv HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley\n"
    "Quillmark +regk HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley\\test\n"
    "Quillmark -regk HKEY_LOCAL_MACHINE\\SOFTWARE\\brambley\\test\n"
    "Quillmark +regf C:\\brambley\\Unicode.reg\n"
    "Quillmark -regf C:\\brambley\\Non-Unicode.reg\n"
    "Quillmark -regr \"HKEY_LOCAL_MACHINE\\SOFTWARE\\AFPL Ghostscript\\8.50\" GS_DLL\n"
    "Quillmark -regl \"HKEY_LOCAL_MACHINE\\SOFTWARE\\AFPL Ghostscript\" GS_DLL\n"
    "Quillmark -MiKTeX\n"
    "Quillmark -WinEdt\n"
    "Quillmark -gswin32c\n"
    "Quillmark +gswin32c\n"
    "Quillmark -javaw\n"
    "Quillmark +javaw javacommand\n";

class ScreensTest : public ::testing::Test {
 protected:
  void SetUp() override { text::CaptureOutput(&out_); }
  void TearDown() override { text::CaptureOutput(nullptr); }
  std::string out_;
};

size_t CountLines(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST_F(ScreensTest, BannerIsThreeLines) {
  PrintBanner();
  EXPECT_EQ(out_, kBanner);
}

TEST_F(ScreensTest, HelpIsTheBannerAndThirtyEightLines) {
  EXPECT_EQ(ShowHelp(0), 0);
  EXPECT_EQ(out_, std::string(kBanner) + kHelp);
  EXPECT_EQ(CountLines(kHelp), 38u);
  out_.clear();
  EXPECT_EQ(ShowHelp(7), 7);
}

TEST_F(ScreensTest, ExamplesAreTheBannerAndTwentyFiveLines) {
  EXPECT_EQ(ShowExamples(), 0);
  EXPECT_EQ(out_, std::string(kBanner) + kExamples);
  EXPECT_EQ(CountLines(kExamples), 26u);  // the heading and 25 examples
}

TEST_F(ScreensTest, SyntaxErrorComesFirstThenTheHelp) {
  EXPECT_EQ(ReportSyntaxError(), 1);
  EXPECT_EQ(out_, std::string("Syntax error occurs!\n") + kBanner + kHelp);
}

}  // namespace
}  // namespace qm
