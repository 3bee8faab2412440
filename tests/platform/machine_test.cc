// The emulated machine where the conformance table, the README and the scenarios do not reach.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/crt.h"
#include "platform/emulated/machine.h"
#include "platform/lifecycle.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"

namespace {

void Put(const std::string& name, const std::string& text) {
  qm::WriteRegistryString(text, HKEY_CURRENT_USER, "Software\\Store", name);
}

std::string Get(const std::string& name) {
  std::string value;
  qm::ReadRegistryString(value, HKEY_CURRENT_USER, "Software\\Store", name);
  return value.c_str();
}

// Other runs: this binary again, QM_STORE_CHILD naming it. A run adds one to a counter and
// sets its name to "1" and "parent"'s value; "die" ends one run, then writes until killed;
// "turn" takes the machine's turn, says so, then works outside the registry for a while.
const bool kIsChild = [] {
  const char* what = std::getenv("QM_STORE_CHILD");
  if (!what) return false;
  if (what == std::string("turn")) {
    port::TakeMachineTurn();
    std::fclose(std::fopen(std::getenv("QM_KILL_ME"), "w"));
    ::usleep(300 * 1000);
    std::fclose(std::fopen((std::string(std::getenv("QM_KILL_ME")) + "-done").c_str(), "w"));
    std::_Exit(port::FinishRun() == 0 ? 0 : 2);
  }
  for (int i = 0; what == std::string("die"); ++i) {
    Put(i ? "second" : "first", "1");
    if (i == 0) emulated::FinishRun();
    if (i == 300) std::fclose(std::fopen(std::getenv("QM_KILL_ME"), "w"));
  }
  const std::string counter = std::to_string(std::stoi("0" + Get("Counter")) + 1);
  ::usleep(2000);  // widens the window between the read and the write
  Put("Counter", counter);
  Put(what, "1" + Get("parent"));
  std::_Exit(emulated::FinishRun() == 0 ? 0 : 2);
}();

struct Machine : ::testing::Test { qmtest::TempPrefix prefix; };

TEST_F(Machine, StoreRuns) {
  ::setenv("SELF", ("/proc/" + std::to_string(::getpid()) + "/exe").c_str(), 1);
  ::setenv("QM_KILL_ME", (prefix.dir() + "/killme").c_str(), 1);
  // Sixteen runs at once on a new prefix, serialised: none loses an update.
  ASSERT_EQ(crt::system("for i in $(seq 16); do QM_STORE_CHILD=w$i $SELF & done; wait"), 0);
  EXPECT_EQ(Get("Counter") + Get("w1") + Get("w16"), "1611");
  // A run killed in its middle leaves nothing of itself: it is one transaction.
  EXPECT_EQ(crt::system("QM_STORE_CHILD=die $SELF & while kill -0 $! && [ ! -e $QM_KILL_ME ]; do "
                        "sleep 0.01; done; kill -9 $! && wait $! 2>/dev/null"),
            128 + SIGKILL);
  EXPECT_EQ(Get("first") + "|" + Get("second"), "1|");
  // system() commits first: a child run sees the run's changes and adds its own.
  Put("parent", "1");
  EXPECT_EQ(crt::system("QM_STORE_CHILD=see $SELF"), 0);
  EXPECT_EQ(Get("see"), "11");
  EXPECT_EQ(emulated::FinishRun(), 0);
  // Another run's turn is waited for until it finishes, whatever it does meanwhile; one killed
  // while it has the turn is not.
  for (const char* end : {"", "; kill -9 $!"}) {
    ::unlink(std::getenv("QM_KILL_ME"));
    ASSERT_EQ(crt::system((std::string("QM_STORE_CHILD=turn $SELF & while [ ! -e $QM_KILL_ME ]; do "
                                       "sleep 0.01; done") + end).c_str()), 0);
    port::TakeMachineTurn();
    EXPECT_EQ(::access((std::string(std::getenv("QM_KILL_ME")) + "-done").c_str(), F_OK) == 0, !*end);
    Put("turn", "1");
    EXPECT_EQ(port::FinishRun(), 0);
    ::unlink((std::string(std::getenv("QM_KILL_ME")) + "-done").c_str());
  }
}

// A step a row: A finds and S sets attributes, C makes a directory, D deletes,
// M moves (never over a file), R over a file (not a read-only one). Names match
// without regard to case, the exact spelling first; in code page 936 0x5C after
// a lead byte is no separator; Z: is the host's /; read-only is the mode.
TEST_F(Machine, FileCalls) {
  for (const char* f : {"C:\\D\\Name", "C:\\D\\name", "C:\\a", "C:\\r"}) prefix.WriteFile(f, f + 3);
  ASSERT_EQ(::chmod(prefix.HostPath("C:\\r").c_str(), 0444), 0);
  const DWORD kNone = INVALID_FILE_ATTRIBUTES;
  const struct { char call; std::string path; const char* to; DWORD attributes, error; } steps[] = {
      {'A', "c:/d/../d/NAME", "", 0x20, 0}, {'A', "C:\\R", "", 0x21, 0},
      {'A', "Z:" + prefix.dir(), "", 0x10, 0}, {'A', "C:\\no\\x", "", kNone, 3},
      {'C', "C:\\\x81\x5C", "", 0, 0}, {'M', "C:\\a", "C:\\\x81\x5C\\f", 0, 0},
      {'A', "C:\\\x81\x5C\\F", "", 0x20, 0}, {'A', "C:\\\x81", "", kNone, 2},
      {'D', "C:\\r", "", 0, 5}, {'M', "C:\\r", "C:\\d\\NAME", 0, 183},
      {'R', "C:\\D\\Name", "C:\\r", 0, 5}, {'R', "C:\\r", "C:\\d\\name", 0, 0},
      {'S', "C:\\d\\Name", "", 0x01, 0}, {'A', "C:\\d\\Name", "", 0x01, 0},
      {'D', "C:\\D\\Name", "", 0, 5}, {'S', "C:\\D\\Name", "", 0x80, 0},
      {'D', "C:\\D\\Name", "", 0, 0}};
  for (const auto& s : steps) {
    const char* path = s.path.c_str();
    DWORD got = s.attributes;
    const BOOL ok = s.call == 'A'   ? (got = GetFileAttributesA(path)) != kNone
                    : s.call == 'C' ? CreateDirectoryA(path, nullptr)
                    : s.call == 'D' ? DeleteFileA(path)
                    : s.call == 'M' ? MoveFileA(path, s.to)
                    : s.call == 'R' ? MoveFileExA(path, s.to, MOVEFILE_REPLACE_EXISTING)
                                    : SetFileAttributesA(path, s.attributes);
    EXPECT_EQ(std::pair(got, ok ? 0 : GetLastError()), std::pair(s.attributes, s.error)) << s.path;
  }
  EXPECT_EQ(prefix.ReadFile("C:\\D\\name"), "r");
  // Hidden and archive live in the extended attribute user.DOSATTRIB.
  const std::string host = prefix.HostPath("C:\\D\\name");
  char stored[8] = {};
  EXPECT_TRUE(SetFileAttributesA("C:\\D\\name", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  if (::setxattr(host.c_str(), "user.probe", "", 0, 0) != 0) GTEST_SKIP() << "no user xattrs";
  EXPECT_EQ(::getxattr(host.c_str(), "user.DOSATTRIB", stored, 7), 4);
  EXPECT_EQ(stored + std::to_string(GetFileAttributesA("C:\\d\\name")), "0x2234");
}

// Each Windows's version word; HKEY_DYN_DATA is a root on Windows 9x alone.
TEST_F(Machine, WindowsVersions) {
  HKEY key = nullptr;
  for (auto [name, word, dynData] : {std::tuple{"win95", 0xC3B60004, 0}, {"WIN98", 0xC0000A04, 0},
                                     {"win7", 0x1DB10106, 6}, {"", 0x4A65000A, 6}}) {
    ::setenv("QUILLMARK_WINVER", name, 1);
    emulated::ResetMachine();
    EXPECT_EQ(std::pair(GetVersion(), RegCreateKeyA(HKEY_DYN_DATA, "x", &key)),
              std::pair(word, dynData));
  }
}

}  // namespace
