// The line reader and the parsers of registration files, on their own.
#include "registry/regfile_parts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/crt.h"
#include "registry/regfile_test_support.h"

namespace qmtest {
namespace {

using namespace std::string_literals;
using qm::LineRead;

// A stream over `bytes`, written to a file of the test's machine.
class PartsTest : public RegFileTest {
 protected:
  text::TextReader& Open(const std::string& bytes) {
    prefix_.WriteFile("C:\\lines.txt", bytes);
    reader_.emplace(crt::fopen("C:\\lines.txt", "rb"));
    return *reader_;
  }
  std::optional<text::TextReader> reader_;
};

struct ReadStep {
  LineRead read;
  std::string line;
};

std::vector<ReadStep> ReadAll(qm::RegLineSource& source, size_t size) {
  std::vector<ReadStep> steps;
  std::string line;
  for (int guard = 0; guard < 100; ++guard) {
    LineRead read = qm::ReadRegLine(line, size, source);
    steps.push_back({read, read == LineRead::End ? "" : line});
    if (read == LineRead::End) break;
  }
  return steps;
}

bool operator==(const ReadStep& a, const ReadStep& b) {
  return a.read == b.read && a.line == b.line;
}
void PrintTo(const ReadStep& s, std::ostream* os) {
  *os << static_cast<int>(s.read) << " \"" << s.line << "\"";
}

TEST_F(PartsTest, AnsiLinesComeInPiecesOfSizeLessOne) {
  struct Case {
    std::string bytes;
    std::vector<ReadStep> steps;
  };
  const Case cases[] = {
      {"ab\r\ncd\n", {{LineRead::Whole, "ab\n"}, {LineRead::Whole, "cd\n"}, {LineRead::End, ""}}},
      {"abcd\n", {{LineRead::Whole, "abcd\n"}, {LineRead::End, ""}}},
      {"abcde\n", {{LineRead::Piece, "abcde"}, {LineRead::Whole, "\n"}, {LineRead::End, ""}}},
      {"abcdefghijk\nz",
       {{LineRead::Piece, "abcde"},
        {LineRead::Piece, "fghij"},
        {LineRead::Whole, "k\n"},
        {LineRead::Whole, "z"},
        {LineRead::End, ""}}},
      // A full piece that the data ends right after is a whole line.
      {"abcde", {{LineRead::Whole, "abcde"}, {LineRead::End, ""}}},
      {"a\r\x1A"
       "b\n",
       {{LineRead::Whole, "a\r"}, {LineRead::End, ""}}},
      {"", {{LineRead::End, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    qm::RegLineSource source(Open(c.bytes));
    EXPECT_EQ(ReadAll(source, 6), c.steps);
  }
}

TEST_F(PartsTest, Utf16LinesEndAtTheLineFeedAndTheData) {
  const size_t limit = qm::kMaxWideLineUnits;
  const std::string full(limit, 'w');
  struct Case {
    const char* what;
    std::string text;  // as UTF-8, encoded to UTF-16 for the file
    std::vector<ReadStep> steps;
  };
  const Case cases[] = {
      {"CR stays, LF goes",
       "ab\r\ncd\n",
       {{LineRead::Whole, "ab\r"}, {LineRead::Whole, "cd"}, {LineRead::End, ""}}},
      {"last line without LF",
       "ab\r\ncd",
       {{LineRead::Whole, "ab\r"}, {LineRead::Whole, "cd"}, {LineRead::End, ""}}},
      {"converted to GBK", "\u4E2D\n", {{LineRead::Whole, "\xD6\xD0"}, {LineRead::End, ""}}},
      {"a line of the limit",
       full + "\nz",
       {{LineRead::Whole, full}, {LineRead::Whole, "z"}, {LineRead::End, ""}}},
      {"one unit over the limit",
       full + "x\n",
       {{LineRead::Piece, full}, {LineRead::Whole, "x"}, {LineRead::End, ""}}},
      {"unconvertible", "ab\n\U0001F855\ncd\n", {{LineRead::Whole, "ab"}, {LineRead::End, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qm::RegLineSource source(Open(Utf16Bytes(c.text)), true);
    EXPECT_EQ(ReadAll(source, 6), c.steps);
  }
}

struct QuotedCase {
  std::string text;
  std::optional<size_t> end;
  std::string out;
};

TEST(ParseQuotedString, UnescapesUntilTheClosingQuote) {
  const QuotedCase cases[] = {
      {"\"abc\"=x", 5, "abc"},
      {"\"\"", 2, ""},
      {"\"a\\\\b\"", 6, "a\\b"},
      {"\"a\\\"b\"", 6, "a\"b"},
      {"\"a\\nb\"", 2, "a"},      // ends at the backslash
      {"\"ab\\", 3, "ab"},        // a backslash at the very end
      {"\"open\n", 6, "open\n"},  // unclosed: up to the end
      {"x\"a\"", std::nullopt, "untouched"},
      {"", std::nullopt, "untouched"},
  };
  for (const QuotedCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string out = "untouched";
    EXPECT_EQ(qm::ParseQuotedString(out, c.text), c.end);
    EXPECT_EQ(out, c.out);
  }
}

struct HexCase {
  const char* what;
  std::string text;  // the list on the value line
  std::string rest;  // what follows in the file
  int result;
  std::string bytes;  // when read
  std::string next;   // the next line read afterwards
};

TEST_F(PartsTest, HexListsFollowTheirContinuationLines) {
  const HexCase cases[] = {
      {"one line", "01,02,03\n", "x\n", qm::kHexListRead, "\x01\x02\x03", "x\n"},
      {"last byte without comma", "ff\n", "", qm::kHexListRead, "\xff", ""},
      {"empty text", "", "x\n", qm::kHexListRead, "", "x\n"},
      {"line end only", "\n", "x\n", qm::kHexByteUnreadable, "", "x\n"},
      {"CR line end only", "\r", "x\n", qm::kHexByteUnreadable, "", "x\n"},
      // Bytes are three places apart whatever their digits: after "1," the
      // cursor stands on the line end.
      {"single digits", "1,2\n", "", qm::kHexListRead, "\x01", ""},
      {"continued, spaces skipped", "01,\\\n", "   02,\\\n03\nx\n", qm::kHexListRead,
       "\x01\x02\x03", "x\n"},
      // A tab is not skipped as indentation, so the bytes after it are read
      // one place off.
      {"tab indentation", "01,\\\n", "\t02,03\nx\n", qm::kHexByteUnreadable, "", "x\n"},
      {"continuation missing", "01,\\\n", "", qm::kHexLineUnreadable, "", ""},
      {"comma and space end the list", "01, \\\n", "02\n", qm::kHexListRead, "\x01", "02\n"},
      {"bad continuation", "01,\\\n", "zz\nx\n", qm::kHexByteUnreadable, "", "x\n"},
      // Cut at the end of the text, never read past it.
      {"byte at the very end", "0", "", qm::kHexListRead, "\x00"s, ""},
  };
  for (const HexCase& c : cases) {
    SCOPED_TRACE(c.what);
    qm::RegLineSource source(Open(c.rest));
    std::string out = "untouched";
    EXPECT_EQ(qm::ParseHexBytes(out, c.text, source), c.result);
    if (c.result == qm::kHexListRead) {
      EXPECT_EQ(out, c.bytes);
    }
    std::string next;
    LineRead read = qm::ReadRegLine(next, qm::kRegLineRequest, source);
    EXPECT_EQ(read == LineRead::End ? "" : next, c.next);
  }
}

TEST_F(PartsTest, HexListTooLongStillConsumesItsContinuationLines) {
  // 40 lines of 1,000 bytes each, all continued but the last.
  std::string rest;
  for (int line = 0; line < 40; ++line) {
    rest += "  ";
    for (int i = 0; i < 1000; ++i) rest += "00,";
    if (line == 39) rest.pop_back();
    rest += line == 39 ? "\n" : "\\\n";
  }
  rest += "next\n";
  qm::RegLineSource source(Open(rest));
  std::string out;
  EXPECT_EQ(qm::ParseHexBytes(out, "01,\\\n", source), qm::kHexListTooLong);
  std::string next;
  ASSERT_EQ(qm::ReadRegLine(next, qm::kRegLineRequest, source), LineRead::Whole);
  EXPECT_EQ(next, "next\n");
}

struct MultiCase {
  std::u16string wide;
  int result;
  std::string out;
};

TEST_F(PartsTest, MultiStringsConvertEntryByEntry) {
  const MultiCase cases[] = {
      {u"a\0b\0\0"s, 0, "a\0b\0\0"s},
      {u"\0\0"s, 0, "\0\0"s},
      {u""s, 0, "\0\0"s},
      {u"ab"s, 0, "ab\0\0"s},
      {u"\0a\0\0"s, 0, "\0a\0\0"s},
      {u"a\0\0b\0\0"s, 0, "a\0\0"s},
      {u"\u4E2D\0\u6587\0\0"s, 0, "\xD6\xD0\0\xCE\xC4\0\0"s},
      {u"a\0\U0001F855\0\0"s, 1, ""},
  };
  for (const MultiCase& c : cases) {
    std::string out;
    EXPECT_EQ(qm::WideMultiStringToAnsi(out, c.wide), c.result);
    if (c.result == 0) {
      EXPECT_EQ(out, c.out);
    }
  }
}

TEST_F(PartsTest, SurrogatePairsConvertWholeWhereTheCodePageHasThem) {
  ASSERT_TRUE(text::SetLocale(".65001"));
  std::string out;
  EXPECT_EQ(qm::WideMultiStringToAnsi(out, u"\U0001F600\0\0"s), 0);
  EXPECT_EQ(out, "\xF0\x9F\x98\x80\0\0"s);
  EXPECT_EQ(qm::WideTextToAnsi(out, u"x\U0001F600\0tail"s), 0);
  EXPECT_EQ(out, "x\xF0\x9F\x98\x80");
}

TEST_F(PartsTest, WideTextStopsAtTheFirstZeroAndFailsWithoutChange) {
  std::string out = "untouched";
  EXPECT_EQ(qm::WideTextToAnsi(out, u"ab\0cd"s), 0);
  EXPECT_EQ(out, "ab");
  out = "untouched";
  EXPECT_EQ(qm::WideTextToAnsi(out, u"a\U0001F855"s), 1);
  EXPECT_EQ(out, "untouched");
}

}  // namespace
}  // namespace qmtest
