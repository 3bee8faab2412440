// Locale names, case rules that keep double-byte characters whole, conversion
// without best fit, the character-aware path helpers and Windows text streams.
#include <gtest/gtest.h>

#include <optional>

#include "text/codepage.h"
#include "text/path.h"
#include "text/textstream.h"

namespace {

using std::string;
using namespace std::string_literals;

// The program starts in the C locale; every test leaves it there.
struct Text : ::testing::Test { void TearDown() override { text::SetLocale("C"); } };

TEST_F(Text, LocaleNames) {
  const struct { const char* name; std::optional<unsigned> codePage; } cases[] = {
      {"English_United States.1252", 1252}, {"chinese_hong kong sar.950", 950}, {"english_oz", {}},
      {"chinese-simplified", 936}, {"Chinese_Taiwan", 950}, {"Chinese_China", 936}, {"KOREAN", 949},
      {"english.936", 936}, {"russian", 1251}, {"polish", 1250}, {".utf8", 65001}, {"klingon", {}},
      {".99999", {}}, {"_china", {}}, {".1252x", {}}, {".ACP", 936}, {".OCP", 936}, {"cht", 950},
      {"jpn", 932}, {".12a", {}}, {"chs.", {}}, {"", 936}, {"C", 0}, {"zh-CN", 936}};
  for (const auto& c : cases) EXPECT_EQ(text::CodePageOfLocale(c.name), c.codePage) << c.name;
  ::setenv("QUILLMARK_ACP", "1252", 1);  // the OEM code page goes with the machine's ANSI one
  EXPECT_EQ(text::CodePageOfLocale(".OCP"), 437u);
  ::unsetenv("QUILLMARK_ACP");
  EXPECT_TRUE(text::SetLocale("chs") && !text::SetLocale("xx") && text::CurrentCodePage() == 936);
}

// A lead byte takes the byte after it, whatever it is ("\x81\x41" and
// "\x81\x61" are two characters); a single-byte code page lowers its letters.
TEST_F(Text, LowerCaseAndCompare) {
  const struct { const char* locale; string in, lowered; } cases[] = {
      {"chs", "\x80Z\x81Z\xFEZ\xFFZ\x81", "\x80z\x81Z\xFEZ\xFFz\x81"},
      {"jpn", "\x9FZ\xA0Z\xE0Z\xFCZ\xFDZ", "\x9FZ\xA0z\xE0Z\xFCZ\xFDz"},
      {"korean", "\xB0\x41Q", "\xB0\x41q"}, {"C", "\x81\x41\xC0", "\x81\x61\xC0"},
      {"english", "\xC0\xC9\xDE\xDF\xD7\x8A\x8C\x8E\x9F", "\xE0\xE9\xFE\xDF\xD7\x9A\x9C\x9E\xFF"},
      {"polish", "\xA5\x8C\xC5\xA3\xBC\x8F\x8E", "\xB9\x9C\xE5\xB3\xBE\x9F\x9E"},
      {"russian", "\xC0\xDF\xA8\x80\x8F\xA5", "\xE0\xFF\xB8\x90\x9F\xB4"},
      {"greek", "\xC1\xD3\xDB\xA2\xB8\xBA\xBC\xBE\xBF", "\xE1\xF3\xFB\xDC\xDD\xDF\xFC\xFD\xFE"},
      {"vietnamese", "\xC0\xC9\xD5", "\xE0\xE9\xF5"}};
  for (const auto& c : cases)
    EXPECT_EQ(text::SetLocale(c.locale) ? text::ToLower(c.in) : "?", c.lowered) << c.locale;
  ASSERT_TRUE(text::SetLocale("chs"));  // comparison orders as stricmp, on the lowered texts
  EXPECT_TRUE(text::EqualsNoCase("aBc\x81\x41", "AbC\x81\x41") && !text::EqualsNoCase("a", "ab") &&
              !text::EqualsNoCase("\x81\x41", "\x81\x61") && text::CompareNoCase("[", "A") < 0 &&
              text::CompareNoCase("b", "ABC") > 0 && text::CompareNoCase("ab", "ABC") < 0);
}

// Nothing when the code page cannot hold a character: no best fit, no '?'.
TEST_F(Text, WideToCodePage) {
  const struct { unsigned codePage; std::u16string wide; std::optional<string> bytes; } cases[] = {
      {936, u"\u4e2d\u6587", "\xD6\xD0\xCE\xC4"}, {936, u"\u00c0", {}}, {936, u"a\0b"s, "a\0b"s},
      {1252, u"\u20ac", "\x80"}, {1252, u"\u4e2d", {}}, {65001, u"\u00e9", "\xC3\xA9"},
      {65001, u"a\xd800", {}}, {0, u"\u00e9", "\xE9"}, {0, u"\u0100", {}}};
  for (const auto& c : cases) EXPECT_EQ(text::WideToCodePage(c.wide, c.codePage), c.bytes);
}

// The helpers walk characters: 0x5C after a lead byte is no backslash, nor a trailing one.
TEST_F(Text, PathHelpers) {
  ASSERT_TRUE(text::SetLocale("chs"));
  const struct { string path, base, parent; bool trailing; } cases[] = {
      {"C:\\a\\b", "b", "C:\\a", false}, {"C:\\a\\", "", "C:", true}, {"C:\\", "", "C:\\", true},
      {"a\\", "", "a\\", true}, {"ab\\", "", ".", true}, {"x/y", "x/y", ".", false},
      {"C:\\\xD5\x5C", "\xD5\x5C", "C:", false}, {"a\\\xD5\x5C\\", "", "a", true},
      {"\x81\\", "\x81\\", ".", false}, {"a\\\x81", "\x81", "a", false}};
  for (const auto& c : cases) {
    string parent = c.path, joined = c.path;
    text::ParentDirectory(parent);
    text::AppendPathComponent(joined, "x");
    EXPECT_EQ(std::tuple(text::BaseName(c.path), parent, text::EndsWithBackslash(c.path), joined),
              std::tuple(c.base, c.parent, c.trailing, c.path + (c.trailing ? "x" : "\\x")));
  }
  EXPECT_EQ(text::LastCharacter(""), "");
}

FILE* StreamOf(const string& bytes) {  // read-only, in memory
  return fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
}

string ReadAll(text::TextReader& r) {
  string out;
  for (int c; (c = r.Get()) != EOF;) out += static_cast<char>(c);
  return out;
}

// CR LF is read as LF (also split between two 64 KiB blocks), a CR alone
// stays, 0x1A ends the data; anything after it but more 0x1A bytes is told.
TEST(TextStream, Reading) {
  const string x(65535, 'x'), pad(70000, '\x1A');
  const struct { string file, read; bool dataAfterMark; } cases[] = {
      {"a\r\nb\r\r\n\n", "a\nb\r\n\n", false}, {"a\r", "a\r", false}, {"ab\x1A" "cd", "ab", true},
      {"a" + pad, "a", false}, {"a" + pad + "z", "a", true}, {"\r\x1A\n", "\r", true},
      {"a\0b"s, "a\0b"s, false}, {x + "\r\ny", x + "\ny", false}, {x + "x\r\n", x + "x\n", false},
      {x + x + "x\r", x + x + "x\r", false}};
  for (const auto& c : cases) {
    text::TextReader r(StreamOf(c.file));
    EXPECT_EQ(ReadAll(r), c.read) << c.file.substr(0, 9);
    EXPECT_EQ(r.AtEnd() && r.DataAfterEndMark(), c.dataAfterMark) << c.file.substr(0, 9);
  }
  const string file = "one\r\ntwo\nlong line\r\ne\x1A" "after";
  text::TextReader r(StreamOf(file));
  string lines, line = "x";
  while (r.ReadLine(line, 5)) lines += line + "|", line.clear();
  EXPECT_EQ(lines, "xone\n|two\n|long |line\n|e|");  // as fgets reads into a buffer of 6
  EXPECT_FALSE(r.ReadLine(line, 0));
  r.Rewind();
  EXPECT_TRUE(r.ReadLine(line, 0));  // nothing taken, but not the end of the data
  r.SetRaw(true);  // bytes as stored, as the halves of UTF-16 code units are
  EXPECT_EQ(ReadAll(r), file);
}

// LF is written as CR LF; a failed write is told, and stays told.
TEST(TextStream, Writing) {
  FILE* f = std::tmpfile();
  text::TextWriter w(f), ro(std::fopen("/dev/null", "r")), full(std::fopen("/dev/full", "w"));
  for (string s : {"a\nb"s, "\n"s, "\r\n"s, "\0\n"s}) EXPECT_TRUE(w.Write(s));
  char bytes[16];
  EXPECT_EQ(std::fflush(f), 0);
  std::rewind(f);
  EXPECT_EQ(string(bytes, std::fread(bytes, 1, sizeof bytes, f)), "a\r\nb\r\n\r\r\n\0\r\n"s);
  EXPECT_TRUE(w.Close() && full.Write("x") && !full.Close());  // buffered: fails when flushed
  EXPECT_FALSE(ro.Write("a\nb") || ro.Close() || text::TextWriter(nullptr).Write("c"));
  EXPECT_FALSE(text::TextWriter(std::fopen("/dev/null", "r")).Write("\n"));  // the CR LF itself
}

}  // namespace
