#include "detect/gs_java.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "detect/installation.h"
#include "env/envstore.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace {

using qmtest::LongDirectory;
using qmtest::ScopedVariable;
using qmtest::SetValue;

constexpr const char* kJavaKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr const char* kGnu = "SOFTWARE\\GNU Ghostscript";
constexpr const char* kGpl = "SOFTWARE\\GPL Ghostscript";
constexpr const char* kAfpl = "SOFTWARE\\AFPL Ghostscript";

// One registered version: the family's key, the version subkey (nullptr: the
// family's key alone) and its value (nullptr: the subkey has no such value).
struct Entry {
  const char* key;
  const char* version;
  const char* value;
};

void Register(const std::vector<Entry>& entries, const char* valueName) {
  for (const auto& e : entries) {
    const std::string subkey = e.version ? std::string(e.key) + "\\" + e.version : e.key;
    if (e.value)
      SetValue(HKEY_LOCAL_MACHINE, subkey, valueName, e.value);
    else
      ASSERT_EQ(qm::CreateRegistryKey(HKEY_LOCAL_MACHINE, subkey), 0);
  }
}

struct FinderCase {
  const char* name;
  std::vector<Entry> entries;
  int result;
  std::string expected;
};

// Each case on a fresh machine: its versions registered under `valueName`,
// then `find` must give the case's result and text.
template <size_t N>
void ExpectFinds(const FinderCase (&cases)[N], const char* valueName, int (*find)(std::string&)) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    Register(c.entries, valueName);
    std::string out = "stale";
    EXPECT_EQ(find(out), c.result);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(FindLatestJava, TheHighestVersionIsTheNewest) {
  const FinderCase cases[] = {
      {"1.4.2 over 1.4 and 1.3",
       {{kJavaKey, "1.3", "C:\\jre1.3"},
        {kJavaKey, "1.4.2", "C:\\Program Files\\Java\\j2re1.4.2"},
        {kJavaKey, "1.4", "C:\\jre1.4"}},
       0,
       "C:\\Program Files\\Java\\j2re1.4.2"},
      {"1.10 over 1.9",
       {{kJavaKey, "1.9", "C:\\jre1.9"}, {kJavaKey, "1.10", "C:\\jre1.10"}},
       0,
       "C:\\jre1.10"},
      {"17 over 9 and 1.8.0_301",
       {{kJavaKey, "1.8.0_301", "C:\\jre8"},
        {kJavaKey, "17", "C:\\jdk17"},
        {kJavaKey, "9", "C:\\jre9"}},
       0,
       "C:\\jdk17"},
      {"newest without JavaHome: no fallback to an older one",
       {{kJavaKey, "1.4", "C:\\jre1.4"}, {kJavaKey, "1.5", nullptr}},
       1,
       ""},
      {"empty JavaHome names no runtime", {{kJavaKey, "1.6", ""}}, 1, ""},
      {"key without versions", {{kJavaKey, nullptr, nullptr}}, 1, ""},
      {"nothing registered", {}, 1, ""},
  };
  ExpectFinds(cases, "JavaHome", qm::FindLatestJava);
}

TEST(FindLatestGhostscript, LastFamilyWithAValueThenHighestVersion) {
  const FinderCase cases[] = {
      {"GNU alone", {{kGnu, "7.07", "C:\\gs\\gs7.07\\bin\\gsdll32.dll"}}, 0, "C:\\gs\\gs7.07\\bin"},
      {"AFPL wins over a newer GNU",
       {{kGnu, "9.0", "C:\\gnu\\bin\\gsdll32.dll"}, {kAfpl, "8.14", "C:\\afpl\\bin\\gsdll32.dll"}},
       0,
       "C:\\afpl\\bin"},
      {"GPL wins over GNU",
       {{kGnu, "8.0", "C:\\gnu\\bin\\gsdll32.dll"}, {kGpl, "8.1", "C:\\gpl\\bin\\gsdll32.dll"}},
       0,
       "C:\\gpl\\bin"},
      {"an AFPL key whose newest version has no GS_DLL yields nothing",
       {{kGpl, "8.50", "C:\\gpl\\bin\\gsdll32.dll"},
        {kAfpl, "8.0", "C:\\afpl\\bin\\gsdll32.dll"},
        {kAfpl, "8.54", nullptr}},
       0,
       "C:\\gpl\\bin"},
      {"10.0 over 8.50",
       {{kGpl, "8.50", "C:\\gs\\gs8.50\\bin\\gsdll32.dll"},
        {kGpl, "10.0", "C:\\gs\\gs10.0\\bin\\gsdll64.dll"}},
       0,
       "C:\\gs\\gs10.0\\bin"},
      {"10.02 over 9.56",
       {{kGpl, "9.56", "C:\\gs\\gs9.56\\bin\\gsdll32.dll"},
        {kGpl, "10.02", "C:\\gs\\gs10.02\\bin\\gsdll32.dll"}},
       0,
       "C:\\gs\\gs10.02\\bin"},
      {"cut at the last backslash only", {{kGnu, "8.0", "C:\\a\\b\\c.dll"}}, 0, "C:\\a\\b"},
      {"GS_DLL without a backslash: left as read",
       {{kGnu, "8.0", "C:\\gnu\\bin\\gsdll32.dll"}, {kAfpl, "8.0", "gsdll32.dll"}},
       1,
       "gsdll32.dll"},
      {"nothing registered", {}, 1, ""},
  };
  ExpectFinds(cases, "GS_DLL", qm::FindLatestGhostscript);
}

// In the program's default code page (936) the second byte of a double-byte
// character may be 0x5C: it is no backslash, and the directory is never cut
// inside that character.
TEST(FindLatestGhostscript, TrailByteIsNoBackslash) {
  const FinderCase cases[] = {
      {"file name ending in such a character",
       {{kGpl, "10.0", "C:\\gs\\bin\\gs\xD5\x5C.dll"}},
       0,
       "C:\\gs\\bin"},
      {"directory ending in such a character",
       {{kGpl, "10.0", "C:\\\xD5\x5C\\gsdll32.dll"}},
       0,
       "C:\\\xD5\x5C"},
      {"no backslash but a trail byte: left as read",
       {{kGpl, "10.0",
         "gs\xD5\x5C"
         "dll.dll"}},
       1,
       "gs\xD5\x5C"
       "dll.dll"},
  };
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  ExpectFinds(cases, "GS_DLL", qm::FindLatestGhostscript);
  text::SetLocale("C");
}

TEST(RegisterJavaw, StoresJavawInTheSystemVariable) {
  const std::string home246 = LongDirectory(246);  // + \bin\javaw.exe = 260
  const std::string home247 = LongDirectory(247);  // + \bin\javaw.exe = 261
  const std::string home261 = LongDirectory(261);
  struct Case {
    const char* name;
    std::string home;  // empty with registered = false: no Java at all
    bool registered;
    const char* variable;
    int result;
    std::string stored;  // empty: the variable must not exist
  };
  const Case cases[] = {
      {"default name", "C:\\Program Files\\Java\\j2re1.4.2", true, "javacommand", 0,
       "C:\\Program Files\\Java\\j2re1.4.2\\bin\\javaw.exe"},
      {"named variable", "C:\\jre", true, "JAVACMD", 0, "C:\\jre\\bin\\javaw.exe"},
      {"home ending in a backslash", "C:\\jre\\", true, "javacommand", 0,
       "C:\\jre\\bin\\javaw.exe"},
      {"no runtime", "", false, "javacommand", 1, ""},
      {"empty JavaHome", "", true, "javacommand", 1, ""},
      {"260 characters fit", home246, true, "javacommand", 0, home246 + "\\bin\\javaw.exe"},
      {"261 characters are not cut", home247, true, "javacommand", 1, ""},
      {"JavaHome of 261 characters", home261, true, "javacommand", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    if (c.registered)
      SetValue(HKEY_LOCAL_MACHINE, std::string(kJavaKey) + "\\1.4.2", "JavaHome", c.home);
    qm::EnvironmentChanged = 0;
    EXPECT_EQ(qm::RegisterJavaw(c.variable), c.result);
    std::string stored;
    const int read = qm::GetEnvironmentValue(stored, c.variable, qm::EnvScope::System);
    if (c.stored.empty()) {
      EXPECT_NE(read, 0) << stored;
      EXPECT_EQ(qm::EnvironmentChanged, 0);
    } else {
      EXPECT_EQ(read, 0);
      EXPECT_EQ(stored.c_str(), c.stored);
      EXPECT_NE(qm::GetEnvironmentValue(stored, c.variable, qm::EnvScope::User), 0);
    }
  }
}

// Ghostscript joins the system Path only when gswin32c.exe is not reachable
// already, and only as the registry names it.
TEST(AddGhostscriptToPath, AddsOnlyWhatIsMissing) {
  const std::string longDll = LongDirectory(250) + "\\gsdll32.dll";  // 262 characters
  struct Case {
    const char* name;
    std::vector<std::string> files;
    const char* cwd;
    const char* processPath;
    std::vector<Entry> entries;
    int result;
    bool added;  // C:\gs\gs10.0\bin put in front of the system Path
  };
  const Case cases[] = {
      {"registered, not reachable",
       {},
       "C:\\",
       "C:\\windows",
       {{kGpl, "10.0", "C:\\gs\\gs10.0\\bin\\gsdll32.dll"}},
       0,
       true},
      {"registered, on the process Path",
       {"C:\\Tools\\gswin32c.exe"},
       "C:\\",
       "C:\\windows;C:\\Tools",
       {{kGpl, "10.0", "C:\\gs\\gs10.0\\bin\\gsdll32.dll"}},
       0,
       false},
      {"in the current directory, nothing registered",
       {"C:\\Work\\gswin32c.exe"},
       "C:\\Work",
       "C:\\windows",
       {},
       0,
       false},
      {"nothing registered, not reachable", {}, "C:\\", "C:\\windows", {}, 2, false},
      {"GS_DLL without a directory",
       {},
       "C:\\",
       "C:\\windows",
       {{kGpl, "10.0", "gsdll32.dll"}},
       2,
       false},
      {"a directory holding ';' is not split into two Path entries",
       {"C:\\gs\\a\\x.dll"},
       "C:\\",
       "C:\\windows",
       {{kGpl, "10.0", "C:\\gs\\a;C:\\gs\\gs10.0\\bin\\gsdll32.dll"}},
       2,
       false},
      {"GS_DLL longer than 260 characters: not found, no older family instead",
       {},
       "C:\\",
       "C:\\windows",
       {{kGnu, "10.0", "C:\\gs\\gs10.0\\bin\\gsdll32.dll"}, {kAfpl, "8.0", longDll.c_str()}},
       2,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qmtest::TempPrefix prefix;
    prefix.MakeDir("C:\\gs\\gs10.0\\bin");
    for (const auto& f : c.files) prefix.WriteFile(f, "");
    prefix.ChangeDir(c.cwd);
    Register(c.entries, "GS_DLL");
    ScopedVariable path("Path", c.processPath);
    std::string before;
    ASSERT_EQ(qm::GetEnvironmentValue(before, "Path", qm::EnvScope::System), 0);
    before.resize(std::strlen(before.c_str()));

    EXPECT_EQ(qm::AddGhostscriptToPath(qm::EnvScope::System, qm::PathPlacement::Start), c.result);
    std::string after;
    ASSERT_EQ(qm::GetEnvironmentValue(after, "Path", qm::EnvScope::System), 0);
    after.resize(std::strlen(after.c_str()));
    EXPECT_EQ(after, c.added ? "C:\\gs\\gs10.0\\bin;" + before : before);
  }
}

}  // namespace
