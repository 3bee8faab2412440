// Code pages of the emulated machine, with Windows' calling conventions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/win32api.h"

namespace {

constexpr DWORD kErrorInvalidFlags = 1004;

class AcpVariable {
 public:
  explicit AcpVariable(const char* value) {
    if (const char* old = std::getenv("QUILLMARK_ACP")) old_ = old, had_ = true;
    if (value)
      ::setenv("QUILLMARK_ACP", value, 1);
    else
      ::unsetenv("QUILLMARK_ACP");
  }
  ~AcpVariable() {
    if (had_)
      ::setenv("QUILLMARK_ACP", old_.c_str(), 1);
    else
      ::unsetenv("QUILLMARK_ACP");
  }

 private:
  std::string old_;
  bool had_ = false;
};

std::string Narrow(UINT cp, std::u16string_view wide, BOOL* usedDefault = nullptr,
                   const char* defaultChar = nullptr) {
  char buf[64];
  int n =
      WideCharToMultiByte(cp, cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(),
                          static_cast<int>(wide.size()), buf, sizeof buf, defaultChar, usedDefault);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("<failed>");
}

std::u16string Widen(UINT cp, std::string_view bytes, DWORD flags = 0) {
  char16_t buf[64];
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), buf, 64);
  return n > 0 ? std::u16string(buf, static_cast<size_t>(n)) : std::u16string(u"<failed>");
}

TEST(CodePagesTest, AnsiCodePage) {
  const struct {
    const char* value;
    UINT acp;
  } cases[] = {
      {nullptr, 936},   {"932", 932}, {"1252", 1252},
      {"65001", 65001}, {"437", 936},  // an OEM code page is no ANSI code page
      {"abc", 936},     {"", 936},    {"1252x", 936},
  };
  for (const auto& c : cases) {
    AcpVariable acp(c.value);
    EXPECT_EQ(GetACP(), c.acp) << (c.value ? c.value : "unset");
  }
}

TEST(CodePagesTest, LeadBytes) {
  const struct {
    UINT cp;
    BYTE b;
    bool lead;
  } cases[] = {
      {932, 0x80, false}, {932, 0x81, true},   {932, 0x9F, true},    {932, 0xA0, false},
      {932, 0xDF, false}, {932, 0xE0, true},   {932, 0xFC, true},    {932, 0xFD, false},
      {936, 0x41, false}, {936, 0x80, false},  {936, 0x81, true},    {936, 0xFE, true},
      {936, 0xFF, false}, {949, 0x81, true},   {949, 0xFE, true},    {950, 0xA4, true},
      {950, 0x80, false}, {1252, 0x81, false}, {65001, 0xC3, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsDBCSLeadByteEx(c.cp, c.b) != 0, c.lead) << c.cp << " " << int(c.b);
  {
    AcpVariable acp("932");
    EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xE0));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_ACP, 0xA1));
  }
  AcpVariable acp(nullptr);
  EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xA1));
}

TEST(CodePagesTest, WideToCodePages) {
  const struct {
    UINT cp;
    std::u16string_view wide;
    std::string bytes;
  } cases[] = {
      {936, u"\u4e2d\u6587", "\xD6\xD0\xCE\xC4"},
      {936, u"\u20ac", "\x80"},
      {936, u"\u00e9", "\xA8\xA6"},
      {950, u"\u4e2d", "\xA4\xA4"},
      {932, u"\u65e5\u672c", "\x93\xFA\x96\x7B"},
      {949, u"\ud55c", "\xC7\xD1"},
      {1252, u"\u20ac\u00c0", "\x80\xC0"},
      {1251, u"\u0416", "\xC6"},
      {874, u"\u0e01", "\xA1"},
      {28591, u"\u00ff", "\xFF"},
      {20127, u"abc", "abc"},
      {CP_UTF8, u"\u00e9\U0001F600", "\xC3\xA9\xF0\x9F\x98\x80"},
      {936, std::u16string_view(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    BOOL used = TRUE;
    EXPECT_EQ(Narrow(c.cp, c.wide, c.cp == CP_UTF8 ? nullptr : &used), c.bytes) << c.cp;
    if (c.cp != CP_UTF8) {
      EXPECT_FALSE(used) << c.cp;
    }
    EXPECT_EQ(Widen(c.cp, c.bytes), c.wide) << c.cp;
  }
}

TEST(CodePagesTest, UnmappableCharactersUseTheDefaultCharacter) {
  const struct {
    UINT cp;
    std::u16string_view wide;
    std::string bytes;
  } cases[] = {
      {936, u"a\u00c0b", "a?b"},  // no best fit to 'A'
      {936, u"\u0e01", "?"},     {1252, u"\u4e2d", "?"},    {20127, u"\u00e9", "?"},
      {932, u"\u20ac", "?"},     {936, u"x\xd800y", "x?y"},  // a lone surrogate
      {936, u"\U0001F600", "?"},                             // a pair: one character, one default
  };
  for (const auto& c : cases) {
    BOOL used = FALSE;
    EXPECT_EQ(Narrow(c.cp, c.wide, &used), c.bytes) << c.cp;
    EXPECT_TRUE(used) << c.cp;
  }
  BOOL used = FALSE;
  EXPECT_EQ(Narrow(936, u"\u00c0", &used, "#"), "#");
  EXPECT_TRUE(used);
}

TEST(CodePagesTest, WindowsCallingConventions) {
  const char16_t* text = u"\u4e2d\u6587";
  char buf[8];
  // Size queries, the counted NUL of -1, a buffer too small.
  EXPECT_EQ(WideCharToMultiByte(936, 0, text, 2, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(936, 0, text, -1, nullptr, 0, nullptr, nullptr), 5);
  EXPECT_EQ(WideCharToMultiByte(936, 0, text, -1, buf, sizeof buf, nullptr, nullptr), 5);
  EXPECT_STREQ(buf, "\xD6\xD0\xCE\xC4");
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(936, 0, text, 2, buf, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(936, 0, "\xD6\xD0", -1, nullptr, 0), 2);

  BOOL used = FALSE;
  const struct {
    const char* what;
    std::function<int()> call;
    DWORD error;
  } failures[] = {
      {"empty input",
       [&] { return WideCharToMultiByte(936, 0, text, 0, buf, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"unknown code page",
       [&] { return WideCharToMultiByte(12345, 0, text, 2, buf, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"best-fit flag on UTF-8",
       [&] {
         return WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, text, 2, buf, 8, nullptr,
                                    nullptr);
       },
       kErrorInvalidFlags},
      {"invalid-chars flag on 936",
       [&] {
         return WideCharToMultiByte(936, WC_ERR_INVALID_CHARS, text, 2, buf, 8, nullptr, nullptr);
       },
       kErrorInvalidFlags},
      {"default-char report on UTF-8",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, text, 2, buf, 8, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
      {"lone surrogate to UTF-8",
       [&] {
         return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xdc00", 2, buf, 8, nullptr,
                                    nullptr);
       },
       ERROR_NO_UNICODE_TRANSLATION},
      {"bad UTF-8",
       [&] {
         return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x28", 2, nullptr, 0);
       },
       ERROR_NO_UNICODE_TRANSLATION},
      {"lone lead byte",
       [&] { return MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\x81", 2, nullptr, 0); },
       ERROR_NO_UNICODE_TRANSLATION},
      {"zero-length input", [&] { return MultiByteToWideChar(936, 0, "ab", 0, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& f : failures) {
    SetLastError(0);
    EXPECT_EQ(f.call(), 0) << f.what;
    EXPECT_EQ(GetLastError(), f.error) << f.what;
  }
}

TEST(CodePagesTest, InvalidInputWithoutTheErrorFlag) {
  EXPECT_EQ(Narrow(CP_UTF8, u"a\xdc00"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Widen(CP_UTF8, "a\xC3\x28"), u"a\uFFFD(");
  EXPECT_EQ(Widen(1252, "\x81\x41"), u"\u0081A");  // 1252 passes its holes through
  EXPECT_EQ(Widen(936, "a\x81"), u"a?");
}

}  // namespace
