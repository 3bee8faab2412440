// The emulated machine's drive map and file calls, against what Windows does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/crt.h"
#include "platform/win32api.h"
#include "support/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& host) {
  struct stat st;
  EXPECT_EQ(::stat(host.c_str(), &st), 0) << host;
  return st.st_mode & 07777;
}

std::string RealPath(const std::string& host) {
  char buf[PATH_MAX];
  return ::realpath(host.c_str(), buf) ? std::string(buf) : host;
}

// The DOS form of a host directory outside drive C:.
std::string ZPath(const std::string& host) {
  std::string dos = "Z:" + host;
  for (char& c : dos)
    if (c == '/') c = '\\';
  return dos;
}

// Every name that a search returns, in order.
std::vector<std::string> FindAll(const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), 18u);  // ERROR_NO_MORE_FILES
  EXPECT_TRUE(FindClose(h));
  return names;
}

std::vector<std::string> CrtFindAll(const char* pattern) {
  std::vector<std::string> names;
  crt::finddata_t data;
  intptr_t h = crt::findfirst(pattern, &data);
  if (h == -1) return names;
  do names.push_back(data.name);
  while (crt::findnext(h, &data) == 0);
  EXPECT_EQ(crt::findclose(h), 0);
  return names;
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_.WriteFile("C:\\Program Files\\MiKTeX\\bin\\tex.exe", "exe");
    prefix_.WriteFile("C:\\work\\a.txt", "A");
    prefix_.WriteFile("C:\\work\\b.TXT", "B");
    prefix_.WriteFile("C:\\work\\c.dat", "C");
    prefix_.WriteFile("C:\\work\\noext", "N");
    prefix_.MakeDir("C:\\work\\sub");
  }
  qmtest::TempPrefix prefix_;
};

struct AttributeCase {
  const char* path;
  DWORD attributes;  // INVALID_FILE_ATTRIBUTES: expect `error`
  DWORD error;
};

TEST_F(FilesTest, ComponentsAreFoundWithoutRegardToCase) {
  const AttributeCase cases[] = {
      {"C:\\Program Files\\MiKTeX\\bin\\tex.exe", FILE_ATTRIBUTE_ARCHIVE, 0},
      {"C:\\PROGRAM FILES\\miktex\\BIN\\TEX.EXE", FILE_ATTRIBUTE_ARCHIVE, 0},
      {"c:/program files/miktex/bin", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"C:\\Program Files\\MiKTeX\\..\\MIKTEX\\.\\bin\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"C:\\Program Files\\nothing", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"C:\\Program Files\\nothing\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"C:\\Program Files\\MiKTeX\\bin\\tex.exe\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"Q:\\anything", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"C:\\Program Files\\MiKTeX\\bin\\tex.exe\\", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path;
    if (c.attributes == INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
  }
}

TEST_F(FilesTest, ExactSpellingWinsOverAnotherCase) {
  prefix_.WriteFile("C:\\dup\\Name", "upper");
  prefix_.WriteFile("C:\\dup\\name", "lower");
  for (const char* path : {"C:\\dup\\name", "C:\\DUP\\name"}) {
    FILE* f = crt::fopen(path, "rb");
    ASSERT_NE(f, nullptr) << path;
    char buf[16] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), "lower") << path;
  }
}

// In the machine's code page (936 unless QUILLMARK_ACP says otherwise) a
// double-byte character may end in 0x5C; that byte is no separator.
TEST_F(FilesTest, TrailByteBackslashIsNoSeparator) {
  const std::string name =
      "\x81\x5C"
      "dir";
  fs::create_directories(prefix_.driveC() + "/" + name);
  std::ofstream(prefix_.driveC() + "/" + name + "/f.txt") << "x";
  const std::string dir = "C:\\" + name;
  EXPECT_EQ(GetFileAttributesA((dir + "\\F.TXT").c_str()), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(FindAll((dir + "\\*.txt").c_str()), std::vector<std::string>{"f.txt"});
  EXPECT_EQ(FindAll("C:\\\x81\x5C"), std::vector<std::string>{});  // no such name

  char buf[MAX_PATH];
  LPSTR part = nullptr;
  std::string given = "C:\\x\\\x81\x5C";  // ends in the character, not a separator
  ASSERT_EQ(GetFullPathNameA(given.c_str(), sizeof buf, buf, &part), given.size());
  EXPECT_EQ(std::string(buf), given);
  EXPECT_EQ(std::string(part), "\x81\x5C");
}

TEST_F(FilesTest, ZDriveIsTheHostRoot) {
  std::string host = RealPath(prefix_.driveC()) + "/work/a.txt";
  EXPECT_EQ(GetFileAttributesA(ZPath(host).c_str()), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("Z:\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FilesTest, CurrentDirectoryInDosForm) {
  std::string outside = RealPath(prefix_.dir());
  struct Case {
    std::string host;
    std::string dos;
  } cases[] = {
      {prefix_.driveC(), "C:\\"},
      {prefix_.driveC() + "/work/sub", "C:\\work\\sub"},
      {outside, ZPath(outside)},
      {"/", "Z:\\"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::chdir(c.host.c_str()), 0) << c.host;
    char buf[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_EQ(std::string(buf), c.dos);
    EXPECT_EQ(n, c.dos.size());
    char cbuf[MAX_PATH];
    ASSERT_NE(crt::getcwd(cbuf, sizeof cbuf), nullptr);
    EXPECT_EQ(std::string(cbuf), c.dos);
  }
}

TEST_F(FilesTest, CurrentDirectorySizesAsWindows) {
  prefix_.ChangeDir("C:\\work\\sub");  // "C:\work\sub": 11 characters
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(GetCurrentDirectoryA(11, buf), 12u);  // no room for the NUL: size needed
  EXPECT_EQ(buf[0], 'x');                         // and the buffer untouched
  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), 12u);
  EXPECT_EQ(GetCurrentDirectoryA(12, buf), 11u);
  EXPECT_STREQ(buf, "C:\\work\\sub");

  errno = 0;
  EXPECT_EQ(crt::getcwd(buf, 11), nullptr);
  EXPECT_EQ(errno, ERANGE);
  char* allocated = crt::getcwd(nullptr, 0);
  ASSERT_NE(allocated, nullptr);
  EXPECT_STREQ(allocated, "C:\\work\\sub");
  std::free(allocated);
}

TEST_F(FilesTest, SetCurrentDirectoryThroughTheDriveMap) {
  prefix_.ChangeDir("C:\\");
  EXPECT_TRUE(SetCurrentDirectoryA("WORK\\SUB"));
  EXPECT_EQ(RealPath(fs::current_path().string()), RealPath(prefix_.driveC() + "/work/sub"));
  EXPECT_TRUE(SetCurrentDirectoryA(".."));
  EXPECT_EQ(RealPath(fs::current_path().string()), RealPath(prefix_.driveC() + "/work"));

  EXPECT_FALSE(SetCurrentDirectoryA("C:\\missing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\work\\a.txt"));
  EXPECT_EQ(GetLastError(), 267u);  // ERROR_DIRECTORY

  EXPECT_EQ(crt::chdir("c:\\program files"), 0);
  char buf[MAX_PATH];
  EXPECT_STREQ(crt::getcwd(buf, sizeof buf), "C:\\Program Files");
  EXPECT_EQ(crt::chdir("C:\\missing"), -1);
  EXPECT_STREQ(crt::getcwd(buf, sizeof buf), "C:\\Program Files");
}

TEST_F(FilesTest, FullPathNames) {
  prefix_.ChangeDir("C:\\work\\sub");
  struct Case {
    const char* in;
    const char* full;
    const char* filePart;  // nullptr: none
  } cases[] = {
      {"x.txt", "C:\\work\\sub\\x.txt", "x.txt"},
      {"..\\x", "C:\\work\\x", "x"},
      {"..\\..\\..\\..\\x", "C:\\x", "x"},
      {"\\x", "C:\\x", "x"},
      {"C:x", "C:\\work\\sub\\x", "x"},
      {"D:x", "D:\\x", "x"},
      {"c:\\A\\b", "c:\\A\\b", "b"},
      {"a/b//c", "C:\\work\\sub\\a\\b\\c", "c"},
      {"a\\b\\", "C:\\work\\sub\\a\\b\\", nullptr},
      {"a\\.", "C:\\work\\sub\\a", "a"},
      {"name. .", "C:\\work\\sub\\name", "name"},
      {".", "C:\\work\\sub", "sub"},
      {"C:\\..", "C:\\", nullptr},
      {"Z:\\tmp\\..", "Z:\\", nullptr},
  };
  for (const auto& c : cases) {
    char buf[MAX_PATH];
    LPSTR part = buf;
    DWORD n = GetFullPathNameA(c.in, sizeof buf, buf, &part);
    std::string want = c.full;
    // The drive letter is given back upper-case.
    want[0] = static_cast<char>(want[0] & ~0x20);
    EXPECT_EQ(std::string(buf), want) << c.in;
    EXPECT_EQ(n, want.size()) << c.in;
    if (c.filePart)
      EXPECT_STREQ(part, c.filePart) << c.in;
    else
      EXPECT_EQ(part, nullptr) << c.in;
  }
  char small[4];
  EXPECT_EQ(GetFullPathNameA("x.txt", sizeof small, small, nullptr), 18u);
  EXPECT_EQ(GetFullPathNameA("", sizeof small, small, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST_F(FilesTest, Searches) {
  using V = std::vector<std::string>;
  struct Case {
    const char* pattern;
    V names;
    DWORD error;  // when nothing is found
  } cases[] = {
      {"C:\\work\\*.txt", {"a.txt", "b.TXT"}, 0},
      {"c:\\WORK\\?.TXT", {"a.txt", "b.TXT"}, 0},
      {"C:\\work\\*", {".", "..", "a.txt", "b.TXT", "c.dat", "noext", "sub"}, 0},
      {"C:\\work\\*.", {".", "..", "noext", "sub"}, 0},
      {"C:\\work\\noext.*", {"noext"}, 0},
      {"C:\\*", {"Program Files", "windows", "work"}, 0},
      {"C:\\WORK", {"work"}, 0},
      {"C:\\work\\SUB", {"sub"}, 0},
      // A drive root is no entry, and a trailing separator names none.
      {"C:\\", {}, ERROR_FILE_NOT_FOUND},
      {"c:/", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\work\\", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\work\\*.exe", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\work\\missing", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\missing\\*", {}, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(FindAll(c.pattern), c.names) << c.pattern;
    if (c.names.empty()) {
      EXPECT_EQ(GetLastError(), c.error) << c.pattern;
    }
    EXPECT_EQ(CrtFindAll(c.pattern), c.names) << c.pattern;
  }
}

TEST_F(FilesTest, CrtSearchReportsAttributesAndSize) {
  ASSERT_EQ(::chmod(prefix_.HostPath("C:\\work\\a.txt").c_str(), 0444), 0);
  crt::finddata_t data;
  intptr_t h = crt::findfirst("C:\\work\\a.txt", &data);
  ASSERT_NE(h, -1);
  EXPECT_EQ(data.attrib, crt::A_RDONLY | crt::A_ARCH);
  EXPECT_EQ(data.size, 1);
  EXPECT_EQ(crt::findnext(h, &data), -1);
  EXPECT_EQ(crt::findclose(h), 0);

  h = crt::findfirst("C:\\work\\sub", &data);
  ASSERT_NE(h, -1);
  EXPECT_EQ(data.attrib, crt::A_SUBDIR);
  crt::findclose(h);
  h = crt::findfirst("C:\\work\\c.dat", &data);
  ASSERT_NE(h, -1);
  EXPECT_EQ(data.attrib, crt::A_ARCH);  // a new file, as on Windows
  crt::findclose(h);

  errno = 0;
  EXPECT_EQ(crt::findfirst("C:\\", &data), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(crt::findclose(12345), -1);
  EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(12345)));
}

TEST_F(FilesTest, ReadOnlyIsTheModeEvenForRoot) {
  std::string host = prefix_.HostPath("C:\\work\\a.txt");
  const struct {
    mode_t mode;
    DWORD attributes;
  } cases[] = {
      {0444, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {0400, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {0644, FILE_ATTRIBUTE_ARCHIVE},
      {0464, FILE_ATTRIBUTE_ARCHIVE},  // someone may write it
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::chmod(host.c_str(), c.mode), 0);
    EXPECT_EQ(GetFileAttributesA("C:\\work\\a.txt"), c.attributes) << std::oct << c.mode;
  }
  ASSERT_EQ(::chmod(prefix_.HostPath("C:\\work\\sub").c_str(), 0555), 0);
  EXPECT_EQ(GetFileAttributesA("C:\\work\\sub"),
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
}

TEST_F(FilesTest, SetFileAttributesReadOnly) {
  std::string host = prefix_.HostPath("C:\\work\\a.txt");
  mode_t mask = ::umask(022);
  ASSERT_EQ(::chmod(host.c_str(), 0664), 0);
  EXPECT_TRUE(SetFileAttributesA("C:\\WORK\\A.TXT", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ModeOf(host), 0444u);
  EXPECT_EQ(GetFileAttributesA("C:\\work\\a.txt") & ~FILE_ATTRIBUTE_ARCHIVE,
            FILE_ATTRIBUTE_READONLY);
  // Clearing it makes the file writable as a new file would be, never
  // writable by everybody.
  EXPECT_TRUE(SetFileAttributesA("C:\\work\\a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(ModeOf(host), 0644u);
  ::umask(mask);
  EXPECT_FALSE(SetFileAttributesA("C:\\work\\missing", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, HiddenAndArchiveLiveInTheExtendedAttribute) {
  std::string host = prefix_.HostPath("C:\\work\\a.txt");
  if (::setxattr(host.c_str(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "no user extended attributes on this file system";
  EXPECT_TRUE(
      SetFileAttributesA("C:\\work\\a.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA("C:\\work\\a.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  char value[16] = {};
  ASSERT_GT(::getxattr(host.c_str(), "user.DOSATTRIB", value, sizeof value - 1), 0);
  EXPECT_STREQ(value, "0x22");
  crt::finddata_t data;
  intptr_t h = crt::findfirst("C:\\work\\a.txt", &data);
  ASSERT_NE(h, -1);
  EXPECT_EQ(data.attrib, crt::A_HIDDEN | crt::A_ARCH);
  crt::findclose(h);
  // The directory bit and FILE_ATTRIBUTE_NORMAL beside others are ignored.
  EXPECT_TRUE(SetFileAttributesA("C:\\work\\a.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                                        FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesA("C:\\work\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
  // Archive alone is what a file without the attribute has: nothing stored.
  EXPECT_LT(::getxattr(host.c_str(), "user.DOSATTRIB", value, sizeof value - 1), 0);
  EXPECT_TRUE(SetFileAttributesA("C:\\work\\a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\work\\a.txt"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesTest, DeleteRefusesReadOnlyFilesAndDirectories) {
  ASSERT_EQ(::chmod(prefix_.HostPath("C:\\work\\a.txt").c_str(), 0444), 0);
  struct Case {
    const char* path;
    DWORD error;
  } cases[] = {
      {"C:\\work\\a.txt", ERROR_ACCESS_DENIED},
      {"C:\\work\\sub", ERROR_ACCESS_DENIED},
      {"C:\\work\\missing", ERROR_FILE_NOT_FOUND},
      {"C:\\missing\\x", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(DeleteFileA(c.path)) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\a.txt"), "A");
  errno = 0;
  EXPECT_EQ(crt::unlink("C:\\work\\a.txt"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(fs::exists(prefix_.HostPath("C:\\work\\a.txt")));

  EXPECT_TRUE(DeleteFileA("c:\\WORK\\B.txt"));
  EXPECT_FALSE(fs::exists(prefix_.HostPath("C:\\work\\b.TXT")));
  EXPECT_EQ(crt::unlink("C:\\work\\C.DAT"), 0);
  EXPECT_FALSE(fs::exists(prefix_.HostPath("C:\\work\\c.dat")));
}

TEST_F(FilesTest, MoveFileKeepsAnExistingTarget) {
  EXPECT_FALSE(MoveFileA("C:\\work\\a.txt", "C:\\work\\B.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\a.txt"), "A");
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\b.TXT"), "B");

  EXPECT_TRUE(MoveFileA("C:\\WORK\\A.TXT", "C:\\work\\sub\\moved.txt"));
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\sub\\moved.txt"), "A");
  EXPECT_FALSE(fs::exists(prefix_.HostPath("C:\\work\\a.txt")));

  // Only the letter case changes: the same file, renamed.
  EXPECT_TRUE(MoveFileA("C:\\work\\c.dat", "C:\\work\\C.DAT"));
  EXPECT_TRUE(fs::exists(prefix_.HostPath("C:\\work\\C.DAT")));

  struct Case {
    const char* from;
    const char* to;
    DWORD error;
  } failures[] = {
      {"C:\\work\\missing", "C:\\work\\x", ERROR_FILE_NOT_FOUND},
      {"C:\\missing\\x", "C:\\work\\x", ERROR_PATH_NOT_FOUND},
      {"C:\\work\\noext", "C:\\missing\\x", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : failures) {
    EXPECT_FALSE(MoveFileA(c.from, c.to)) << c.from;
    EXPECT_EQ(GetLastError(), c.error) << c.from;
  }
}

TEST_F(FilesTest, MoveFileExReplaces) {
  EXPECT_TRUE(MoveFileExA("C:\\work\\a.txt", "C:\\work\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\b.TXT"), "A");
  EXPECT_FALSE(fs::exists(prefix_.HostPath("C:\\work\\a.txt")));

  // Windows replaces neither a read-only file nor a directory.
  ASSERT_EQ(::chmod(prefix_.HostPath("C:\\work\\c.dat").c_str(), 0444), 0);
  EXPECT_FALSE(MoveFileExA("C:\\work\\noext", "C:\\work\\c.dat", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\c.dat"), "C");
  EXPECT_FALSE(MoveFileExA("C:\\work\\noext", "C:\\work\\sub", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\noext"), "N");
}

TEST_F(FilesTest, CreateDirectory) {
  EXPECT_TRUE(CreateDirectoryA("C:\\WORK\\New", nullptr));
  EXPECT_TRUE(fs::is_directory(prefix_.HostPath("C:\\work\\New")));
  EXPECT_FALSE(CreateDirectoryA("C:\\work\\new", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\missing\\new", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesTest, FopenByDosPath) {
  FILE* f = crt::fopen("c:\\Work\\A.TXT", "rt");
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  // A new file goes into the directory found without regard to case, and
  // "t" does not translate: the bytes are written as they are.
  f = crt::fopen("C:\\WORK\\SUB\\New.txt", "wt");
  ASSERT_NE(f, nullptr);
  std::fputs("a\nb", f);
  std::fclose(f);
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\sub\\New.txt"), "a\nb");

  f = crt::fopen("C:\\work\\sub\\new.TXT", "at+");
  ASSERT_NE(f, nullptr);
  std::fputs("c", f);
  std::fclose(f);
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\sub\\New.txt"), "a\nbc");

  ASSERT_EQ(::chmod(prefix_.HostPath("C:\\work\\a.txt").c_str(), 0444), 0);
  struct Case {
    const char* path;
    const char* mode;
    int err;
  } failures[] = {
      {"C:\\work\\a.txt", "w", EACCES},  // read-only, even for root
      {"C:\\work\\a.txt", "r+", EACCES},   {"C:\\work\\a.txt", "at+", EACCES},
      {"C:\\work\\sub", "rb", EACCES},  // a directory
      {"C:\\missing\\x.txt", "w", ENOENT}, {"C:\\work\\missing.txt", "r", ENOENT},
  };
  for (const auto& c : failures) {
    errno = 0;
    EXPECT_EQ(crt::fopen(c.path, c.mode), nullptr) << c.path << " " << c.mode;
    EXPECT_EQ(errno, c.err) << c.path << " " << c.mode;
  }
  EXPECT_EQ(prefix_.ReadFile("C:\\work\\a.txt"), "A");
  f = crt::fopen("C:\\work\\a.txt", "r");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
}

}  // namespace
