// system() through the machine's command interpreter, GetVersion and the
// broadcast log.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/crt.h"
#include "platform/win32api.h"
#include "support/temp_prefix.h"

namespace {

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Sets a variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedVariable() {
    if (had_)
      ::setenv(name_.c_str(), old_.c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

class ProcessTest : public ::testing::Test {
 protected:
  // A command interpreter that records its arguments, one a line, and exits
  // with 7.
  std::string InstallRecordingInterpreter(const std::string& dosPath) {
    record_ = prefix_.dir() + "/args.txt";
    prefix_.WriteFile(dosPath, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                   record_ + "'\nexit 7\n");
    std::string host = prefix_.HostPath(dosPath);
    EXPECT_EQ(::chmod(host.c_str(), 0755), 0);
    return host;
  }
  qmtest::TempPrefix prefix_;
  std::string record_;
};

TEST_F(ProcessTest, SystemRunsComSpecWithSlashC) {
  InstallRecordingInterpreter("C:\\windows\\system32\\cmd.exe");
  // The DOS path goes through the drive map, without regard to case.
  ScopedVariable comspec("ComSpec", "C:\\WINDOWS\\System32\\CMD.EXE");
  EXPECT_EQ(crt::system("\"C:\\Program Files\\x.exe\" a & b"), 7);
  EXPECT_EQ(ReadHostFile(record_), "/c\n\"C:\\Program Files\\x.exe\" a & b\n");
}

TEST_F(ProcessTest, SystemTakesAnAbsoluteHostComSpec) {
  std::string host = InstallRecordingInterpreter("C:\\tools\\interp");
  ScopedVariable comspec("COMSPEC", host.c_str());
  EXPECT_EQ(crt::system("go.bat"), 7);
  EXPECT_EQ(ReadHostFile(record_), "/c\ngo.bat\n");
}

TEST_F(ProcessTest, SystemFallsBackToTheHostShell) {
  prefix_.WriteFile("C:\\windows\\system32\\notexec.exe", "#!/bin/sh\nexit 9\n");
  const char* unusable[] = {
      nullptr,                               // the machine's cmd.exe, which is not there
      "C:\\windows\\system32\\missing.exe",  // missing
      "C:\\windows\\system32\\notexec.exe",  // not executable
      "C:\\windows\\system32",               // a directory
  };
  for (const char* value : unusable) {
    ScopedVariable comspec("ComSpec", value);
    prefix_.ChangeDir("C:\\");
    EXPECT_EQ(crt::system("echo ran > marker.txt; exit 3"), 3) << (value ? value : "unset");
    EXPECT_EQ(prefix_.ReadFile("C:\\marker.txt"), "ran\n");
    std::remove(prefix_.HostPath("C:\\marker.txt").c_str());
  }
  EXPECT_NE(crt::system(nullptr), 0);
}

TEST_F(ProcessTest, SystemFlushesWhatWasPrintedFirst) {
  ScopedVariable comspec("ComSpec", nullptr);
  std::string out = prefix_.dir() + "/stdout.txt";
  std::fflush(stdout);
  int saved = ::dup(1);
  ASSERT_GE(saved, 0);
  ASSERT_NE(std::freopen(out.c_str(), "w", stdout), nullptr);
  std::fputs("before ", stdout);  // buffered: stdout is a file now
  int status = crt::system("printf after");
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadHostFile(out), "before after");
}

// A child that is itself a run of the program must find the registry free:
// the run's changes so far are committed before the child starts.
TEST_F(ProcessTest, SystemCommitsTheRunsRegistryChangesFirst) {
  ScopedVariable comspec("ComSpec", nullptr);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QmProcessTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const BYTE data[] = "v";
  ASSERT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);
  RegCloseKey(key);

  auto writeLockFree = [&] {
    sqlite3* db = nullptr;
    bool free = false;
    if (sqlite3_open((prefix_.dir() + "/registry.db").c_str(), &db) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 0);
      free = sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close(db);
    return free;
  };
  EXPECT_FALSE(writeLockFree());  // the run holds its transaction
  EXPECT_EQ(crt::system("true"), 0);
  EXPECT_TRUE(writeLockFree());
}

TEST(VersionTest, WordsOfEachWindows) {
  const struct {
    const char* name;
    DWORD word;
  } cases[] = {
      {"win95", 0xC3B60004}, {"win98", 0xC0000A04}, {"WINME", 0xC0005A04}, {"winxp", 0x0A280105},
      {"Win7", 0x1DB10106},  {"win10", 0x4A65000A}, {nullptr, 0x4A65000A}, {"win31", 0x4A65000A},
  };
  for (const auto& c : cases) {
    ScopedVariable winver("QUILLMARK_WINVER", c.name);
    EXPECT_EQ(GetVersion(), c.word) << (c.name ? c.name : "unset");
  }
}

TEST(BroadcastTest, AppendsOneLinePerMessage) {
  qmtest::TempPrefix prefix;
  DWORD_PTR result = 99;
  EXPECT_NE(
      SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                          reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG, 5000, &result),
      0);
  EXPECT_EQ(result, 0u);
  EXPECT_NE(SendMessageTimeoutA(HWND_BROADCAST, 0x1234, 0, reinterpret_cast<LPARAM>("x"),
                                SMTO_NORMAL, 100, nullptr),
            0);
  EXPECT_NE(SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, SMTO_NORMAL, 100, nullptr),
            0);
  EXPECT_EQ(ReadHostFile(prefix.dir() + "/broadcast.log"),
            "WM_SETTINGCHANGE Environment\n0x1234 x\nWM_SETTINGCHANGE\n");
  // No window but the broadcast one exists on the machine.
  EXPECT_EQ(SendMessageTimeoutA(reinterpret_cast<HWND>(0x1234), WM_SETTINGCHANGE, 0, 0, SMTO_NORMAL,
                                100, nullptr),
            0);
}

}  // namespace
