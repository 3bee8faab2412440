#include "digest/stamp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"
#include "text/codepage.h"

namespace qm {
namespace {

using namespace std::string_literals;

constexpr const char* kStampKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pinebrook";
constexpr const char* kDigestOfAbc = "900150983cd24fb0d6963f7d28e17f72";

class StampTest : public ::testing::Test {
 protected:
  // The names of the values under the stamp key; nullopt when the key is
  // not there at all.
  std::optional<std::vector<std::string>> StampNames() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStampKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return std::nullopt;
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD length = sizeof name;
      if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
  }

  // The stored bytes of one stamp (the terminator included), or "<none>".
  std::string Stamp(const std::string& valueName) {
    std::string out;
    if (ReadRegistryString(out, HKEY_LOCAL_MACHINE, kStampKey, valueName) != 0) return "<none>";
    return out;
  }

  qmtest::TempPrefix prefix_;
};

// The value name is "MD5:" and what follows the last backslash, as typed;
// the current directory is C:\work.
TEST_F(StampTest, NamesTheValueAfterTheLastBackslashOnly) {
  const struct {
    const char* path;
    const char* file;  // where that path leads, from C:\work
    const char* valueName;
  } kCases[] = {
      {"C:\\setup\\Install.exe", "C:\\setup\\Install.exe", "MD5:Install.exe"},
      {"Bare.exe", "C:\\work\\Bare.exe", "MD5:Bare.exe"},
      {"tools/setup.exe", "C:\\work\\tools\\setup.exe", "MD5:tools/setup.exe"},
      {"C:Drive.exe", "C:\\work\\Drive.exe", "MD5:C:Drive.exe"},
      {"..\\up\\Rel.exe", "C:\\up\\Rel.exe", "MD5:Rel.exe"},
  };
  prefix_.MakeDir("C:\\work");
  prefix_.ChangeDir("C:\\work");
  for (const auto& c : kCases) {
    prefix_.WriteFile(c.file, "abc");
    EXPECT_EQ(RecordFileDigest(c.path), 0) << c.path;
    EXPECT_EQ(Stamp(c.valueName), kDigestOfAbc + "\0"s) << c.path;
  }
  EXPECT_EQ(StampNames()->size(), std::size(kCases));
}

// In the program's default code page (936) a double-byte character may end
// in the byte 0x5C; that byte is part of the character, not a backslash, so
// the base name runs from the last real backslash.
TEST_F(StampTest, TrailByteOfADoubleByteCharacterIsNoSeparator) {
  const struct {
    const char* path;       // as typed; "\xD5\x5C" is one character
    const char* hostFile;   // under drive C:, as the host names it
    const char* valueName;
  } kCases[] = {
      {"C:\\setup\\\xD5\x5C.exe", "setup/\xD5\\.exe", "MD5:\xD5\x5C.exe"},
      {"C:\\setup\\a\xD5\x5C\xD5\x5C", "setup/a\xD5\\\xD5\\", "MD5:a\xD5\x5C\xD5\x5C"},
  };
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  for (const auto& c : kCases) {
    const std::string host = prefix_.driveC() + "/" + c.hostFile;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::ofstream(host, std::ios::binary) << "abc";
    EXPECT_EQ(RecordFileDigest(c.path), 0) << c.path;
    EXPECT_EQ(Stamp(c.valueName), kDigestOfAbc + "\0"s) << c.path;
  }
  text::SetLocale("C");
  EXPECT_EQ(StampNames()->size(), std::size(kCases));
}

TEST_F(StampTest, EmptyFileIsStampedWithTheDigestOfTheEmptyMessage) {
  prefix_.WriteFile("C:\\setup\\empty.dat", "");
  EXPECT_EQ(RecordFileDigest("C:\\setup\\empty.dat"), 0);
  EXPECT_EQ(Stamp("MD5:empty.dat"), "d41d8cd98f00b204e9800998ecf8427e\0"s);
}

TEST_F(StampTest, LaterFileOfTheSameNameOverwritesTheStamp) {
  prefix_.WriteFile("C:\\one\\setup.exe", "abc");
  prefix_.WriteFile("C:\\two\\setup.exe", "");
  ASSERT_EQ(RecordFileDigest("C:\\one\\setup.exe"), 0);
  ASSERT_EQ(RecordFileDigest("C:\\two\\setup.exe"), 0);
  EXPECT_EQ(Stamp("MD5:setup.exe"), "d41d8cd98f00b204e9800998ecf8427e\0"s);
  EXPECT_EQ(StampNames()->size(), 1u);
}

TEST_F(StampTest, UnreadableFileFailsAndWritesNothing) {
  prefix_.MakeDir("C:\\setup\\folder.exe");
  for (const char* path : {"C:\\setup\\missing.exe", "C:\\setup\\folder.exe", "missing.exe"}) {
    EXPECT_NE(RecordFileDigest(path), 0) << path;
    EXPECT_FALSE(StampNames().has_value()) << path << ": the key was created";
  }
}

// The base name may hold forward slashes, so it can outgrow a file name;
// a value name over 512 characters is refused whole, never cut.
TEST_F(StampTest, ValueNameOfAtMost512Characters) {
  // A relative path of `length` characters made of 99-character components.
  auto longPath = [](size_t length) {
    std::string path;
    while (path.size() + 100 < length) path += std::string(99, 'd') + "/";
    path += std::string(length - path.size(), 'f');
    return path;
  };
  prefix_.MakeDir("C:\\work");
  prefix_.ChangeDir("C:\\work");
  const std::string fits = longPath(kMaxValueNameLength - 4);
  const std::string tooLong = longPath(kMaxValueNameLength - 3);
  prefix_.WriteFile("C:\\work\\" + fits, "abc");
  prefix_.WriteFile("C:\\work\\" + tooLong, "abc");

  EXPECT_NE(RecordFileDigest(tooLong), 0);
  EXPECT_FALSE(StampNames().has_value());

  EXPECT_EQ(RecordFileDigest(fits), 0);
  EXPECT_EQ(Stamp("MD5:" + fits), kDigestOfAbc + "\0"s);
  EXPECT_EQ(StampNames()->size(), 1u);
}

TEST_F(StampTest, FailedWriteIsReported) {
  prefix_.WriteFile("C:\\setup\\setup.exe", "abc");
  emulated::InjectRegistryFault("RegSetValueExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_NE(RecordFileDigest("C:\\setup\\setup.exe"), 0);
  EXPECT_EQ(Stamp("MD5:setup.exe"), "<none>");

  emulated::InjectRegistryFault("*", ERROR_ACCESS_DENIED, 1);
  EXPECT_NE(RecordFileDigest("C:\\setup\\setup.exe"), 0);
  EXPECT_EQ(Stamp("MD5:setup.exe"), "<none>");
}

}  // namespace
}  // namespace qm
