// A prefix that cannot hold a registry, or a registry.db that is damaged or
// not ours: every registry call answers with a Win32 error, nothing crashes,
// and the file is never replaced.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "support/temp_prefix.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A registry with some keys and values, committed and folded into registry.db.
void MakeRegistry(const std::string& dir) {
  ::setenv("QUILLMARK_PREFIX", dir.c_str(), 1);
  emulated::ResetMachine();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Filled", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::string data(2000, 'd');
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(
        RegSetValueExA(key, ("v" + std::to_string(i)).c_str(), 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/registry.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  // The calls a run makes first, each on a machine opened anew.
  void ExpectEveryCallFails(const std::string& prefix, LONG expected) {
    ::setenv("QUILLMARK_PREFIX", prefix.c_str(), 1);
    emulated::ResetMachine();
    HKEY key = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              expected);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), expected);
    BYTE data[8];
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, data, &size), expected);
    EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "v", 0, REG_SZ, data, 1), expected);
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Filled"), expected);
    // A store that opened before its damage showed may also fail its commit.
    long finish = emulated::FinishRun();
    EXPECT_TRUE(finish == ERROR_SUCCESS || finish == expected) << finish;
  }

  qmtest::TempPrefix temp_;
};

TEST_F(RegistryStoreTest, PrefixesThatCannotHoldARegistry) {
  const std::string base = temp_.dir() + "/cases";
  fs::create_directories(base);
  struct Case {
    const char* name;
    std::function<std::string()> make;  // returns the prefix to use
    LONG expected;
    bool needsNonRoot;
  } cases[] = {
      {"prefix is a file",
       [&] {
         WriteAll(base + "/file", "x");
         return base + "/file";
       },
       ERROR_REGISTRY_IO_FAILED, false},
      {"prefix below a file", [&] { return base + "/file/below"; }, ERROR_REGISTRY_IO_FAILED,
       false},
      {"registry.db is a directory",
       [&] {
         fs::create_directories(base + "/dbdir/registry.db");
         return base + "/dbdir";
       },
       ERROR_REGISTRY_IO_FAILED, false},
      {"prefix directory not writable",
       [&] {
         fs::create_directories(base + "/locked");
         ::chmod((base + "/locked").c_str(), 0555);
         return base + "/locked";
       },
       ERROR_ACCESS_DENIED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && ::geteuid() == 0) continue;  // root writes anywhere
    ExpectEveryCallFails(c.make(), c.expected);
  }
  ::chmod((base + "/locked").c_str(), 0755);
}

TEST_F(RegistryStoreTest, DamagedOrForeignRegistryFilesAreRefusedAndKept) {
  const std::string dir = temp_.dir() + "/damaged";
  fs::create_directories(dir);
  const std::string db = dir + "/registry.db";
  struct Case {
    const char* name;
    std::function<void()> damage;
  } cases[] = {
      {"not a database", [&] { WriteAll(db, std::string(8192, '\x5a')); }},
      {"another program's database",
       [&] {
         MakeRegistry(dir);
         // Same file format, but user_version says it is not our layout.
         std::string bytes = ReadAll(db);
         bytes[63] = 7;  // the low byte of the big-endian user_version at offset 60
         WriteAll(db, bytes);
       }},
      {"pages overwritten",
       [&] {
         MakeRegistry(dir);
         std::string bytes = ReadAll(db);
         ASSERT_GT(bytes.size(), 16384u);
         for (std::size_t i = 4096; i < bytes.size(); ++i) bytes[i] = '\x5a';
         WriteAll(db, bytes);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    c.damage();
    const std::string before = ReadAll(db);
    ExpectEveryCallFails(dir, ERROR_BADDB);
    EXPECT_TRUE(ReadAll(db) == before) << "the damaged file was changed";
  }
  // Once the file is taken away, the machine starts afresh.
  fs::remove_all(dir);
  ::setenv("QUILLMARK_PREFIX", dir.c_str(), 1);
  emulated::ResetMachine();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, ChangesSurviveTheEndOfARunAndAResetCommits) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Kept", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "a", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2),
            ERROR_SUCCESS);
  EXPECT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  // The handle outlives the run; the next call begins the next run.
  ASSERT_EQ(RegSetValueExA(key, "b", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2),
            ERROR_SUCCESS);
  emulated::ResetMachine();
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // handles went with the reset
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2u);
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, ARelativePrefixStaysWhereTheRunStarted) {
  fs::create_directories(temp_.dir() + "/start/elsewhere");
  ASSERT_EQ(::chdir((temp_.dir() + "/start").c_str()), 0);
  ::setenv("QUILLMARK_PREFIX", "rel", 1);
  emulated::ResetMachine();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Here", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(::chdir("elsewhere"), 0);
  EXPECT_EQ(emulated::PrefixDirectory(), fs::canonical(temp_.dir()).string() + "/start/rel");
  ASSERT_EQ(emulated::FinishRun(), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Here", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(fs::exists(temp_.dir() + "/start/elsewhere/rel"));
}

}  // namespace
