// The emulated registry calls against a fresh machine: the arguments, access
// rules, sizes and error codes the program and its tools rely on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"
#include "support/temp_prefix.h"

namespace {

const HKEY kBogus = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x7654));

// Sets an environment variable for one test and the machine's next opening.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    ::setenv(name, value, 1);
    emulated::ResetMachine();
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
    emulated::ResetMachine();
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class RegistryApiTest : public ::testing::Test {
 protected:
  HKEY Create(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  LONG Open(HKEY root, const char* path, REGSAM sam = KEY_READ) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, path, 0, sam, &key);
    if (rc == ERROR_SUCCESS && key != root) RegCloseKey(key);
    return rc;
  }
  void Set(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  // The value's bytes, or "<error N>".
  std::string Get(HKEY key, const char* name, DWORD* type = nullptr) {
    BYTE buf[512];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, buf, &size);
    if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
    return std::string(reinterpret_cast<char*>(buf), size);
  }
  std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    char name[300];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, size);
    }
    return names;
  }
  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    char name[300];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      LONG rc = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.emplace_back(name, size);
    }
    return names;
  }

  qmtest::TempPrefix prefix_;
};

TEST_F(RegistryApiTest, SeedHoldsTheEnvironmentOfAFreshWindows) {
  struct Case {
    HKEY root;
    const char* key;
    const char* name;
    DWORD type;
    const char* text;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "Path", REG_EXPAND_SZ, "%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "ComSpec", REG_EXPAND_SZ, "%SystemRoot%\\system32\\cmd.exe"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "windir", REG_EXPAND_SZ, "%SystemRoot%"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "TEMP", REG_EXPAND_SZ, "%SystemRoot%\\TEMP"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "TMP", REG_EXPAND_SZ, "%SystemRoot%\\TEMP"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "OS",
       REG_SZ, "Windows_NT"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "PATHEXT", REG_SZ, ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
      {HKEY_CURRENT_USER, "Environment", "Path", REG_EXPAND_SZ,
       "%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;"},
      {HKEY_CURRENT_USER, "Environment", "TEMP", REG_EXPAND_SZ,
       "%USERPROFILE%\\AppData\\Local\\Temp"},
      {HKEY_CURRENT_USER, "Environment", "TMP", REG_EXPAND_SZ,
       "%USERPROFILE%\\AppData\\Local\\Temp"},
  };
  for (const Case& c : cases) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(c.root, c.key, 0, KEY_READ, &key), ERROR_SUCCESS) << c.key;
    DWORD type = 0;
    EXPECT_EQ(Get(key, c.name, &type), std::string(c.text, std::strlen(c.text) + 1)) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    RegCloseKey(key);
  }
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
            ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(prefix_.dir() + "/drive_c/windows/system32"));
  EXPECT_TRUE(std::filesystem::is_regular_file(prefix_.dir() + "/registry.db"));
}

TEST_F(RegistryApiTest, SubkeyTextsOpenAndCreateAsWindowsDoes) {
  HKEY base = Create(HKEY_CURRENT_USER, "Software\\T\\A\\B");
  RegCloseKey(base);
  const std::string longName(255, 'n');
  const std::string tooLong(256, 'n');
  struct Case {
    HKEY root;
    std::string subkey;
    LONG open;
    LONG create;
  } cases[] = {
      {HKEY_CURRENT_USER, "Software\\T\\A\\B", ERROR_SUCCESS, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "software\\t\\a\\b", ERROR_SUCCESS, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\T\\A\\B\\\\", ERROR_SUCCESS, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\\\T\\\\\\A\\B", ERROR_SUCCESS, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "\\Software\\T", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {HKEY_CURRENT_USER, "\\", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {HKEY_CURRENT_USER, "Software\\T\\Missing", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\T\\" + longName, ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\T\\" + tooLong, ERROR_INVALID_PARAMETER,
       ERROR_INVALID_PARAMETER},
      {HKEY_CLASSES_ROOT, "\\", ERROR_SUCCESS, ERROR_SUCCESS},
      {HKEY_CLASSES_ROOT, "\\\\x", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {HKEY_PERFORMANCE_DATA, "x", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {HKEY_DYN_DATA, "x", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {nullptr, "x", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {kBogus, "x", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subkey.substr(0, 40));
    EXPECT_EQ(Open(c.root, c.subkey.c_str()), c.open);
    HKEY key = kBogus;
    EXPECT_EQ(RegCreateKeyExA(c.root, c.subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              c.create);
    if (c.create == ERROR_SUCCESS) {
      EXPECT_NE(key, c.root);
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
  }
  // The collapsed and trailing forms named the existing key, nothing new.
  HKEY t = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, KEY_READ, &t), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(t), (std::vector<std::string>{"A", "Missing", longName}));
  RegCloseKey(t);
}

TEST_F(RegistryApiTest, TreeDepthIsLimitedTo512Levels) {
  std::string path = "L";
  for (int i = 1; i < 512; ++i) path += "\\L";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  HKEY deeper = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "L", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, (path + "\\L").c_str()), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, OutHandlesOnFailure) {
  HKEY key = kBogus;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Nope", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  key = kBogus;
  EXPECT_EQ(RegOpenKeyExA(nullptr, "", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(key, kBogus);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(nullptr, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(key, kBogus);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr,
                            nullptr),
            ERROR_BADKEY);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 1, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "x", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "x"), ERROR_FILE_NOT_FOUND);  // nothing was created
}

TEST_F(RegistryApiTest, EmptySubkeysGiveTheSameOrANewHandle) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_CLASSES_ROOT);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, nullptr, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_CURRENT_USER);

  HKEY sub = Create(HKEY_CURRENT_USER, "Sub");
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExA(sub, "", 0, KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_NE(again, sub);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExA(sub, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(again, sub);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);

  // RegOpenKeyA hands back the very handle, so it can be closed only once.
  EXPECT_EQ(RegOpenKeyA(sub, "", &again), ERROR_SUCCESS);
  EXPECT_EQ(again, sub);
  EXPECT_EQ(RegOpenKeyA(nullptr, nullptr, &again), ERROR_SUCCESS);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(RegCloseKey(sub), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(sub), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_PERFORMANCE_DATA), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, CreateReportsDispositionAndMakesIntermediateKeys) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "P\\Q\\R", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "p\\q\\r", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "P\\Q"), ERROR_SUCCESS);
  // A parent opened for reading still creates subkeys.
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "P", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExA(readOnly, "S", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(readOnly);
}

TEST_F(RegistryApiTest, NamesKeepTheirFirstCaseAndMatchWithoutIt) {
  HKEY key = Create(HKEY_CURRENT_USER, "CaseKey");
  Set(key, "MixedName", REG_SZ, std::string("one", 4));
  Set(key, "MIXEDNAME", REG_SZ, std::string("two", 4));
  EXPECT_EQ(ValueNames(key), std::vector<std::string>{"MixedName"});
  EXPECT_EQ(Get(key, "mixedname"), std::string("two", 4));
  HKEY sub = Create(key, "SubKey");
  RegCloseKey(sub);
  sub = Create(key, "SUBKEY");
  RegCloseKey(sub);
  EXPECT_EQ(Subkeys(key), std::vector<std::string>{"SubKey"});
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, DoubleByteTrailBytesNeverFoldNorSplit) {
  ScopedEnv acp("QUILLMARK_ACP", "936");
  HKEY key = Create(HKEY_CURRENT_USER, "Dbcs");
  // 0x81 leads a GBK character: "\x81\x61" and "\x81\x41" are two characters.
  Set(key, "\x81\x61", REG_SZ, std::string("lower", 6));
  Set(key, "\x81\x41", REG_SZ, std::string("upper", 6));
  EXPECT_EQ(Get(key, "\x81\x61"), std::string("lower", 6));
  EXPECT_EQ(Get(key, "\x81\x41"), std::string("upper", 6));
  // A trail byte 0x5C is no backslash: one key, not two levels.
  HKEY sub = Create(key,
                    "\x81\x5c"
                    "A");
  RegCloseKey(sub);
  EXPECT_EQ(Subkeys(key), std::vector<std::string>{"\x81\x5c"
                                                   "A"});
  EXPECT_EQ(Open(key,
                 "\x81\x5c"
                 "a"),
            ERROR_SUCCESS);  // the ASCII letter after it still folds
  // 255 double-byte characters are 510 bytes but a legal name.
  std::string wide;
  for (int i = 0; i < 255; ++i) wide += "\xB0\xA1";
  sub = Create(key, wide.c_str());
  EXPECT_NE(sub, nullptr);
  RegCloseKey(sub);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, QueryValueSizesAndBuffers) {
  HKEY key = Create(HKEY_CURRENT_USER, "Query");
  Set(key, "Text", REG_SZ, std::string("abc", 4));
  Set(key, "Bare", REG_SZ, "abc");  // stored without a terminator
  Set(key, "Zero", REG_SZ, "");
  Set(key, "Bin", REG_BINARY, "\x01\x02\x03");
  struct Case {
    const char* name;
    bool withBuffer;
    DWORD capacity;
    LONG rc;
    DWORD size;
    std::string buffer;  // the first 5 bytes afterwards; the buffer starts as "#####"
  } cases[] = {
      {"Text", true, 5, ERROR_SUCCESS, 4, std::string("abc\0#", 5)},
      {"Text", true, 4, ERROR_SUCCESS, 4, std::string("abc\0#", 5)},
      {"Text", true, 3, ERROR_MORE_DATA, 4, "#####"},
      {"Text", false, 0, ERROR_SUCCESS, 4, "#####"},
      {"Bare", true, 4, ERROR_SUCCESS, 3, std::string("abc\0#", 5)},  // a NUL is added
      {"Bare", true, 3, ERROR_SUCCESS, 3, "abc##"},                   // no room for one
      {"Zero", true, 5, ERROR_SUCCESS, 0, "#####"},
      {"Bin", true, 4, ERROR_SUCCESS, 3, "\x01\x02\x03##"},  // binary data gets no NUL
      {"Missing", true, 5, ERROR_FILE_NOT_FOUND, 5, "#####"},
      {"Missing", false, 5, ERROR_FILE_NOT_FOUND, 0, "#####"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " capacity " + std::to_string(c.capacity));
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    DWORD size = c.capacity;
    EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, nullptr,
                               c.withBuffer ? reinterpret_cast<BYTE*>(buf) : nullptr, &size),
              c.rc);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(std::string(buf, 5), c.buffer);
  }
  BYTE buf[4];
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, nullptr, buf, &size), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, SetStoresExactlyTheBytesGiven) {
  HKEY key = Create(HKEY_CURRENT_USER, "Set");
  // A size that leaves out the terminator stores no terminator.
  const char text[] = "value";
  ASSERT_EQ(RegSetValueExA(key, "Short", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
            ERROR_SUCCESS);
  EXPECT_EQ(Get(key, "Short"), "value");
  Set(key, "Multi", REG_MULTI_SZ, std::string("a\0\0b\0\0", 6));
  EXPECT_EQ(Get(key, "Multi"), std::string("a\0\0b\0\0", 6));
  EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(Get(key, "Null"), "");
  EXPECT_EQ(RegSetValueExA(key, "Bad", 0, REG_SZ, nullptr, 4), ERROR_NOACCESS);
  DWORD dword = 0x2a;
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_DWORD, reinterpret_cast<BYTE*>(&dword), 4),
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Get(key, "", &type), std::string("\x2a\0\0\0", 4));  // "" and NULL: the default
  EXPECT_EQ(type, REG_DWORD);
  std::string longest(16383, 'v'), tooLong(16384, 'v');
  EXPECT_EQ(RegSetValueExA(key, longest.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, tooLong.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, HandleAccessDecidesWhatItMayDo) {
  HKEY writer = Create(HKEY_CURRENT_USER, "Access");
  Set(writer, "V", REG_SZ, std::string("x", 2));
  RegCloseKey(writer);
  struct Case {
    REGSAM sam;
    LONG set, del, query, enumKeys;
  } cases[] = {
      {KEY_READ, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_NO_MORE_ITEMS},
      {KEY_WRITE, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_NO_MORE_ITEMS},
      {MAXIMUM_ALLOWED, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_NO_MORE_ITEMS},
      {0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sam);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Access", 0, c.sam, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2), c.set);
    EXPECT_EQ(RegDeleteValueA(key, c.del == ERROR_SUCCESS ? "V" : "Missing"),
              c.del == ERROR_SUCCESS ? ERROR_SUCCESS : c.del);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
              c.query == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : c.query);
    char name[8];
    DWORD len = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), c.enumKeys);
    RegCloseKey(key);
  }
}

TEST_F(RegistryApiTest, DeletedKeysAnswerKeyDeletedThroughOpenHandles) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Del");
  HKEY child = Create(parent, "Child");
  HKEY grandchild = Create(child, "Grand");
  Set(grandchild, "V", REG_SZ, std::string("x", 2));
  EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyA(parent, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(child, "Grand"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(child, "Grand"), ERROR_FILE_NOT_FOUND);

  BYTE data[4];
  DWORD size = sizeof data;
  char name[8];
  DWORD len = sizeof name;
  HKEY out = nullptr;
  EXPECT_EQ(RegQueryValueExA(grandchild, "V", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(grandchild, "V", 0, REG_SZ, data, 0), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyExA(grandchild, 0, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(grandchild, "", 0, KEY_READ, &out), ERROR_KEY_DELETED);
  EXPECT_EQ(
      RegCreateKeyExA(grandchild, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
      ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(grandchild), ERROR_SUCCESS);
  // Re-creating the name makes a new key; the old handle's key stays gone.
  HKEY reborn = Create(child, "Grand");
  EXPECT_EQ(Get(reborn, "V"), "<error 2>");
  RegCloseKey(reborn);

  // The handle's own key, even through a read-only handle.
  HKEY self = nullptr;
  ASSERT_EQ(RegOpenKeyExA(child, "Grand", 0, KEY_READ, &self), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(self, ""), ERROR_SUCCESS);
  EXPECT_EQ(Open(child, "Grand"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(self);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // never a root
  RegCloseKey(child);
  RegCloseKey(parent);
}

TEST_F(RegistryApiTest, ShDeleteKeyRemovesAWholeTreeAndOnlyThat) {
  HKEY a = Create(HKEY_CURRENT_USER, "Tree\\A\\B\\C");
  Set(a, "V", REG_SZ, std::string("x", 2));
  HKEY keep = Create(HKEY_CURRENT_USER, "Tree\\AB");
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "tree\\a"), ERROR_SUCCESS);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Tree\\A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Tree\\AB"), ERROR_SUCCESS);
  EXPECT_EQ(Get(a, "V"), "<error 1018>");
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Tree\\A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SHDeleteKeyA(keep, ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "\\SOFTWARE"), ERROR_BAD_PATHNAME);
  // The keys behind HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG stay.
  EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"), ERROR_SUCCESS);
  RegCloseKey(a);
  RegCloseKey(keep);
}

TEST_F(RegistryApiTest, SubkeysEnumerateByUpperCaseFoldValuesByFirstSetting) {
  HKEY key = Create(HKEY_CURRENT_USER, "Order");
  for (const char* name : {"b", "C", "a", "Ab", "A1", "B0"}) RegCloseKey(Create(key, name));
  EXPECT_EQ(Subkeys(key), (std::vector<std::string>{"a", "A1", "Ab", "b", "B0", "C"}));
  for (const char* name : {"zeta", "Alpha", "mid"}) Set(key, name, REG_SZ, std::string("1", 2));
  Set(key, "ALPHA", REG_SZ, std::string("2", 2));  // changing a value keeps its place
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  ASSERT_EQ(RegDeleteValueA(key, "zeta"), ERROR_SUCCESS);
  Set(key, "Zeta", REG_SZ, std::string("3", 2));  // a value set anew goes last
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Alpha", "mid", "Zeta"}));
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, EnumerationBuffersTooSmall) {
  HKEY key = Create(HKEY_CURRENT_USER, "Enum");
  RegCloseKey(Create(key, "Name5"));
  Set(key, "Val", REG_SZ, std::string("foobar", 7));
  char name[16];
  std::memset(name, '#', sizeof name);
  DWORD len = 5;  // exactly the name's length: no room for the NUL
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(name[0], '#');
  len = 6;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(len, 5u);
  EXPECT_STREQ(name, "Name5");
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  DWORD reserved = 0;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &len, &reserved, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);

  struct Case {
    DWORD nameCapacity, dataCapacity;
    LONG rc;
    DWORD nameSize, dataSize;
    std::string name, data;  // the buffers' first bytes afterwards; they start as '#'
  } cases[] = {
      {20, 20, ERROR_SUCCESS, 3, 7, std::string("Val\0", 4), std::string("foobar\0", 7)},
      // Name too small: what fits of it, and the data.
      {3, 20, ERROR_MORE_DATA, 3, 7, std::string("Va\0#", 4), std::string("foobar\0", 7)},
      {0, 20, ERROR_MORE_DATA, 0, 7, "####", std::string("foobar\0", 7)},
      // Data too small: nothing copied, its size told.
      {20, 2, ERROR_MORE_DATA, 20, 7, "####", "#######"},
      {2, 2, ERROR_MORE_DATA, 2, 7, "####", "#######"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nameCapacity) + "/" + std::to_string(c.dataCapacity));
    char value[20], data[20];
    std::memset(value, '#', sizeof value);
    std::memset(data, '#', sizeof data);
    DWORD nameSize = c.nameCapacity, dataSize = c.dataCapacity, type = 0;
    EXPECT_EQ(RegEnumValueA(key, 0, value, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize),
              c.rc);
    EXPECT_EQ(nameSize, c.nameSize);
    EXPECT_EQ(dataSize, c.dataSize);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(value, 4), c.name);
    EXPECT_EQ(std::string(data, 7), c.data);
  }
  DWORD size = 20;
  EXPECT_EQ(RegEnumValueA(key, 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, QueryInfoKeyCountsAndLengths) {
  HKEY key = nullptr;
  char keyClass[] = "cls";
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Info", 0, keyClass, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(Create(key, "Sub"));
  RegCloseKey(Create(key, "LongerSub"));
  Set(key, "", REG_SZ, std::string("data", 5));
  Set(key, "Name12", REG_BINARY, std::string(40, 'x'));
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0, classLen = 8;
  char cls[8];
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(key, cls, &classLen, nullptr, &subkeys, &maxSub, nullptr, &values,
                             &maxName, &maxData, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(cls, "cls");
  EXPECT_EQ(classLen, 3u);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSub, 9u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 6u);
  EXPECT_EQ(maxData, 40u);
  EXPECT_NE(written.dwHighDateTime, 0u);
  EXPECT_EQ(RegQueryInfoKeyA(key, cls, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryInfoKeyA(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, AliasRootsAreKeysOfTheLocalMachine) {
  struct Case {
    HKEY alias;
    const char* target;
  } cases[] = {
      {HKEY_CLASSES_ROOT, "SOFTWARE\\Classes\\.qm"},
      {HKEY_CURRENT_CONFIG, "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\.qm"},
  };
  for (const Case& c : cases) {
    HKEY key = Create(c.alias, ".qm");
    Set(key, "V", REG_SZ, std::string("x", 2));
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.target, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "V"), std::string("x", 2));
    RegCloseKey(key);
    // Values on the alias root itself are the target key's values.
    Set(c.alias, "OnRoot", REG_SZ, std::string("r", 2));
  }
}

TEST_F(RegistryApiTest, PerformanceDataAndNtDynDataHaveNoKeys) {
  BYTE data[8];
  DWORD size = sizeof data;
  char name[8];
  DWORD len = sizeof name;
  for (HKEY root : {HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA}) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, "", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyA(root, "x", &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(root, "v", 0, REG_SZ, data, 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &len, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(SHDeleteKeyA(root, "x"), ERROR_INVALID_HANDLE);
  }
  size = 0;
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "Global", nullptr, nullptr, nullptr, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(RegQueryValueExA(HKEY_DYN_DATA, "v", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApiTest, DynDataIsAnOrdinaryRootOnWindows9x) {
  ScopedEnv version("QUILLMARK_WINVER", "win98");
  HKEY key = Create(HKEY_DYN_DATA, "Config Manager");
  EXPECT_NE(key, nullptr);
  RegCloseKey(key);
  EXPECT_EQ(Open(HKEY_DYN_DATA, "config manager"), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, InjectedFaultsFailTheNamedCallOnly) {
  HKEY key = Create(HKEY_CURRENT_USER, "Fault");
  emulated::InjectRegistryFault("RegSetValueExA", ERROR_REGISTRY_IO_FAILED, 2);
  const BYTE one[] = "1";
  EXPECT_EQ(RegSetValueExA(key, "a", 0, REG_SZ, one, 2), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(Get(key, "a"), "<error 2>");  // other calls unaffected, nothing stored
  EXPECT_EQ(RegSetValueExA(key, "a", 0, REG_SZ, one, 2), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RegSetValueExA(key, "a", 0, REG_SZ, one, 2), ERROR_SUCCESS);
  emulated::InjectRegistryFault("*", ERROR_ACCESS_DENIED, 1);
  HKEY out = kBogus;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Fault", 0, KEY_READ, &out), ERROR_ACCESS_DENIED);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Fault"), ERROR_SUCCESS);
  emulated::InjectRegistryFault("RegDeleteValueA", ERROR_ACCESS_DENIED, 0);  // count 0: nothing
  EXPECT_EQ(RegDeleteValueA(key, "a"), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
