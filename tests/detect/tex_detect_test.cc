#include "detect/tex_detect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detect/installation.h"
#include "platform/crt.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace {

using qmtest::LongDirectory;
using qmtest::ScopedVariable;
using qmtest::SetValue;

constexpr const char* kMiKTeXKey = "SOFTWARE\\MiK\\MiKTeX\\CurrentVersion\\MiKTeX";

// One machine as a MiKTeX detection sees it. Strings left empty are not set.
struct Machine {
  std::vector<std::string> files;     // empty files under C:
  std::vector<std::string> dirs;      // directories under C:
  std::vector<std::string> readOnly;  // files made read-only after creation
  std::vector<std::string> readOnlyDirs;
  std::string cwd = "C:\\";
  std::string path = "C:\\windows\\system32";
  std::string hkcuInstall, hklmInstall, hkcuLocal, hklmLocal;
  std::string mdLocalRoot;
  std::string systemDrive = "C:";
  std::string windir = "C:\\windows";
  const char* winver = "win10";
};

void Build(const qmtest::TempPrefix& prefix, const Machine& m) {
  for (const auto& f : m.files) prefix.WriteFile(f, "");
  for (const auto& d : m.dirs) prefix.MakeDir(d);
  for (const auto& f : m.readOnly) {
    prefix.WriteFile(f, "[Paths]\n");
    qmtest::MakeReadOnly(prefix, f);
  }
  for (const auto& d : m.readOnlyDirs) {
    prefix.MakeDir(d);
    qmtest::MakeReadOnly(prefix, d);
  }
  prefix.ChangeDir(m.cwd);
  if (!m.hkcuInstall.empty())
    SetValue(HKEY_CURRENT_USER, kMiKTeXKey, "Install Root", m.hkcuInstall);
  if (!m.hklmInstall.empty())
    SetValue(HKEY_LOCAL_MACHINE, kMiKTeXKey, "Install Root", m.hklmInstall);
  if (!m.hkcuLocal.empty()) SetValue(HKEY_CURRENT_USER, kMiKTeXKey, "Local Root", m.hkcuLocal);
  if (!m.hklmLocal.empty()) SetValue(HKEY_LOCAL_MACHINE, kMiKTeXKey, "Local Root", m.hklmLocal);
}

struct DetectCase {
  const char* name;
  Machine machine;
  qm::MiKTeXKind kind;
  std::string texmf;
  std::string localTexmf;
};

void RunDetectCases(const std::vector<DetectCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    const Machine& m = c.machine;
    Build(prefix, m);
    qmtest::ScopedWindowsVersion version(m.winver);
    ScopedVariable path("PATH", m.path.c_str());
    ScopedVariable localRoot("MD_LOCALROOT",
                             m.mdLocalRoot.empty() ? nullptr : m.mdLocalRoot.c_str());
    ScopedVariable systemDrive("SystemDrive", m.systemDrive.c_str());
    ScopedVariable windir("windir", m.windir.c_str());

    qm::LastMiKTeXKind = 0xEE;
    std::string texmf = "stale", local = "stale";
    EXPECT_EQ(qm::DetectMiKTeX(texmf, local), c.kind);
    EXPECT_EQ(qm::LastMiKTeXKind, c.kind);
    EXPECT_EQ(texmf, c.texmf);
    EXPECT_EQ(local, c.localTexmf);
  }
}

// Where the root comes from: a tex.exe in a MiKTeX bin directory on the search
// path (in any letter case), else the registered root with a tex.exe in it.
TEST(DetectMiKTeX, FindsTheRoot) {
  RunDetectCases({
      {"bin on PATH, upper case on disk and in PATH",
       {.files = {"C:\\TeX\\MiKTeX\\BIN\\TEX.EXE"},
        .path = "C:\\tools;C:\\TeX\\MiKTeX\\BIN",
        .hkcuLocal = "C:\\localtexmf"},
       qm::MiKTeXNormal,
       "C:\\TeX",
       "C:\\localtexmf"},
      {"quoted PATH entry holding a ';'",
       {.files = {"C:\\a;b\\miktex\\bin\\tex.exe"},
        .path = "C:\\tools;\"C:\\a;b\\miktex\\bin\"",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNormal,
       "C:\\a;b",
       "C:\\local"},
      {"current directory before PATH",
       {.files = {"C:\\Here\\miktex\\bin\\tex.exe", "C:\\TeX\\miktex\\bin\\tex.exe"},
        .cwd = "C:\\Here\\miktex\\bin",
        .path = "C:\\TeX\\miktex\\bin",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNormal,
       "C:\\Here",
       "C:\\local"},
      {"tex.exe in the current directory outside a MiKTeX bin: registry, not PATH",
       {.files = {"C:\\work\\tex.exe", "C:\\TeX\\miktex\\bin\\tex.exe",
                  "C:\\Reg\\miktex\\bin\\tex.exe"},
        .cwd = "C:\\work",
        .path = "C:\\TeX\\miktex\\bin",
        .hklmInstall = "C:\\Reg",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNormal,
       "C:\\Reg",
       "C:\\local"},
      {"tex.exe on PATH outside a MiKTeX bin falls back to Install Root",
       {.files = {"C:\\texlive\\bin\\tex.exe", "C:\\Program Files\\MiKTeX\\miktex\\bin\\tex.exe"},
        .path = "C:\\texlive\\bin",
        .hklmInstall = "C:\\Program Files\\MiKTeX",
        .hkcuLocal = "C:\\Users\\me\\texmf"},
       qm::MiKTeXNormal,
       "C:\\Program Files\\MiKTeX",
       "C:\\Users\\me\\texmf"},
      {"Install Root without tex.exe",
       {.dirs = {"C:\\TeX\\miktex\\bin"}, .hkcuInstall = "C:\\TeX", .hkcuLocal = "C:\\local"},
       qm::MiKTeXNone,
       "",
       ""},
      {"Install Root whose tex.exe is a directory",
       {.dirs = {"C:\\TeX\\miktex\\bin\\tex.exe"},
        .hkcuInstall = "C:\\TeX",
        .hkcuLocal = "C:\\local"},
       qm::MiKTeXNone,
       "",
       ""},
      {"Install Root in both roots: the current user's wins",
       {.files = {"C:\\Mine\\miktex\\bin\\tex.exe", "C:\\All\\miktex\\bin\\tex.exe"},
        .hkcuInstall = "C:\\Mine",
        .hklmInstall = "C:\\All",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNormal,
       "C:\\Mine",
       "C:\\local"},
      {"current user's Install Root without tex.exe does not fall back to the machine's",
       {.files = {"C:\\All\\miktex\\bin\\tex.exe"},
        .hkcuInstall = "C:\\Gone",
        .hklmInstall = "C:\\All",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNone,
       "",
       ""},
      {"values split: Install Root of the user, Local Root of the machine",
       {.files = {"C:\\TeX\\miktex\\bin\\tex.exe"},
        .hkcuInstall = "C:\\TeX",
        .hklmLocal = "D:\\localtexmf"},
       qm::MiKTeXNormal,
       "C:\\TeX",
       "D:\\localtexmf"},
      {"values split: Install Root of the machine, Local Root of the user",
       {.files = {"C:\\TeX\\miktex\\bin\\tex.exe"},
        .hklmInstall = "C:\\TeX",
        .hkcuLocal = "C:\\mine",
        .hklmLocal = "C:\\all"},
       qm::MiKTeXNormal,
       "C:\\TeX",
       "C:\\mine"},
      {"root without a Local Root anywhere",
       {.files = {"C:\\TeX\\miktex\\bin\\tex.exe"}, .hklmInstall = "C:\\TeX"},
       qm::MiKTeXNoLocalRoot,
       "C:\\TeX",
       ""},
      {"empty Install Root is no root, even with \\miktex\\bin\\tex.exe on the drive",
       {.files = {"C:\\miktex\\bin\\tex.exe"},
        .hkcuInstall = "",
        .hklmInstall = "",
        .hklmLocal = "C:\\local"},
       qm::MiKTeXNone,
       "",
       ""},
      {"a drive root counts as a root",
       {.files = {"C:\\miktex\\bin\\tex.exe"}, .path = "C:\\miktex\\bin", .hklmLocal = "C:\\l"},
       qm::MiKTeXNormal,
       "C:",
       "C:\\l"},
  });
}

// Direct CD: a read-only md.ini; the local root comes from the process
// environment, never from the registry.
TEST(DetectMiKTeX, TellsADirectCD) {
  const std::vector<std::string> cd = {"C:\\CD\\miktex\\bin\\tex.exe"};
  const std::vector<std::string> mdIni = {"C:\\CD\\miktex\\config\\md.ini"};
  RunDetectCases({
      {"md.ini writable: normal installation",
       {.files = {"C:\\CD\\miktex\\bin\\tex.exe", "C:\\CD\\miktex\\config\\md.ini"},
        .hklmInstall = "C:\\CD",
        .hklmLocal = "C:\\local",
        .mdLocalRoot = "D:\\ignored"},
       qm::MiKTeXNormal,
       "C:\\CD",
       "C:\\local"},
      {"read-only md.ini with MD_LOCALROOT: taken verbatim, Local Root not read",
       {.files = cd,
        .readOnly = mdIni,
        .hklmInstall = "C:\\CD",
        .hkcuLocal = "C:\\registry",
        .mdLocalRoot = "E:\\My Local;Root\\"},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       "E:\\My Local;Root\\"},
      {"NT without MD_LOCALROOT: SystemDrive",
       {.files = cd, .readOnly = mdIni, .hklmInstall = "C:\\CD", .systemDrive = "D:"},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       "D:\\MiKTeXDirect"},
      {"Windows 98 without MD_LOCALROOT: windir",
       {.files = cd,
        .readOnly = mdIni,
        .hklmInstall = "C:\\CD",
        .systemDrive = "D:",
        .windir = "C:\\WINDOWS",
        .winver = "win98"},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       "C:\\WINDOWS\\MiKTeXDirect"},
      {"read-only md.ini found through PATH",
       {.files = cd, .readOnly = mdIni, .path = "C:\\CD\\miktex\\bin", .mdLocalRoot = "C:\\x"},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       "C:\\x"},
      {"a read-only directory named md.ini is no Direct CD",
       {.files = cd,
        .readOnlyDirs = mdIni,
        .hklmInstall = "C:\\CD",
        .hklmLocal = "C:\\local",
        .mdLocalRoot = "C:\\x"},
       qm::MiKTeXNormal,
       "C:\\CD",
       "C:\\local"},
  });
}

// Texts that would not fit in 260 characters are never cut: they count as not
// found, and detection goes on as it would without them.
TEST(DetectMiKTeX, OverLongTextsCountAsNotFound) {
  const std::string root241 = LongDirectory(241);  // + \miktex\bin\tex.exe = 260
  const std::string root242 = LongDirectory(242);  // + \miktex\bin\tex.exe = 261
  const std::string local261(261, 'L');
  const std::string drive248 = LongDirectory(248);  // + \MiKTeXDirect = 261
  const std::string cd = "C:\\CD\\miktex\\bin\\tex.exe";
  const std::string mdIni = "C:\\CD\\miktex\\config\\md.ini";
  RunDetectCases({
      {"tex.exe path of 260 characters is found",
       {.files = {root241 + "\\miktex\\bin\\tex.exe"},
        .hklmInstall = root241,
        .hklmLocal = "C:\\l"},
       qm::MiKTeXNormal,
       root241,
       "C:\\l"},
      {"tex.exe path of 261 characters is not composed",
       {.files = {root242 + "\\miktex\\bin\\tex.exe"},
        .hklmInstall = root242,
        .hklmLocal = "C:\\l"},
       qm::MiKTeXNone,
       "",
       ""},
      {"PATH candidate over 260 characters is skipped",
       {.files = {root242 + "\\miktex\\bin\\tex.exe", "C:\\TeX\\miktex\\bin\\tex.exe"},
        .path = root242 + "\\miktex\\bin;C:\\TeX\\miktex\\bin",
        .hklmLocal = "C:\\l"},
       qm::MiKTeXNormal,
       "C:\\TeX",
       "C:\\l"},
      {"md.ini path over 260 characters: not a Direct CD",
       {.files = {root241 + "\\miktex\\bin\\tex.exe"},
        .readOnly = {root241 + "\\miktex\\config\\md.ini"},
        .hklmInstall = root241,
        .hklmLocal = "C:\\l",
        .mdLocalRoot = "C:\\x"},
       qm::MiKTeXNormal,
       root241,
       "C:\\l"},
      {"Local Root of 261 characters everywhere",
       {.files = {"C:\\TeX\\miktex\\bin\\tex.exe"},
        .hklmInstall = "C:\\TeX",
        .hklmLocal = local261},
       qm::MiKTeXNoLocalRoot,
       "C:\\TeX",
       ""},
      {"MD_LOCALROOT of 261 characters: as if unset",
       {.files = {cd},
        .readOnly = {mdIni},
        .hklmInstall = "C:\\CD",
        .mdLocalRoot = local261,
        .systemDrive = "D:"},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       "D:\\MiKTeXDirect"},
      {"MD_LOCALROOT of 260 characters is taken",
       {.files = {cd},
        .readOnly = {mdIni},
        .hklmInstall = "C:\\CD",
        .mdLocalRoot = std::string(260, 'L')},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       std::string(260, 'L')},
      {"SystemDrive too long to take \\MiKTeXDirect: local root empty",
       {.files = {cd}, .readOnly = {mdIni}, .hklmInstall = "C:\\CD", .systemDrive = drive248},
       qm::MiKTeXDirectCD,
       "C:\\CD",
       ""},
  });
}

TEST(ReadMiKTeXSetting, ReadsEachValueFromTheFirstRootThatHasIt) {
  struct Case {
    const char* name;
    const char* hkcu;  // nullptr: not set
    const char* hklm;
    bool read;
    std::string expected;
  };
  const std::string fits(260, 'a');
  const std::string tooLong(261, 'b');
  const Case cases[] = {
      {"user only", "C:\\u", nullptr, true, "C:\\u"},
      {"machine only", nullptr, "C:\\m", true, "C:\\m"},
      {"both: user", "C:\\u", "C:\\m", true, "C:\\u"},
      {"user's empty value still counts", "", "C:\\m", true, ""},
      {"260 characters fit", fits.c_str(), nullptr, true, fits},
      {"261 characters for the user: machine's", tooLong.c_str(), "C:\\m", true, "C:\\m"},
      {"261 characters everywhere", tooLong.c_str(), tooLong.c_str(), false, "before"},
      {"neither", nullptr, nullptr, false, "before"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    if (c.hkcu) SetValue(HKEY_CURRENT_USER, kMiKTeXKey, "Local Root", c.hkcu);
    if (c.hklm) SetValue(HKEY_LOCAL_MACHINE, kMiKTeXKey, "Local Root", c.hklm);
    std::string out = "before";
    EXPECT_EQ(qm::ReadMiKTeXSetting(out, "Local Root"), c.read);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(ReadMiKTeXSetting, StoredWithoutTerminatorAndWithTrailingBytes) {
  qmtest::TempPrefix prefix;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kMiKTeXKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::string bare = "C:\\bare";  // no terminator stored
  const std::string twoStrings("C:\\first\0C:\\second\0", 20);
  const std::string full(261, 'f');  // fills the whole capacity, no terminator
  RegSetValueExA(key, "Install Root", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare.data()),
                 static_cast<DWORD>(bare.size()));
  RegSetValueExA(key, "Local Root", 0, REG_MULTI_SZ,
                 reinterpret_cast<const BYTE*>(twoStrings.data()),
                 static_cast<DWORD>(twoStrings.size()));
  RegSetValueExA(key, "Full", 0, REG_BINARY, reinterpret_cast<const BYTE*>(full.data()),
                 static_cast<DWORD>(full.size()));
  RegCloseKey(key);

  std::string out;
  EXPECT_TRUE(qm::ReadMiKTeXSetting(out, "Install Root"));
  EXPECT_EQ(out, "C:\\bare");
  EXPECT_TRUE(qm::ReadMiKTeXSetting(out, "Local Root"));
  EXPECT_EQ(out, "C:\\first");
  out = "kept";
  EXPECT_FALSE(qm::ReadMiKTeXSetting(out, "Full"));
  EXPECT_EQ(out, "kept");
}

TEST(IsExistingFile, FilesOnly) {
  qmtest::TempPrefix prefix;
  prefix.WriteFile("C:\\TeX\\miktex\\bin\\tex.exe", "");
  prefix.MakeDir("C:\\TeX\\miktex\\bin\\dir.exe");
  const struct {
    const char* path;
    bool exists;
  } cases[] = {
      {"C:\\TeX\\miktex\\bin\\tex.exe", true},  {"c:\\tex\\MIKTEX\\BIN\\TEX.EXE", true},
      {"C:\\TeX\\miktex\\bin\\dir.exe", false}, {"C:\\TeX\\miktex\\bin\\none.exe", false},
      {"C:\\TeX\\miktex\\bin\\*.exe", false},   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(qm::IsExistingFile(c.path), c.exists) << c.path;
}

TEST(FindOnSearchPath, ComposesCandidatesAsTheListWritesThem) {
  struct Case {
    const char* name;
    const char* list;  // nullptr: variable not set
    std::string expected;
  };
  const std::string longDir = LongDirectory(252);  // + \tool.exe = 261
  const std::string longList = longDir + ";C:\\Tools";
  const std::string fitDir = LongDirectory(251);  // + \tool.exe = 260
  const Case cases[] = {
      {"not set", nullptr, ""},
      {"kept as written, case and all", "c:\\TOOLS", "c:\\TOOLS\\tool.exe"},
      {"no second backslash", "C:\\Tools\\", "C:\\Tools\\tool.exe"},
      {"a slash ends the directory", "C:\\Tools/", "C:\\Tools/tool.exe"},
      {"first hit wins", "C:\\Other;C:\\Tools", "C:\\Other\\tool.exe"},
      {"missing directories passed over", "C:\\none;;C:\\Tools", "C:\\Tools\\tool.exe"},
      {"quotes removed", "\"C:\\Tools\"", "C:\\Tools\\tool.exe"},
      {"quotes in the middle removed", "C:\\\"To\"ols", "C:\\Tools\\tool.exe"},
      {"empty entry after quotes ends the search", "\"\";C:\\Tools", ""},
      {"leading runs of ';' skipped", ";;;C:\\Tools", "C:\\Tools\\tool.exe"},
      {"candidate over 260 characters skipped", longList.c_str(), "C:\\Tools\\tool.exe"},
      {"candidate of 260 characters taken", fitDir.c_str(), fitDir + "\\tool.exe"},
      {"nothing there", "C:\\none;C:\\Empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    prefix.WriteFile("C:\\Tools\\tool.exe", "");
    prefix.WriteFile("C:\\Other\\tool.exe", "");
    prefix.WriteFile(longDir + "\\tool.exe", "");
    prefix.WriteFile(fitDir + "\\tool.exe", "");
    prefix.MakeDir("C:\\Empty");
    prefix.ChangeDir("C:\\Empty");
    ScopedVariable list("QMTOOLPATH", c.list);
    std::string out = "stale";
    qm::FindOnSearchPath(out, "tool.exe", "qmtoolpath");
    EXPECT_EQ(out, c.expected);
  }
}

TEST(FindOnSearchPath, CurrentDirectoryFirstByItsFullPath) {
  qmtest::TempPrefix prefix;
  prefix.WriteFile("C:\\Work\\Dir\\tool.exe", "");
  prefix.WriteFile("C:\\Tools\\tool.exe", "");
  prefix.ChangeDir("C:\\Work\\Dir");
  ScopedVariable list("QMTOOLPATH", "C:\\Tools");
  std::string out;
  qm::FindOnSearchPath(out, "tool.exe", "QMTOOLPATH");
  EXPECT_EQ(out, "C:\\Work\\Dir\\tool.exe");
}

// The current directory's entry is found by its absolute path, which has to
// fit in 260 characters like any other; a longer one is passed over.
TEST(FindOnSearchPath, CurrentDirectoryEntryWithinTheLimit) {
  const std::string fits = LongDirectory(251);      // + \tool.exe = 260
  const std::string tooLong = LongDirectory(252);   // + \tool.exe = 261
  const struct {
    const std::string& cwd;
    std::string expected;
  } cases[] = {
      {fits, fits + "\\tool.exe"},
      {tooLong, "C:\\Tools\\tool.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cwd.size());
    qmtest::TempPrefix prefix;
    prefix.WriteFile(c.cwd + "\\tool.exe", "");
    prefix.WriteFile("C:\\Tools\\tool.exe", "");
    prefix.ChangeDir(c.cwd);
    ScopedVariable list("QMTOOLPATH", "C:\\Tools");
    std::string out;
    qm::FindOnSearchPath(out, "tool.exe", "QMTOOLPATH");
    EXPECT_EQ(out, c.expected);
  }
}

// A double-byte character whose trail byte is 0x5C does not end a directory
// with a backslash: the separator is still added. (The machine's code page,
// 936 as the program's default locale, takes "\xA5\x5C" as one character.)
TEST(FindOnSearchPath, TrailByteIsNoSeparator) {
  qmtest::TempPrefix prefix;
  const std::string dir = prefix.driveC() + "/\xA5\\";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/tool.exe") << "MZ";
  prefix.ChangeDir("C:\\");
  ScopedVariable list("QMTOOLPATH", "C:\\\xA5\\");
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  std::string out;
  qm::FindOnSearchPath(out, "tool.exe", "QMTOOLPATH");
  text::SetLocale("C");
  EXPECT_EQ(out, "C:\\\xA5\\\\tool.exe");
}

TEST(DetectWinEdt, UserFirstThenMachine) {
  struct Case {
    const char* name;
    const char* hkcu;  // nullptr: no value
    bool userKeyOnly;  // the user's key exists without a value
    const char* hklm;
    int result;
    std::string expected;
  };
  const Case cases[] = {
      {"user", "C:\\WinEdt Team\\WinEdt", false, nullptr, 0, "C:\\WinEdt Team\\WinEdt"},
      {"machine", nullptr, false, "D:\\WinEdt", 0, "D:\\WinEdt"},
      {"both: user", "C:\\mine", false, "C:\\all", 0, "C:\\mine"},
      {"user key without the value", nullptr, true, "C:\\all", 0, "C:\\all"},
      {"empty user value", "", false, "C:\\all", 0, "C:\\all"},
      {"only empty values", "", false, "", 1, ""},
      {"none", nullptr, true, nullptr, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    if (c.userKeyOnly) {
      ASSERT_EQ(qm::CreateRegistryKey(HKEY_CURRENT_USER, "Software\\WinEdt"), 0);
    }
    if (c.hkcu) SetValue(HKEY_CURRENT_USER, "Software\\WinEdt", "Install Root", c.hkcu);
    if (c.hklm) SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\WinEdt", "Install Root", c.hklm);
    std::string out = "stale";
    EXPECT_EQ(qm::DetectWinEdt(out), c.result);
    EXPECT_EQ(out, c.expected);
  }
}

}  // namespace
