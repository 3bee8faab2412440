#include "registry/registry.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "support/temp_prefix.h"

namespace qm {
namespace {

using namespace std::string_literals;

// ---- Parsing -----------------------------------------------------------------

TEST(ParseRegistryPath, NamesARootOnlyByItsFullNameInAnyLetterCase) {
  const std::pair<const char*, HKEY> roots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_USERS", HKEY_USERS},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", HKEY_DYN_DATA},
      {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
  };
  for (const auto& [name, key] : roots) {
    std::string lower = name, mixed = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    mixed[5] = static_cast<char>(std::tolower(mixed[5]));
    mixed.back() = static_cast<char>(std::tolower(mixed.back()));
    for (const std::string& spelled : {std::string(name), lower, mixed}) {
      std::string subkey;
      EXPECT_EQ(ParseRegistryPath(subkey, spelled + "\\Sub\\Key"), key) << spelled;
      EXPECT_EQ(subkey, "Sub\\Key") << spelled;
    }
  }

  const std::string longest(kMaxSubkeyLength, 'k');
  struct Case {
    std::string path;
    HKEY root;  // nullptr: rejected, the subkey left untouched
    std::string subkey;
  };
  const Case cases[] = {
      // The subkey is everything after the first backslash, unchanged; an
      // empty one is the root itself.
      {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE, ""},
      {"HKEY_LOCAL_MACHINE\\a\\\\b\\", HKEY_LOCAL_MACHINE, "a\\\\b\\"},
      {"HKEY_CURRENT_USER\\" + longest, HKEY_CURRENT_USER, longest},
      // Texts that name no root, though each has a root name's length or
      // differs from one only in a letter or a blank.
      {"HKEY_CURRENT_XXXX\\Software", nullptr, ""},
      {"ABCDEFGHIJ\\Software", nullptr, ""},
      {"abcdefghijklmnopqr\\x", nullptr, ""},
      {" HKEY_CURRENT_USER\\Software", nullptr, ""},
      {"HKEY_CURRENT_USER \\Software", nullptr, ""},
      {"-HKEY_CURRENT_USER\\Software", nullptr, ""},
      {"HKEY_LOCAL_MACHINEX\\SOFTWARE", nullptr, ""},
      {"HKLM\\SOFTWARE", nullptr, ""},
      {"HKCU\\Environment", nullptr, ""},
      {"HKEY_LOCAL_MACHINE", nullptr, ""},
      {"HKEY_LOCAL_MACHINE/SOFTWARE", nullptr, ""},
      {"", nullptr, ""},
      {"\\SOFTWARE", nullptr, ""},
      // A subkey longer than its buffer is refused, never cut.
      {"HKEY_CURRENT_USER\\" + longest + "k", nullptr, ""},
  };
  for (const Case& c : cases) {
    std::string subkey = "untouched";
    EXPECT_EQ(ParseRegistryPath(subkey, c.path), c.root) << c.path.substr(0, 40);
    EXPECT_EQ(subkey, c.root ? c.subkey : "untouched") << c.path.substr(0, 40);
  }
}

TEST(CompareVersionNames, OrdersRunsOfDigitsAsNumbers) {
  struct Case {
    const char* greater;
    const char* lesser;
  };
  const Case cases[] = {
      {"10.0", "8.50"},
      {"17", "9"},
      {"17", "1.8.0_301"},
      {"1.10", "1.9"},
      {"1.4.2", "1.4"},
      {"10.02", "9.56"},
      {"1.8.0_301", "1.8.0_45"},
      {"9.56b", "9.56a"},
      {"100000000000000000001", "99999999999999999999"},
      // Equal as numbers: the bytes decide, so the order stays total.
      {"1.1", "1.01"},
  };
  for (const Case& c : cases) {
    EXPECT_GT(CompareVersionNames(c.greater, c.lesser), 0) << c.greater << " > " << c.lesser;
    EXPECT_LT(CompareVersionNames(c.lesser, c.greater), 0) << c.lesser << " < " << c.greater;
  }
  EXPECT_EQ(CompareVersionNames("8.50", "8.50"), 0);
  EXPECT_EQ(CompareVersionNames("", ""), 0);
}

// ---- Operations on the emulated machine --------------------------------------

class RegistryTest : public ::testing::Test {
 protected:
  // The stored type of a value, or REG_NONE when it cannot be read.
  static DWORD TypeOf(HKEY root, const std::string& subkey, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return REG_NONE;
    DWORD type = REG_NONE;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? type : REG_NONE;
  }
  static bool KeyExists(HKEY root, const std::string& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // Stores raw bytes, sized exactly, bypassing the layer under test.
  static void SetRaw(const std::string& subkey, const std::string& name, DWORD type,
                     const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  qmtest::TempPrefix prefix_;
};

TEST_F(RegistryTest, PathOperationsGiveTheirResultCodes) {
  std::string out = "untouched";
  struct Case {
    const char* what;
    int got;
    int expected;
  };
  const Case cases[] = {
      {"write creates every missing key",
       WriteRegistryPathValue("v", "HKEY_CURRENT_USER\\A\\B\\C", "n"), 0},
      {"read", ReadRegistryPathValue(out, "HKEY_CURRENT_USER\\A\\B\\C", "n"), 0},
      {"read, missing key", ReadRegistryPathValue(out, "HKEY_CURRENT_USER\\Nope", "n"), 1},
      {"read, missing value", ReadRegistryPathValue(out, "HKEY_CURRENT_USER\\A\\B\\C", "m"), 2},
      {"read, no backslash", ReadRegistryPathValue(out, "HKEY_LOCAL_MACHINE", "n"), 10},
      {"read, short root", ReadRegistryPathValue(out, "HKCU\\A", "n"), 10},
      {"write, short root", WriteRegistryPathValue("v", "HKCU\\A", "n"), 10},
      {"create, no backslash", CreateRegistryPathKey("HKEY_LOCAL_MACHINE"), 1},
      {"create", CreateRegistryPathKey("HKEY_CURRENT_USER\\K1\\K2"), 0},
      {"create, already there", CreateRegistryPathKey("HKEY_CURRENT_USER\\K1\\K2"), 0},
      {"delete key, short root", DeleteRegistryPathKey("HKCU\\K1"), 1},
      {"delete key", DeleteRegistryPathKey("HKEY_CURRENT_USER\\K1"), 0},
      {"delete key, missing", DeleteRegistryPathKey("HKEY_CURRENT_USER\\K1"), 2},
      {"delete value, short root", DeleteRegistryPathValue("HKCU\\A\\B\\C", "n"), 1},
      {"delete value", DeleteRegistryPathValue("HKEY_CURRENT_USER\\A\\B\\C", "n"), 0},
      {"delete value, missing value", DeleteRegistryPathValue("HKEY_CURRENT_USER\\A\\B\\C", "n"),
       2},
      {"delete value, missing key", DeleteRegistryPathValue("HKEY_CURRENT_USER\\Nope", "n"), 1},
      {"create, no root", CreateRegistryKey(nullptr, "x"), 1},
      {"delete key, no root", DeleteRegistryKey(nullptr, "x"), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(out, "v\0"s);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "K1"));
}

TEST_F(RegistryTest, AValueReadHoldsExactlyTheBytesStored) {
  const std::string sub = "Software\\Bytes";
  SetRaw(sub, "unterminated", REG_SZ, "abc");
  RegistryKey key = OpenRegistryPathKey("HKEY_CURRENT_USER\\" + sub, false);
  ASSERT_NE(key.Get(), nullptr);
  const BYTE binary[] = {1, 2, 0, 0xFF};
  ASSERT_EQ(WriteKeyBinary(binary, key.Get(), "binary"), 0);
  ASSERT_EQ(WriteKeyDword(0x11223344, key.Get(), "dword"), 0);
  ASSERT_EQ(WriteKeyString("", key.Get(), "empty"), 0);
  ASSERT_EQ(WriteKeyExpandString("%SystemRoot%\\x", key.Get(), "expand"), 0);
  key.Close();

  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"unterminated", "abc"}, {"binary", "\x01\x02\x00\xFF"s},  {"dword", "\x44\x33\x22\x11"},
      {"empty", "\0"s},        {"expand", "%SystemRoot%\\x\0"s},
  };
  for (const Case& c : cases) {
    std::string out = "previous text that is longer than any value";
    EXPECT_EQ(ReadRegistryPathValue(out, "HKEY_CURRENT_USER\\" + sub, c.name), 0) << c.name;
    EXPECT_EQ(out, c.bytes) << c.name;
  }
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "expand"), REG_EXPAND_SZ);
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "dword"), REG_DWORD);
}

TEST_F(RegistryTest, AValueLargerThanTheCapacityIsAFailureNotACutValue) {
  const std::string sub = "Software\\Big";
  SetRaw(sub, "fits", REG_BINARY, std::string(kValueCapacity, 'f'));
  SetRaw(sub, "big", REG_BINARY, std::string(kValueCapacity + 1, 'b'));
  std::string out = "untouched";
  EXPECT_EQ(ReadRegistryString(out, HKEY_CURRENT_USER, sub, "big"), 2);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(ReadRegistryString(out, HKEY_CURRENT_USER, sub, "fits"), 0);
  EXPECT_EQ(out.size(), kValueCapacity);
}

TEST_F(RegistryTest, AnEmptyValueNameIsTheDefaultValue) {
  const std::string path = "HKEY_CURRENT_USER\\Software\\Default";
  ASSERT_EQ(WriteRegistryPathValue("home", path, ""), 0);
  std::string out;
  ASSERT_EQ(ReadRegistryString(out, HKEY_CURRENT_USER, "Software\\Default", ""), 0);
  EXPECT_EQ(out, "home\0"s);
  EXPECT_EQ(DeleteRegistryPathValue(path, ""), 0);
  EXPECT_EQ(ReadRegistryPathValue(out, path, ""), 2);
}

TEST_F(RegistryTest, DeletingAValueNeverCreatesItsKey) {
  EXPECT_EQ(DeleteRegistryPathValue("HKEY_CURRENT_USER\\Software\\Ghost\\Sub", "v"), 1);
  EXPECT_EQ(DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ghost", ""), 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Ghost"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ghost"));
}

TEST_F(RegistryTest, AKeyWithoutASubkeyTextIsNeverDeleted) {
  ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, "Environment"));
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CURRENT_USER\\"), 2);
  EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, ""), 2);
  EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, "\\\\"), 2);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CLASSES_ROOT\\\\"), 2);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Environment"));

  // The emulated machine itself refuses to wipe a root, but Windows does not:
  // the recursive delete must not even be asked. A fault armed for it is
  // still there afterwards, for the first delete that does ask.
  ASSERT_EQ(CreateRegistryPathKey("HKEY_CURRENT_USER\\Software\\Armed"), 0);
  emulated::InjectRegistryFault("SHDeleteKeyA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CURRENT_USER\\"), 2);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CLASSES_ROOT\\\\"), 2);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CURRENT_USER\\Software\\Armed"), 2);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CURRENT_USER\\Software\\Armed"), 0);
}

TEST_F(RegistryTest, DeletingAKeyRemovesItsWholeTreeAndNothingBeside) {
  ASSERT_EQ(WriteRegistryPathValue("1", "HKEY_CURRENT_USER\\Software\\T\\a\\b", "v"), 0);
  ASSERT_EQ(WriteRegistryPathValue("2", "HKEY_CURRENT_USER\\Software\\T2", "v"), 0);
  EXPECT_EQ(DeleteRegistryPathKey("HKEY_CURRENT_USER\\Software\\T"), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\T"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\T2"));
}

TEST_F(RegistryTest, RewriteKeepsAnExpandableStringExpandable) {
  const std::string sub = "Software\\Rewrite";
  SetRaw(sub, "expand", REG_EXPAND_SZ, "%SystemRoot%\0"s);
  SetRaw(sub, "plain", REG_SZ, "x\0"s);
  ASSERT_EQ(RewriteRegistryString("%SystemRoot%;C:\\x", HKEY_CURRENT_USER, sub, "expand"), 0);
  ASSERT_EQ(RewriteRegistryString("y", HKEY_CURRENT_USER, sub, "plain"), 0);
  ASSERT_EQ(RewriteRegistryPathValue("z", "HKEY_CURRENT_USER\\" + sub, "new"), 0);
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "expand"), REG_EXPAND_SZ);
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "plain"), REG_SZ);
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "new"), REG_SZ);
  std::string out;
  ASSERT_EQ(ReadRegistryString(out, HKEY_CURRENT_USER, sub, "expand"), 0);
  EXPECT_EQ(out, "%SystemRoot%;C:\\x\0"s);
  // The plain writer (+regv) stores REG_SZ whatever was there.
  ASSERT_EQ(WriteRegistryString("w", HKEY_CURRENT_USER, sub, "expand"), 0);
  EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, sub, "expand"), REG_SZ);
}

TEST_F(RegistryTest, AFailedStoreIsReported) {
  emulated::InjectRegistryFault("RegSetValueExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(WriteRegistryPathValue("v", "HKEY_CURRENT_USER\\Software\\F", "n"), 2);
  emulated::InjectRegistryFault("RegCreateKeyExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(WriteRegistryPathValue("v", "HKEY_CURRENT_USER\\Software\\F", "n"), 1);
  emulated::InjectRegistryFault("*", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(CreateRegistryPathKey("HKEY_CURRENT_USER\\Software\\G"), 2);
}

TEST_F(RegistryTest, OpeningForACallerReadsWritesOrCreatesAsAsked) {
  const std::string path = "HKEY_CURRENT_USER\\Software\\Open";
  EXPECT_EQ(OpenRegistryPathKey(path, true).Get(), nullptr);
  EXPECT_EQ(OpenExistingRegistryPathKey(path).Get(), nullptr);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Open"));
  EXPECT_EQ(OpenRegistryPathKey("HKCU\\Software", false).Get(), nullptr);

  RegistryKey writable = OpenRegistryPathKey(path, false);
  ASSERT_NE(writable.Get(), nullptr);
  EXPECT_EQ(WriteKeyString("w", writable.Get(), "v"), 0);
  writable.Close();

  RegistryKey readable = OpenRegistryPathKey(path, true);
  ASSERT_NE(readable.Get(), nullptr);
  EXPECT_EQ(WriteKeyString("r", readable.Get(), "v"), 1) << "a KEY_READ handle must refuse writes";
  EXPECT_EQ(DeleteKeyValue(readable.Get(), "v"), 1);
  std::string out;
  EXPECT_EQ(ReadKeyValue(out, readable.Get(), "v"), 0);
  EXPECT_EQ(out, "w\0"s);
  readable.Close();

  RegistryKey existing = OpenExistingRegistryPathKey(path);
  ASSERT_NE(existing.Get(), nullptr);
  EXPECT_EQ(DeleteKeyValue(existing.Get(), "v"), 0);
  EXPECT_EQ(DeleteKeyValue(existing.Get(), "v"), 1);
  existing.Close();
}

TEST_F(RegistryTest, AMultiStringIsStoredUpToItsFirstPairOfZeroBytes) {
  struct Case {
    std::string list;
    int result;
    std::string stored;
  };
  const Case cases[] = {
      {"a\0b\0\0"s, 0, "a\0b\0\0"s},
      {"\0\0"s, 0, "\0\0"s},
      {"\0\0more\0\0"s, 0, "\0\0"s},
      // An empty entry inside the list does not end it.
      {"a\0\0"s, 0, "a\0\0"s},
      {"one\0two\0\0three\0\0"s, 0, "one\0two\0\0"s},
      {"a\0b\0"s, 1, ""},
      {"", 1, ""},
  };
  RegistryKey key = OpenRegistryPathKey("HKEY_CURRENT_USER\\Software\\Multi", false);
  ASSERT_NE(key.Get(), nullptr);
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = "v" + std::to_string(i++);
    EXPECT_EQ(WriteKeyMultiString(c.list, key.Get(), name), c.result) << name;
    std::string out;
    EXPECT_EQ(ReadKeyValue(out, key.Get(), name), c.result) << name;
    if (c.result == 0) {
      EXPECT_EQ(out, c.stored) << name;
      EXPECT_EQ(TypeOf(HKEY_CURRENT_USER, "Software\\Multi", name), REG_MULTI_SZ);
    }
  }
  key.Close();
}

class LatestSubkeyTest : public RegistryTest {
 protected:
  static constexpr const char* kPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor";
  static void Add(const std::string& base, const std::string& name, const std::string& value) {
    ASSERT_EQ(WriteRegistryPathValue(value, base + "\\" + name, "Home"), 0);
  }
};

TEST_F(LatestSubkeyTest, ByteOrderAndVersionOrderPickTheirOwnLatest) {
  struct Case {
    std::vector<std::string> names;
    std::string byBytes;
    std::string byVersion;
  };
  const Case cases[] = {
      {{"1.4.2", "1.5.0", "1.10"}, "1.5.0", "1.10"},
      {{"9.56", "10.02", "8.50"}, "9.56", "10.02"},
      {{"1.8.0_301", "17", "9"}, "9", "17"},
      // A lower-case letter beats any upper-case letter in the byte order.
      {{"Zeta", "alpha"}, "alpha", "alpha"},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string base = std::string(kPath) + std::to_string(i++);
    for (const std::string& n : c.names) Add(base, n, "home of " + n);
    for (SubkeyOrder order : {SubkeyOrder::Bytes, SubkeyOrder::Version}) {
      const std::string& expected = order == SubkeyOrder::Bytes ? c.byBytes : c.byVersion;
      std::string out;
      std::string latest;
      EXPECT_EQ(ReadLatestSubkeyValue(out, latest, base, "Home", order), 0) << base;
      EXPECT_EQ(latest, expected) << base;
      EXPECT_EQ(out, "home of " + expected + '\0') << base;
    }
  }
}

TEST_F(LatestSubkeyTest, AnEnumerationErrorSkipsOneNameOrEndsTheSearch) {
  Add(kPath, "10", "ten");
  Add(kPath, "9", "nine");
  std::string out;
  std::string latest;
  // A name that does not fit brings nothing; the search goes on ("10" is
  // listed first and would otherwise win in version order).
  emulated::InjectRegistryFault("RegEnumKeyExA", ERROR_MORE_DATA, 1);
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, kPath, "Home", SubkeyOrder::Version), 0);
  EXPECT_EQ(latest, "9");
  // An error that every further index would repeat ends the search at once
  // instead of asking forever.
  emulated::InjectRegistryFault("RegEnumKeyExA", ERROR_KEY_DELETED, 1000000);
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, kPath, "Home", SubkeyOrder::Version), 12);
}

TEST_F(LatestSubkeyTest, ReportsEachWayOfNotFindingAValue) {
  std::string out = "untouched";
  std::string latest = "untouched";
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, "HKLM\\SOFTWARE\\Vendor", "Home"), 11);
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, kPath, "Home"), 11);
  EXPECT_EQ(latest, "untouched");

  ASSERT_EQ(CreateRegistryPathKey(kPath), 0);
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, kPath, "Home"), 12);
  EXPECT_EQ(latest, "");

  Add(kPath, "2.0", "two");
  ASSERT_EQ(CreateRegistryPathKey(std::string(kPath) + "\\3.0"), 0);
  EXPECT_EQ(ReadLatestSubkeyValue(out, latest, kPath, "Home"), 1);
  EXPECT_EQ(latest, "3.0");
  EXPECT_EQ(out, "untouched");
}

}  // namespace
}  // namespace qm
