// The registry store under several runs at once and under runs that die: the
// runs are other processes (this test binary started again with
// QM_STORE_CHILD naming what it should do), on the prefix of the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "support/temp_prefix.h"

extern char** environ;

namespace {

constexpr const char* kChildVariable = "QM_STORE_CHILD";
constexpr const char* kKey = "Software\\Concurrent";
constexpr int kWriters = 16;
constexpr int kValuesPerWriter = 50;
constexpr int kFirstRunValues = 100;
constexpr int kValuesBeforeSignal = 500;

// ---- What a child run does ---------------------------------------------------

bool SetText(HKEY key, const std::string& name, const std::string& text) {
  return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

HKEY CreateKey() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

int WriteValues(int writer) {
  HKEY key = CreateKey();
  if (!key) return 2;
  for (int i = 0; i < kValuesPerWriter; ++i)
    if (!SetText(key, "w" + std::to_string(writer) + "_" + std::to_string(i), "x")) return 3;
  RegCloseKey(key);
  return emulated::FinishRun() == ERROR_SUCCESS ? 0 : 4;
}

// Reads a counter and writes it back one higher: only runs that hold the
// store from their first call to their end keep every increment.
int Increment() {
  HKEY key = CreateKey();
  if (!key) return 2;
  DWORD value = 0, size = sizeof value;
  LONG rc =
      RegQueryValueExA(key, "Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return 3;
  ::usleep(2000);  // widen the window between the read and the write
  ++value;
  if (RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4) !=
      ERROR_SUCCESS)
    return 4;
  RegCloseKey(key);
  return emulated::FinishRun() == ERROR_SUCCESS ? 0 : 5;
}

// One whole run, then a second that signals in its middle and never ends.
int WriteUntilKilled(int signalFd) {
  HKEY key = CreateKey();
  for (int i = 0; i < kFirstRunValues; ++i)
    if (!SetText(key, "first" + std::to_string(i), "1")) return 2;
  if (emulated::FinishRun() != ERROR_SUCCESS) return 3;
  key = CreateKey();
  for (long i = 0;; ++i) {
    if (!SetText(key, "second" + std::to_string(i % 5000), std::to_string(i))) return 4;
    if (i == kValuesBeforeSignal && ::write(signalFd, "k", 1) != 1) return 5;
  }
}

// Sees what the parent committed before starting it, and adds its own.
int SeeAndAdd() {
  HKEY key = CreateKey();
  char buf[16];
  DWORD size = sizeof buf;
  if (RegQueryValueExA(key, "FromParent", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) !=
      ERROR_SUCCESS)
    return 2;
  if (!SetText(key, "FromChild", "c")) return 3;
  return emulated::FinishRun() == ERROR_SUCCESS ? 0 : 4;
}

int RunChild(const std::string& action) {
  std::size_t colon = action.find(':');
  std::string verb = action.substr(0, colon);
  int arg = colon == std::string::npos ? 0 : std::atoi(action.c_str() + colon + 1);
  if (verb == "write") return WriteValues(arg);
  if (verb == "increment") return Increment();
  if (verb == "killme") return WriteUntilKilled(arg);
  if (verb == "see") return SeeAndAdd();
  return 99;
}

// Children act before the test framework starts and leave without it.
const bool kIsChild = [] {
  const char* action = std::getenv(kChildVariable);
  if (!action) return false;
  std::_Exit(RunChild(action));
}();

// ---- The parent's side ---------------------------------------------------------

pid_t Spawn(const std::string& action) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "QM_STORE_CHILD=", 15) != 0) env.emplace_back(*e);
  env.push_back(std::string(kChildVariable) + "=" + action);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0) return -1;
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

std::string IntegrityCheck(const std::string& dir) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2((dir + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return result;
}

std::vector<std::string> ValueNames() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, size);
  }
  RegCloseKey(key);
  return names;
}

class StoreReliabilityTest : public ::testing::Test {
 protected:
  qmtest::TempPrefix prefix_;
};

TEST_F(StoreReliabilityTest, SixteenWritersOnANewPrefixKeepAllTheirValues) {
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) pids.push_back(Spawn("write:" + std::to_string(w)));
  for (pid_t pid : pids) {
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Wait(pid), 0);
  }
  std::vector<std::string> names = ValueNames();
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kWriters * kValuesPerWriter));
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kValuesPerWriter; ++i) {
      std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
      EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
  // The new prefix was seeded once, whichever run came first.
  HKEY env = nullptr;
  DWORD values = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &env), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryInfoKeyA(env, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 3u);
  RegCloseKey(env);
  ASSERT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  EXPECT_EQ(IntegrityCheck(prefix_.dir()), "ok");
}

TEST_F(StoreReliabilityTest, RunsThatReadThenWriteLoseNoUpdate) {
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) pids.push_back(Spawn("increment"));
  for (pid_t pid : pids) EXPECT_EQ(Wait(pid), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value;
  ASSERT_EQ(
      RegQueryValueExA(key, "Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(value, static_cast<DWORD>(kWriters));
  RegCloseKey(key);
}

TEST_F(StoreReliabilityTest, AKilledRunLeavesTheStoreAsBeforeIt) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = Spawn("killme:" + std::to_string(fds[1]));
  ASSERT_GT(pid, 0);
  ::close(fds[1]);
  char signal = 0;
  ASSERT_EQ(::read(fds[0], &signal, 1), 1) << "the child ended before its second run";
  ::close(fds[0]);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(Wait(pid), 1000 + SIGKILL);

  EXPECT_EQ(IntegrityCheck(prefix_.dir()), "ok");
  std::vector<std::string> names = ValueNames();
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kFirstRunValues));
  for (const std::string& name : names) EXPECT_EQ(name.rfind("first", 0), 0u) << name;
  // The dead run's lock went with it: this run writes and commits.
  HKEY key = CreateKey();
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(SetText(key, "after", "1"));
  RegCloseKey(key);
  EXPECT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames().size(), static_cast<std::size_t>(kFirstRunValues + 1));
}

TEST_F(StoreReliabilityTest, CommittingBeforeAChildLetsItSeeAndChangeTheStore) {
  HKEY key = CreateKey();
  ASSERT_TRUE(SetText(key, "FromParent", "p"));
  ASSERT_EQ(emulated::CommitPendingRun(), ERROR_SUCCESS);
  EXPECT_EQ(Wait(Spawn("see")), 0);
  // The run goes on after the child, and sees the child's change.
  char buf[8];
  DWORD size = sizeof buf;
  EXPECT_EQ(
      RegQueryValueExA(key, "FromChild", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
      ERROR_SUCCESS);
  EXPECT_TRUE(SetText(key, "Later", "l"));
  RegCloseKey(key);
  EXPECT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames().size(), 3u);
}

TEST_F(StoreReliabilityTest, ARunIsOneTransactionUntilItFinishes) {
  HKEY key = CreateKey();
  ASSERT_EQ(emulated::FinishRun(), ERROR_SUCCESS);  // the new prefix's seed and the key
  ASSERT_TRUE(SetText(key, "Pending", "1"));
  // Another run waits for this one; a reader of the file sees nothing yet.
  sqlite3* db = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2((prefix_.dir() + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  auto count = [&] {
    sqlite3_stmt* s = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM vals WHERE name = CAST('Pending' AS BLOB)", -1,
                           &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      n = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return n;
  };
  EXPECT_EQ(count(), 0);
  RegCloseKey(key);
  EXPECT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  EXPECT_EQ(count(), 1);
  sqlite3_close(db);
}

}  // namespace
