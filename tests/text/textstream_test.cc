// Windows text-mode streams: CR LF, 0x1A, and blocks of the underlying file.
#include "text/textstream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A binary stream holding `bytes`, positioned at its start.
FILE* StreamOf(const std::string& bytes) {
  FILE* f = std::tmpfile();
  if (!f) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

std::string ReadAll(text::TextReader& r) {
  std::string out;
  for (int c = r.Get(); c != EOF; c = r.Get()) out.push_back(static_cast<char>(c));
  return out;
}

std::string Contents(FILE* f) {
  std::rewind(f);
  std::string out;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

TEST(TextReaderTest, Translation) {
  const struct {
    std::string file;
    std::string read;
  } cases[] = {
      {"a\r\nb", "a\nb"},
      {"a\nb", "a\nb"},
      {"a\rb", "a\rb"},  // a CR alone stays
      {"a\r", "a\r"},
      {"\r\r\n", "\r\n"},
      {"\r\n\r\n", "\n\n"},
      {std::string("ab\x1A"
                   "cd",
                   5),
       "ab"},  // 0x1A ends the data
      {"\x1A", ""},
      {"a\n\x1A\r\n", "a\n"},
      {"\r\x1A", "\r"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"", ""},
  };
  for (const auto& c : cases) {
    text::TextReader r(StreamOf(c.file));
    ASSERT_TRUE(r.IsOpen());
    EXPECT_EQ(ReadAll(r), c.read);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.Get(), EOF);  // and stays at the end
  }
}

// The reader takes the file in blocks; a CR LF pair split across two blocks
// is still one LF, and a CR ending a block is still looked at with the next.
TEST(TextReaderTest, CrLfAcrossBlockBoundaries) {
  constexpr size_t kBlock = 65536;
  for (size_t crAt : {kBlock - 2, kBlock - 1, kBlock, 2 * kBlock - 1}) {
    std::string file(crAt, 'x');
    std::string want = file;
    file += "\r\ny\rz";
    want += "\ny\rz";
    text::TextReader r(StreamOf(file));
    EXPECT_EQ(ReadAll(r), want) << crAt;
  }
  std::string file(kBlock - 1, 'x');
  file += "\r";  // the last byte of the block and of the file
  text::TextReader r(StreamOf(file));
  EXPECT_EQ(ReadAll(r), file);
}

TEST(TextReaderTest, ReadLineAsFgets) {
  text::TextReader r(StreamOf("one\r\ntwo\nlong line\r\nend"));
  std::vector<std::string> lines;
  std::string line;
  while (r.ReadLine(line, 5)) {
    lines.push_back(line);
    line.clear();
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "long ", "line\n", "end"}));
  EXPECT_TRUE(r.AtEnd());

  // ReadLine appends, as fgets fills the caller's buffer from its start only
  // because the caller passes it so.
  r.Rewind();
  line = "x";
  ASSERT_TRUE(r.ReadLine(line, 100));
  EXPECT_EQ(line, "xone\n");
  EXPECT_FALSE(r.AtEnd());
}

TEST(TextReaderTest, RewindAfterCtrlZ) {
  text::TextReader r(
      StreamOf("ab\x1A"
               "cd"));
  EXPECT_EQ(ReadAll(r), "ab");
  r.Rewind();
  EXPECT_FALSE(r.AtEnd());
  EXPECT_EQ(ReadAll(r), "ab");
}

TEST(TextReaderTest, NullFileIsEmpty) {
  text::TextReader r(nullptr);
  EXPECT_FALSE(r.IsOpen());
  std::string line;
  EXPECT_FALSE(r.ReadLine(line, 10));
  EXPECT_EQ(r.Get(), EOF);
  EXPECT_TRUE(r.AtEnd());
}

TEST(TextWriterTest, LfBecomesCrLf) {
  const struct {
    std::vector<std::string> writes;
    std::string file;
  } cases[] = {
      {{"a\nb\n"}, "a\r\nb\r\n"},
      {{"\n\n"}, "\r\n\r\n"},
      {{"a\r\n"}, "a\r\r\n"},  // as the C runtime writes it in text mode
      {{"no newline"}, "no newline"},
      {{"a", "\n", "b"}, "a\r\nb"},
      {{std::string("\0\n", 2)}, std::string("\0\r\n", 3)},
  };
  for (const auto& c : cases) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    text::TextWriter w(f);
    for (const auto& s : c.writes) EXPECT_TRUE(w.Write(s));
    EXPECT_EQ(std::fflush(f), 0);
    EXPECT_EQ(Contents(f), c.file);
    EXPECT_TRUE(w.Close());
  }
}

TEST(TextWriterTest, FailuresAreReported) {
  FILE* readOnly = std::fopen("/dev/null", "rb");
  ASSERT_NE(readOnly, nullptr);
  text::TextWriter w(readOnly);
  EXPECT_FALSE(w.Write("a\nb"));
  EXPECT_FALSE(w.Write("c"));  // stays failed
  EXPECT_FALSE(w.Close());

  text::TextWriter none(nullptr);
  EXPECT_FALSE(none.IsOpen());
  EXPECT_FALSE(none.Write("a"));
  EXPECT_FALSE(none.Close());

  FILE* full = std::fopen("/dev/full", "wb");
  if (full) {
    text::TextWriter w2(full);
    w2.Write(std::string(100000, 'x'));  // may or may not fail while buffered
    EXPECT_FALSE(w2.Close());
  }
}

}  // namespace
