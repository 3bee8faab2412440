// ProcessRegFile end to end on a fresh machine: every kind of line and data in
// both encodings, both modes, and the faults a registration file can bring
// (over-long texts, unconvertible characters, the end of the data).
#include "registry/regfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "registry/regfile_parts.h"
#include "registry/regfile_test_support.h"

namespace qmtest {
namespace {

using namespace std::string_literals;
using qm::RegFileMode;

constexpr Encoding kEncodings[] = {Encoding::Ansi, Encoding::Utf16};

const char* Name(Encoding e) {
  return e == Encoding::Ansi ? "ANSI" : "UTF-16";
}

std::string Header() {
  return "Windows Registry Editor Version 5.00\n\n";
}
std::string KeyLine(const std::string& sub = "") {
  return "[" + kTestPath + (sub.empty() ? "" : "\\" + sub) + "]\n";
}

std::optional<StoredValue> TestValue(const std::string& name, const std::string& sub = "") {
  return QueryValue(HKEY_CURRENT_USER, sub.empty() ? kTestKey : kTestKey + "\\" + sub, name);
}

// ---- Data kinds --------------------------------------------------------------

struct DataCase {
  const char* what;
  std::string valueLines;              // after the key line; the value is "v"
  std::optional<StoredValue> stored;   // nothing: no value
  std::optional<StoredValue> inUtf16;  // where UTF-16 differs
};

const std::vector<DataCase>& DataCases() {
  static const std::vector<DataCase> cases = {
      {"plain string", "\"v\"=\"plain\"\n", Sz("plain"), {}},
      {"empty string", "\"v\"=\"\"\n", Sz(""), {}},
      {"doubled backslash", "\"v\"=\"C:\\\\Tools\"\n", Sz("C:\\Tools"), {}},
      {"escaped quote", "\"v\"=\"say \\\"hi\\\"\"\n", Sz("say \"hi\""), {}},
      {"other escape ends the data", "\"v\"=\"C:\\Tools\"\n", Sz("C:"), {}},
      {"text after the closing quote", "\"v\"=\"a\" ; note\n", Sz("a"), {}},
      // An unclosed string keeps the line's own end character.
      {"unclosed string", "\"v\"=\"open\n", Sz("open\n"), Sz("open\r")},
      {"space before =", "\"v\" =\"x\"\n", {}, {}},
      {"space after =", "\"v\"= \"x\"\n", {}, {}},
      {"escaped name", "\"a\\\\b\"=\"x\"\n\"v\"=\"y\"\n", Sz("y"), {}},
      {"dword", "\"v\"=dword:0000002a\n", Dword(42), {}},
      {"dword, short", "\"v\"=dword:1\n", Dword(1), {}},
      {"dword, mixed case digits", "\"v\"=dword:FfFf0000\n", Dword(0xFFFF0000), {}},
      {"dword, space before digits", "\"v\"=dword: 2a\n", Dword(42), {}},
      {"dword, nine digits: the first eight", "\"v\"=dword:0ffffffff\n", Dword(0x0FFFFFFF), {}},
      {"DWORD in capitals", "\"v\"=DWORD:0000002a\n", {}, {}},
      {"dword without digits", "\"v\"=dword:\n", {}, {}},
      {"hex", "\"v\"=hex:01,02,03\n", Binary("\x01\x02\x03"), {}},
      {"hex, upper case", "\"v\"=hex:0A,FF\n", Binary("\x0a\xff"), {}},
      {"hex continued", "\"v\"=hex:01,02,\\\n  03\n", Binary("\x01\x02\x03"), {}},
      {"hex continued twice", "\"v\"=hex:01,\\\n  02,\\\n      03\n", Binary("\x01\x02\x03"), {}},
      // A space between the comma and the backslash ends the list.
      {"hex, space before backslash", "\"v\"=hex:01,02, \\\n  03\n", Binary("\x01\x02"), {}},
      {"hex with only the line end", "\"v\"=hex:\n", {}, {}},
      {"hex, missing byte", "\"v\"=hex:01,,02\n", {}, {}},
      {"hex(2)", "\"v\"=hex(2):25,00,41,00,25,00,00,00\n", ExpandSz("%A%"), {}},
      {"hex(2) without terminator, odd length", "\"v\"=hex(2):41,00,42\n", ExpandSz("AB"), {}},
      {"hex(2) continued", "\"v\"=hex(2):41,00,\\\n  42,00,00,00\n", ExpandSz("AB"), {}},
      {"hex(7)", "\"v\"=hex(7):61,00,00,00,62,00,00,00,00,00\n", MultiSz("a\0b\0\0"s), {}},
      {"hex(7) empty", "\"v\"=hex(7):00,00\n", MultiSz("\0\0"s), {}},
      {"hex(7) without terminators", "\"v\"=hex(7):61,00\n", MultiSz("a\0\0"s), {}},
      {"hex(7) with an empty entry",
       "\"v\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00\n",
       MultiSz("a\0\0"s),
       {}},
      {"hex(0)", "\"v\"=hex(0):\n", {}, {}},
      {"hex(b)", "\"v\"=hex(b):01,00,00,00,00,00,00,00\n", {}, {}},
      {"hex(4)", "\"v\"=hex(4):01,00,00,00\n", {}, {}},
      {"deletion mark", "\"v\"=-\n", {}, {}},
      {"no data", "\"v\"=\n", {}, {}},
  };
  return cases;
}

TEST_F(RegFileTest, ImportsEachKindOfDataInBothEncodings) {
  for (Encoding encoding : kEncodings) {
    for (const DataCase& c : DataCases()) {
      SCOPED_TRACE(std::string(Name(encoding)) + ": " + c.what);
      SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
      ASSERT_EQ(Process(RegFileBytes(Header() + KeyLine() + c.valueLines, encoding)), 0);
      std::optional<StoredValue> expected =
          encoding == Encoding::Utf16 && c.inUtf16 ? c.inUtf16 : c.stored;
      EXPECT_EQ(TestValue("v"), expected);
    }
  }
}

struct DefaultCase {
  const char* line;
  std::optional<StoredValue> stored;
};

TEST_F(RegFileTest, DefaultValueNeedsTheEqualsSignRightAfterTheAt) {
  const DefaultCase cases[] = {
      {"@=\"d\"\n", Sz("d")},
      {"@=dword:00000001\n", Dword(1)},
      {"@ =\"d\"\n", {}},
      {"@\n", {}},
      {"\"\"=\"named empty\"\n", Sz("named empty")},
  };
  for (Encoding encoding : kEncodings) {
    for (const DefaultCase& c : cases) {
      SCOPED_TRACE(std::string(Name(encoding)) + ": " + c.line);
      SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
      ASSERT_EQ(Process(RegFileBytes(KeyLine() + c.line, encoding)), 0);
      EXPECT_EQ(TestValue(""), c.stored);
    }
  }
}

// ---- Key lines and sections ----------------------------------------------------

TEST_F(RegFileTest, ValuesGoToTheKeyOfTheirSectionOnly) {
  for (Encoding encoding : kEncodings) {
    SCOPED_TRACE(Name(encoding));
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
    const std::string file =
        "\"early\"=\"before any key\"\n"
        "; comment\n"
        "[" +
        kTestPath +
        "\\A]\n"
        "\"a\"=\"1\"\n"
        "\n"
        "  \"indented\"=\"ignored\"\n"
        "[" +
        kTestPath +
        "\\B]--uninstall\n"
        "\"b\"=\"2\"\n"
        "[" +
        kTestPath +
        "\\C\n"  // no closing bracket: no key for this section
        "\"c\"=\"3\"\n"
        "[HKCU\\" +
        kTestKey +
        "\\D]\n"  // short root names are not known
        "\"d\"=\"4\"\n"
        "[" +
        kTestPath +
        "\\E]\n"
        "\"e\"=\"5\"\n";
    // The HKCU section asks for a key that cannot be made: reported, and the
    // file read on.
    ASSERT_EQ(Process(RegFileBytes(file, encoding)), 2);
    EXPECT_EQ(TestValue("a", "A"), Sz("1"));
    EXPECT_EQ(TestValue("b", "B"), Sz("2"));  // the marker means nothing on import
    EXPECT_EQ(TestValue("e", "E"), Sz("5"));
    for (const char* stray : {"early", "indented", "c", "d"}) {
      EXPECT_EQ(TestValue(stray, "A"), std::nullopt) << stray;
      EXPECT_EQ(TestValue(stray, "B"), std::nullopt) << stray;
      EXPECT_EQ(TestValue(stray), std::nullopt) << stray;
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey + "\\C"));
  }
}

TEST_F(RegFileTest, HeaderIsNotChecked) {
  for (const char* header : {"", "REGEDIT4\n", "Anything at all\n"}) {
    SCOPED_TRACE(header);
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
    ASSERT_EQ(
        Process(RegFileBytes(std::string(header) + KeyLine() + "\"v\"=\"x\"\n", Encoding::Ansi)),
        0);
    EXPECT_EQ(TestValue("v"), Sz("x"));
  }
}

// "-HKEY_CURRENT_USER" is 18 characters long, the length of HKEY_LOCAL_MACHINE:
// taken as a path, a deletion line would create (and fill) a key under a root
// the file never named.
TEST_F(RegFileTest, DeletionKeyLineTouchesNoRoot) {
  const std::string file = "[-" + kTestPath + "\\Gone]\n\"v\"=\"x\"\n@=\"\"\n";
  for (RegFileMode mode : {RegFileMode::Import, RegFileMode::Removal}) {
    ASSERT_EQ(Process(RegFileBytes(file, Encoding::Ansi), mode), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestKey + "\\Gone"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey + "\\Gone"));
  }
  // Nor does a marked one delete the key of that other root.
  PutValue(HKEY_LOCAL_MACHINE, "Software\\Keep", "v", Sz("x"));
  ASSERT_EQ(Process("[-HKEY_CURRENT_USER\\Software\\Keep]--uninstall\n", RegFileMode::Removal), 0);
  EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, "Software\\Keep", "v"), Sz("x"));
}

// In GBK, U+4E5A is 81 5D and U+4E57 is 81 5C: trail bytes that equal ']'
// and '\'. A double-byte character is one character, in both encodings.
TEST_F(RegFileTest, DoubleByteCharactersAreNotSplit) {
  const std::string bracket = "\u4E5A", backslash = "\u4E57";
  const std::string gbkBracket = "\x81\x5D", gbkBackslash = "\x81\x5C";
  for (Encoding encoding : kEncodings) {
    SCOPED_TRACE(Name(encoding));
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
    const std::string& b = encoding == Encoding::Ansi ? gbkBracket : bracket;
    const std::string& s = encoding == Encoding::Ansi ? gbkBackslash : backslash;
    const std::string file =
        "[" + kTestPath + "\\K" + b + "x]\n\"n" + s + "\"=\"d" + s + "\\\\\"\n";
    ASSERT_EQ(Process(RegFileBytes(file, encoding)), 0);
    EXPECT_EQ(TestValue("n" + gbkBackslash, "K" + gbkBracket + "x"), Sz("d" + gbkBackslash + "\\"));
  }
}

TEST_F(RegFileTest, Utf16TextIsStoredInTheCodePageOfTheLocale) {
  const std::string file = KeyLine() + "\"名\"=\"中文\"\n\"x\"=hex(2):2d,4e,87,65,00,00\n";
  ASSERT_EQ(Process(RegFileBytes(file, Encoding::Utf16)), 0);
  EXPECT_EQ(TestValue("\xC3\xFB"), Sz("\xD6\xD0\xCE\xC4"));
  EXPECT_EQ(TestValue("x"), ExpandSz("\xD6\xD0\xCE\xC4"));
  // Characters whose code units hold the byte 0x1A are stored whole, and the
  // lines after them are read.
  SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
  ASSERT_EQ(
      Process(RegFileBytes(KeyLine() + "\"k\"=\"\u041A\u4E1A\"\n\"z\"=\"1\"\n", Encoding::Utf16)),
      0);
  EXPECT_EQ(TestValue("k"), Sz("\xA7\xAC\xD2\xB5"));
  EXPECT_NE(TestValue("z"), std::nullopt);

  ASSERT_TRUE(text::SetLocale("english"));
  SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
  ASSERT_EQ(Process(RegFileBytes(KeyLine() + "\"v\"=\"caf\u00e9\"\n", Encoding::Utf16)), 0);
  EXPECT_EQ(TestValue("v"), Sz("caf\xE9"));
}

// ---- The stream ------------------------------------------------------------------

struct StreamCase {
  const char* what;
  std::string bytes;
  std::vector<std::string> imported;  // values "a", "b", ... expected present
  std::vector<std::string> absent;
  int result = 0;  // 2: some of the file was not read
};

TEST_F(RegFileTest, ReadsTheFileAsAWindowsTextStream) {
  const std::string key = KeyLine();
  const std::string bom = "\xFF\xFE";
  const StreamCase cases[] = {
      {"LF line ends", key + "\"a\"=\"1\"\n\"b\"=\"2\"\n", {"a", "b"}, {}},
      {"ANSI last line without line feed", key + "\"a\"=\"1\"\r\n\"b\"=\"2\"", {"a", "b"}, {}},
      {"0x1A ends ANSI data", key + "\"a\"=\"1\"\r\n\x1A\"b\"=\"2\"\r\n", {"a"}, {"b"}, 2},
      {"0x1A padding after the last line", key + "\"a\"=\"1\"\r\n\x1A\x1A\x1A", {"a"}, {}},
      // Cut at the zero, "b" would be stored as "x".
      {"zero byte in an ANSI line", key + "\"b\"=\"x\0y\"\r\n\"a\"=\"1\"\r\n"s, {"a"}, {"b"}, 2},
      {"zero code unit in a UTF-16 line",
       bom + Utf16Bytes(key + "\"b\"=\"x\0y\"\r\n\"a\"=\"1\"\r\n"s),
       {"a"},
       {"b"},
       2},
      {"key line with a zero byte: its section has no key",
       key + "\"a\"=\"1\"\r\n["s + kTestPath + "\\K\0]\r\n\"b\"=\"2\"\r\n"s,
       {"a"},
       {"b"},
       2},
      {"hex continuation line with a zero byte",
       key + "\"b\"=hex:01,\\\r\n  02\0\r\n\"a\"=\"1\"\r\n"s,
       {"a"},
       {"b"},
       2},
      // M4: the last line of a UTF-16 file is a line, line feed or not.
      {"UTF-16 last line without line feed",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\"b\"=dword:00000002"),
       {"a", "b"},
       {}},
      {"UTF-16 last line ended by CR alone",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\"b\"=\"2\"\r"),
       {"a", "b"},
       {}},
      {"UTF-16 half a code unit at the end",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\"b\"=\"2\"") + "\x00"s,
       {"a", "b"},
       {}},
      // U+041A and U+4E1A are the bytes 1A 04 and 1A 4E: characters, not the
      // end of the data, which only the code unit U+001A marks.
      {"0x1A byte inside UTF-16 characters",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\"x\"=\"\u041A\u4E1A\"\r\n\"b\"=\"2\"\r\n"),
       {"a", "x", "b"},
       {}},
      {"U+001A ends UTF-16 data",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\x1A\"b\"=\"2\"\r\n"),
       {"a"},
       {"b"},
       2},
      {"U+001A padding after the last line",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n\x1A\x1A"),
       {"a"},
       {}},
      // A character GBK cannot hold ends the processing at that line.
      {"unconvertible comment",
       bom + Utf16Bytes(key + "\"a\"=\"1\"\r\n; \U0001F855\r\n\"b\"=\"2\"\r\n"),
       {"a"},
       {"b"},
       2},
      // ... but in a continuation line it only fails that value.
      {"unconvertible continuation line",
       bom + Utf16Bytes(key + "\"x\"=hex:01,\\\r\n  \U0001F855\r\n\"b\"=\"2\"\r\n"),
       {"b"},
       {"x"},
       2},
      // Read as ANSI text, every line holds zero bytes: nothing is done, and
      // the result says so.
      {"big-endian mark", "\xFE\xFF"s + Utf16Bytes(key + "\"a\"=\"1\"\r\n"), {}, {"a"}, 2},
      {"mark only", bom, {}, {"a"}},
      {"empty", "", {}, {"a"}},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.what);
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
    EXPECT_EQ(Process(c.bytes), c.result);
    for (const std::string& name : c.imported) EXPECT_NE(TestValue(name), std::nullopt) << name;
    for (const std::string& name : c.absent) EXPECT_EQ(TestValue(name), std::nullopt) << name;
  }
}

TEST_F(RegFileTest, AMissingFileFailsAndMalformedLinesDoNot) {
  EXPECT_EQ(qm::ProcessRegFile("C:\\no such.reg", RegFileMode::Import), 1);
  EXPECT_EQ(qm::ProcessRegFile("C:\\no such.reg", RegFileMode::Removal), 1);
  EXPECT_EQ(qm::ProcessRegFile("C:\\", RegFileMode::Import), 1);  // a directory
  for (RegFileMode mode : {RegFileMode::Import, RegFileMode::Removal})
    EXPECT_EQ(Process("garbage\n[\n\"\n@\n\xFF\n\"v\"=hex(b):01\n\"w\"=-\n", mode), 0);
}

// ---- Removal ---------------------------------------------------------------------

struct Presence {
  std::string sub;
  const char* name;  // nullptr: the key itself
  bool present;
};

struct RemovalCase {
  const char* what;
  std::string file;
  std::vector<Presence> after;
};

// The machine each removal case starts from: A (values a1..a3, subkey A\Sub),
// B (b1, b2) and nothing else under the test key.
void SetUpRemovalMachine() {
  SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\A", "a1", Sz("1"));
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\A", "a2", Dword(2));
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\A", "a3", Binary("\x03"));
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\A\\Sub", "s", Sz("s"));
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\B", "b1", Sz("1"));
  PutValue(HKEY_CURRENT_USER, kTestKey + "\\B", "b2", Sz("2"));
}

TEST_F(RegFileTest, RemovesOnlyWhatIsMarked) {
  const std::string a = "[" + kTestPath + "\\A]", b = "[" + kTestPath + "\\B]";
  const RemovalCase cases[] = {
      {"marked key: the whole tree",
       a + "--uninstall\n\"a1\"=\"1\"\n",
       {{"A", nullptr, false}, {"A\\Sub", nullptr, false}, {"B", "b1", true}}},
      {"marked string value",
       a + "\n\"a1\"=\"1\" --uninstall\n\"a2\"=dword:2\n",
       {{"A", "a1", false}, {"A", "a2", true}, {"A", "a3", true}}},
      {"marker inside the quotes is data", a + "\n\"a1\"=\"x --uninstall\"\n", {{"A", "a1", true}}},
      {"marked dword and hex, no continuation consumed",
       a + "\n\"a2\"=dword:2 --uninstall\n\"a3\"=hex:01,\\--uninstall\n\"a1\"=\"1\"--uninstall\n",
       {{"A", "a2", false}, {"A", "a3", false}, {"A", "a1", false}}},
      {"default value line", a + "\n@=\"\"--uninstall\n\"a1\"=\"\"\n", {{"A", "a1", true}}},
      {"unmarked lines remove nothing",
       a + "\n\"a1\"=\"1\"\n" + b + "\n\"b1\"=\"1\"\n",
       {{"A", "a1", true}, {"B", "b1", true}}},
      {"marked section: its value lines change nothing, the next section works",
       a + "--uninstall\n\"b1\"=\"1\"--uninstall\n" + b + "\n\"b2\"=\"2\"--uninstall\n",
       {{"A", nullptr, false}, {"B", "b1", true}, {"B", "b2", false}}},
      {"marked missing key: nothing, and its values are not looked for",
       "[" + kTestPath + "\\Missing]--uninstall\n\"b1\"=\"1\"--uninstall\n",
       {{"B", "b1", true}, {"Missing", nullptr, false}}},
      // M8: removal never creates a key.
      {"unmarked missing key is not created",
       "[" + kTestPath + "\\Missing]\n\"x\"=\"1\"--uninstall\n[" + kTestPath + "\\A\\New\\Deep]\n",
       {{"Missing", nullptr, false}, {"A\\New", nullptr, false}}},
      {"malformed key line ends the section",
       a + "\n[" + kTestPath + "\\B\n\"a1\"=\"1\"--uninstall\n",
       {{"A", "a1", true}, {"B", nullptr, true}}},
      {"removal markers spelt otherwise",
       a + " --uninstall\n" + b + "--UNINSTALL\n\"b1\"=\"1\"--Uninstall\n",
       {{"A", nullptr, true}, {"B", nullptr, true}, {"B", "b1", true}}},
  };
  for (Encoding encoding : kEncodings) {
    for (const RemovalCase& c : cases) {
      SCOPED_TRACE(std::string(Name(encoding)) + ": " + c.what);
      SetUpRemovalMachine();
      ASSERT_EQ(Process(RegFileBytes(c.file, encoding), RegFileMode::Removal), 0);
      for (const Presence& p : c.after) {
        const std::string subkey = kTestKey + "\\" + p.sub;
        bool present = p.name ? QueryValue(HKEY_CURRENT_USER, subkey, p.name).has_value()
                              : KeyExists(HKEY_CURRENT_USER, subkey);
        EXPECT_EQ(present, p.present) << p.sub << " " << (p.name ? p.name : "(key)");
      }
    }
  }
}

TEST_F(RegFileTest, RemovalWritesNothing) {
  SetUpRemovalMachine();
  const std::string file = "[" + kTestPath + "\\A]\n\"a1\"=\"changed\"\n\"new\"=dword:1\n";
  ASSERT_EQ(Process(RegFileBytes(file, Encoding::Ansi), RegFileMode::Removal), 0);
  EXPECT_EQ(TestValue("a1", "A"), Sz("1"));
  EXPECT_EQ(TestValue("new", "A"), std::nullopt);
}

// M10: a path that is a root alone names no key below it; a removal must not
// wipe the root.
TEST_F(RegFileTest, MarkedRootAloneDeletesNothing) {
  SetUpRemovalMachine();
  for (const char* root : {"HKEY_CURRENT_USER\\", "HKEY_CURRENT_USER\\\\", "HKEY_CURRENT_USER"}) {
    SCOPED_TRACE(root);
    ASSERT_EQ(Process("[" + std::string(root) + "]--uninstall\n", RegFileMode::Removal), 0);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTestKey + "\\A\\Sub"));
    EXPECT_EQ(TestValue("b1", "B"), Sz("1"));
  }
}

// ---- Limits: too long is skipped, never cut -----------------------------------------

// The line limit is 33,294 characters with the line feed.
constexpr size_t kLineLimit = qm::kRegLineRequest - 1;

// `"name"="data"` padded with spaces to `length` characters, line feed included.
std::string PaddedLine(const std::string& name, size_t length) {
  std::string line = "\"" + name + "\"=\"x\"";
  line.append(length - 1 - line.size(), ' ');
  return line + "\n";
}

TEST_F(RegFileTest, OverlongAnsiLineIsSkippedWholeNotReadAsPieces) {
  // The first piece ends just before a text that looks like a value line.
  std::string longLine = "\"long\"=\"";
  longLine.append(kLineLimit - longLine.size(), 'x');
  longLine += "\"tail\"=\"from the middle of a line\"\n";
  const std::string file = KeyLine() + PaddedLine("fits", kLineLimit) + longLine +
                           PaddedLine("over", kLineLimit + 1) + "\"after\"=\"1\"\n" +
                           PaddedLine("last", kLineLimit).substr(0, kLineLimit - 1);
  ASSERT_EQ(Process(file), 2);
  EXPECT_EQ(TestValue("fits"), Sz("x"));
  EXPECT_EQ(TestValue("long"), std::nullopt);
  EXPECT_EQ(TestValue("tail"), std::nullopt);
  EXPECT_EQ(TestValue("over"), std::nullopt);
  EXPECT_EQ(TestValue("after"), Sz("1"));
  EXPECT_EQ(TestValue("last"), Sz("x"));  // a full last line without a line feed
}

TEST_F(RegFileTest, OverlongUtf16LineIsSkippedWholeNotReadAsPieces) {
  const size_t limit = qm::kMaxWideLineUnits;  // code units before the line feed
  auto line = [](const std::string& name, size_t units) {
    std::string s = "\"" + name + "\"=\"x\"";
    s.append(units - s.size(), ' ');
    return s;
  };
  std::string longLine = "\"long\"=\"";
  longLine.append(limit - longLine.size(), 'y');
  longLine += "\"tail\"=\"from the middle\"";
  const std::string text = KeyLine() + line("fits", limit) + "\n" + longLine + "\n" +
                           line("over", limit + 1) + "\n\"after\"=\"1\"\n" + line("last", limit);
  ASSERT_EQ(Process("\xFF\xFE" + Utf16Bytes(text)), 2);
  EXPECT_EQ(TestValue("fits"), Sz("x"));
  EXPECT_EQ(TestValue("long"), std::nullopt);
  EXPECT_EQ(TestValue("tail"), std::nullopt);
  EXPECT_EQ(TestValue("over"), std::nullopt);
  EXPECT_EQ(TestValue("after"), Sz("1"));
  EXPECT_EQ(TestValue("last"), Sz("x"));
}

TEST_F(RegFileTest, OverlongKeyLineLeavesItsSectionWithoutAKey) {
  std::string longKey = "[" + kTestPath + "\\";
  longKey.append(kLineLimit + 10 - longKey.size(), 'k');
  const std::string file = KeyLine() + longKey + "]\n\"v\"=\"1\"\n";
  ASSERT_EQ(Process(file), 2);
  EXPECT_EQ(TestValue("v"), std::nullopt);
}

TEST_F(RegFileTest, OverlongPathLeavesItsSectionWithoutAKey) {
  // Components of 200 characters, 32,768 characters of subkey in all.
  std::string subkey = kTestKey;
  while (subkey.size() < 32768) subkey += "\\" + std::string(200, 'p');
  subkey.resize(32768);
  const std::string keyLine = "[HKEY_CURRENT_USER\\" + subkey + "]";
  for (RegFileMode mode : {RegFileMode::Import, RegFileMode::Removal}) {
    SetUpRemovalMachine();
    const std::string file = "[" + kTestPath + "\\A]\n" + keyLine + "\n\"a1\"=\"1\"--uninstall\n" +
                             keyLine + "--uninstall\n";
    // Import: the key cannot be made. Removal: a key that cannot be there
    // has nothing to remove.
    ASSERT_EQ(Process(file, mode), mode == RegFileMode::Import ? 2 : 0);
    EXPECT_EQ(TestValue("a1", "A"), Sz("1"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTestKey + "\\A"));
  }
}

struct LimitCase {
  const char* what;
  std::string lines;  // value "v"
  bool stored;
};

std::string HexList(size_t bytes, size_t perLine) {
  std::string list;
  for (size_t i = 0; i < bytes; ++i) {
    list += "5a";
    if (i + 1 < bytes) list += (i + 1) % perLine == 0 ? ",\\\n  " : ",";
  }
  return list + "\n";
}

TEST_F(RegFileTest, TextsOverTheirLimitsAreSkippedNotCut) {
  const LimitCase cases[] = {
      {"name of 512", "\"" + std::string(512, 'n') + "\"=\"x\"\n\"v\"=\"ok\"\n", true},
      {"name of 513", "\"v" + std::string(512, 'n') + "\"=\"x\"\n", false},
      {"string of 32,766", "\"v\"=\"" + std::string(32766, 's') + "\"\n", true},
      {"string of 32,767", "\"v\"=\"" + std::string(32767, 's') + "\"\n", false},
      {"escaped string of 32,767", "\"v\"=\"" + std::string(32766, 's') + "\\\\\"\n", false},
      {"hex of 32,764 bytes", "\"v\"=hex:" + HexList(32764, 1000), true},
      {"hex of 32,765 bytes", "\"v\"=hex:" + HexList(32765, 1000), false},
      // 3n characters of list text after the colon, its line feed included.
      {"hex text of 32,766", "\"v\"=hex:" + HexList(10922, 20000), true},
      {"hex text of 32,769", "\"v\"=hex:" + HexList(10923, 20000), false},
      {"continuation line of 32,767", "\"v\"=hex:01,\\\n" + std::string(32764, ' ') + "02\n", true},
      {"continuation line of 32,768", "\"v\"=hex:01,\\\n" + std::string(32765, ' ') + "02\n",
       false},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.what);
    SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
    // LF line ends: the limits count characters after the stream's CR LF rule.
    ASSERT_EQ(Process(KeyLine() + c.lines + "\"after\"=\"1\"\n"), c.stored ? 0 : 2);
    EXPECT_EQ(TestValue("v").has_value(), c.stored);
    EXPECT_EQ(TestValue("after"), Sz("1"));  // the lines that follow are read as before
  }
  // What was stored is whole.
  SHDeleteKeyA(HKEY_CURRENT_USER, kTestKey.c_str());
  ASSERT_EQ(Process(KeyLine() + "\"v\"=hex:" + HexList(32764, 1000)), 0);
  EXPECT_EQ(TestValue("v"), Binary(std::string(32764, 'Z')));
}

TEST_F(RegFileTest, ConvertedTextOverTheBufferIsSkipped) {
  // Under UTF-8, 16,382 code units of U+4E2D take 49,146 bytes.
  ASSERT_TRUE(text::SetLocale(".65001"));
  std::string list;
  for (int i = 0; i < 200; ++i) list += "2d,4e,";
  const std::string small = "\"v\"=hex(2):" + list + "00,00\n";
  std::string big = "\"w\"=hex(2):";
  for (int i = 0; i < 16382; ++i) big += i % 500 == 499 ? "2d,4e,\\\n  " : "2d,4e,";
  big += "00,00\n";
  ASSERT_EQ(Process(KeyLine() + small + big), 2);
  ASSERT_TRUE(TestValue("v").has_value());
  EXPECT_EQ(TestValue("v")->data.size(), 601u);
  EXPECT_EQ(TestValue("w"), std::nullopt);
}

// ---- Real files ------------------------------------------------------------------------

std::string RealFile(const std::string& name) {
  return std::string(QM_SHARED_TESTDATA) + "/reg/real/" + name;
}

std::string ReadHostFile(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

struct RealFileResult {
  const char* file;
  int import, removal;
};

// Every real file is read without fault; these few say what they could not do.
const RealFileResult kRealFileFailures[] = {
    // "[Computer\HKEY_LOCAL_MACHINE\...]" names no root: its section cannot
    // be imported, and on removal there is nothing under it.
    {"16-kubsonxtm-privacy-registry.reg", 2, 0},
    // A comment holds characters code page 936 cannot hold: the reading ends.
    {"41-far-ftp-techinfo-rus-utf16.reg", 2, 2},
    {"42-explorerpatcher-settings-utf16.reg", 2, 2},
};

TEST_F(RegFileTest, RealFilesReportOnlyWhatTheyCannotDo) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(std::string(QM_SHARED_TESTDATA) + "/reg/real")) {
    if (entry.path().extension() != ".reg") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    RealFileResult want{nullptr, 0, 0};
    for (const RealFileResult& r : kRealFileFailures)
      if (name == r.file) want = r;
    const std::string bytes = ReadHostFile(entry.path().string());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(Process(bytes, RegFileMode::Import), want.import);
    EXPECT_EQ(Process(bytes, RegFileMode::Removal), want.removal);
    ++files;
  }
  EXPECT_EQ(files, 42);
}

// M4 on a real file: its last line, "MarkChar"=dword:000000fb, has no line feed.
TEST_F(RegFileTest, RealUtf16FileKeepsItsLastLineWithoutLineFeed) {
  ASSERT_EQ(Process(ReadHostFile(RealFile("39-far-colors-farcolors242-utf16.reg"))), 0);
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, "Software\\Far\\Colors\\Highlight\\Group99", "MarkChar"),
            Dword(0xfb));
}

}  // namespace
}  // namespace qmtest
