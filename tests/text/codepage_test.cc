// Locale names, DBCS-aware case rules and conversion to the code page.
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "text/output.h"

namespace {

// Every test starts and ends in the C locale, the program's start value.
class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(text::SetLocale("C")); }
  void TearDown() override { text::SetLocale("C"); }
};

TEST_F(CodePageTest, LocaleNames) {
  const struct {
    const char* name;
    unsigned codePage;
  } known[] = {
      {"chinese-simplified", 936},
      {"CHS", 936},
      {"chinese", 936},
      {"chinese-traditional", 950},
      {"cht", 950},
      {"japanese", 932},
      {"jpn", 932},
      {"korean", 949},
      {"KOR", 949},
      {"english", 1252},
      {"american", 1252},
      {".936", 936},
      {"Chinese_China.936", 936},
      {"Chinese_China", 936},
      {"Chinese_Taiwan", 950},
      {"chinese_hong kong sar.950", 950},
      {"C", 0},
      {"english_us.1252", 1252},
      {"English_United States.1252", 1252},
      {".1252", 1252},
      {".ACP", 936},
      {"russian", 1251},
      {"Greek", 1253},
      {"polish", 1250},
      {"thai", 874},
      {".65001", 65001},
      {".utf8", 65001},
      {"en-US", 1252},
      {"zh-CN", 936},
      {"english.936", 936},
  };
  for (const auto& c : known) {
    auto cp = text::CodePageOfLocale(c.name);
    ASSERT_TRUE(cp.has_value()) << c.name;
    EXPECT_EQ(*cp, c.codePage) << c.name;
  }
  const char* unknown[] = {"klingon", "english_narnia", ".99999",
                           ".12a",    "chs.",           "chinese-simplified.abc",
                           "c.936x",  "_china",         "chs_"};
  for (const char* name : unknown) EXPECT_FALSE(text::CodePageOfLocale(name)) << name;
}

TEST_F(CodePageTest, UnknownNameChangesNothing) {
  EXPECT_EQ(text::CurrentCodePage(), 0u);
  EXPECT_TRUE(text::SetLocale("chinese-simplified"));
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  EXPECT_FALSE(text::SetLocale("klingon"));
  EXPECT_EQ(text::CurrentCodePage(), 936u);
  EXPECT_TRUE(text::SetLocale("japanese"));
  EXPECT_EQ(text::CurrentCodePage(), 932u);
}

// GBK characters whose trail byte is an ASCII capital: 0x81 0x41 and
// 0x81 0x61 are two different characters; lowering must not turn the first
// into the second, and no search may see an 'A' inside it.
TEST_F(CodePageTest, TrailBytesNeverFold) {
  const std::string gbkA = "\x81\x41";  // trail byte 'A'
  const std::string gbka = "\x81\x61";  // trail byte 'a'
  const struct {
    const char* locale;
    std::string in;
    std::string lowered;
  } cases[] = {
      {"chs", gbkA + "ABC", gbkA + "abc"},
      {"chs", "X" + gbkA + "\x81", "x" + gbkA + "\x81"},
      {"chs",
       "\xD6\xD0"
       "Path",
       "\xD6\xD0"
       "path"},
      {"japanese",
       "\x83\x41"
       "Z",
       "\x83\x41"
       "z"},  // katakana A: trail byte 'A'
      {"japanese",
       "\xB1"
       "A",
       "\xB1"
       "a"},  // half-width katakana: one byte
      {"korean",
       "\xB0\x41"
       "Q",
       "\xB0\x41"
       "q"},
      {"C", gbkA, gbka},  // the C locale takes bytes as they are
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(text::SetLocale(c.locale));
    EXPECT_EQ(text::ToLower(c.in), c.lowered) << c.locale;
    std::string inPlace = c.in;
    text::LowerInPlace(inPlace);
    EXPECT_EQ(inPlace, c.lowered) << c.locale;
  }

  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  EXPECT_FALSE(text::EqualsNoCase(gbkA, gbka));
  EXPECT_TRUE(text::EqualsNoCase(gbkA + "x", gbkA + "X"));
  EXPECT_NE(text::CompareNoCase(gbkA, gbka), 0);
  EXPECT_EQ(text::FindNoCase(gbkA, "a"), std::string::npos);
  EXPECT_EQ(text::FindNoCase(gbkA, "A"), std::string::npos);
  EXPECT_EQ(text::FindNoCase(gbkA + "A", "a"), 2u);
  // A needle may not start on a trail byte nor end inside a character.
  EXPECT_EQ(text::FindNoCase("\x81\x81\x41", "\x81\x41"), std::string::npos);
  EXPECT_EQ(text::FindNoCase("a\x81\x41", "a\x81"), std::string::npos);
  EXPECT_EQ(text::FindNoCase("C:\\TeX\\BIN;c:\\tex\\bin", "c:\\tex\\bin"), 0u);
  EXPECT_EQ(text::FindNoCase("xx;C:\\TeX\\BIN", "c:\\tex\\bin"), 3u);
  EXPECT_EQ(text::FindNoCase("abc", ""), 0u);
}

TEST_F(CodePageTest, SingleByteCodePagesLowerTheirOwnLetters) {
  const struct {
    const char* locale;
    std::string in;
    std::string lowered;
  } cases[] = {
      {"english",
       "\xC0\xC9\x8A\x8C\x9F"
       "A\xD7",
       "\xE0\xE9\x9A\x9C\xFF"
       "a\xD7"},
      {"russian", "\xC0\xDF\xA8", "\xE0\xFF\xB8"},  // А Я Ё
      {"greek", "\xC1\xD3", "\xE1\xF3"},            // Α Σ
      {"polish", "\xA5\x8C", "\xB9\x9C"},           // Ą Ś
      {"C",
       "\xC0"
       "A",
       "\xC0"
       "a"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(text::SetLocale(c.locale));
    EXPECT_EQ(text::ToLower(c.in), c.lowered) << c.locale;
    EXPECT_TRUE(text::EqualsNoCase(c.in, c.lowered)) << c.locale;
  }
}

TEST_F(CodePageTest, CompareOrdersAsStricmp) {
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"abc", "ABC", 0}, {"abc", "ABD", -1}, {"b", "A", 1},
      {"ab", "ABC", -1}, {"", "", 0},        {"[", "a", -1},  // '[' < 'a' after lowering
  };
  for (const auto& c : cases) {
    int r = text::CompareNoCase(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST_F(CodePageTest, WideToCodePage) {
  const struct {
    unsigned cp;
    std::u16string wide;
    std::optional<std::string> bytes;
  } cases[] = {
      {936, u"\u4e2d\u6587", std::string("\xD6\xD0\xCE\xC4")},
      {936, u"\u00c0", std::nullopt},  // no best fit: fails
      {936, u"ok\u0e01", std::nullopt},
      {1252, u"\u20ac", std::string("\x80")},
      {1252, u"\u4e2d", std::nullopt},
      {932, u"\u30a2", std::string("\x83\x41")},
      {65001, u"\u00e9", std::string("\xC3\xA9")},
      {65001, u"a\xd800", std::nullopt},  // a lone surrogate
      {0, u"\u00e9A",
       std::string("\xE9"
                   "A")},
      {0, u"\u0100", std::nullopt},
      {936, std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {936, u"", std::string()},
  };
  for (const auto& c : cases) EXPECT_EQ(text::WideToCodePage(c.wide, c.cp), c.bytes) << c.cp;

  ASSERT_TRUE(text::SetLocale("cht"));
  EXPECT_EQ(text::WideToCodePage(u"\u4e2d"), std::string("\xA4\xA4"));
  ASSERT_TRUE(text::SetLocale("C"));
  EXPECT_EQ(text::WideToCodePage(u"\u4e2d"), std::nullopt);
}

TEST(OutputTest, CapturedAsBytes) {
  std::string sink;
  text::CaptureOutput(&sink);
  text::Print("100%s %d\n");
  text::Print(std::string("a\0b", 3));
  text::PrintCString(std::string("c\0d", 3));
  text::Print("\x81\x41");
  text::CaptureOutput(nullptr);
  EXPECT_EQ(sink, std::string("100%s %d\na\0bc\x81\x41", 15));
}

}  // namespace
