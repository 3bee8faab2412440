// The pieces of the registration-file reader, exposed for their tests: the
// line reader, the quoted-string and hex-list parsers, and the UTF-16
// conversions. ProcessRegFile (regfile.h) is the only caller in the program.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/textstream.h"

namespace qm {

// ---- Limits ------------------------------------------------------------------
// Size handed to ReadRegLine for key and value lines: an ANSI line is read in
// pieces of at most 33,294 characters, its line feed included.
constexpr size_t kRegLineRequest = 33295;
// Size handed to ReadRegLine for a continuation line of a hex list: at most
// 32,767 characters.
constexpr size_t kHexLineRequest = 32768;
// Code units of one UTF-16 line, its line feed not counted.
constexpr size_t kMaxWideLineUnits = 8323;
// Characters of string data, after unescaping.
constexpr size_t kMaxStringDataLength = 32766;
// Characters of a hex list's text on its value line (from the byte after the
// colon to the end of the line).
constexpr size_t kMaxHexTextLength = 32767;
// Bytes a hex list may decode to: the value-data buffer holds 32,767 bytes, of
// which three stay zero after the last byte so that UTF-16 text data without
// its own terminator still ends.
constexpr size_t kMaxHexBytes = 32767 - 3;
// Bytes of hex(2) text (terminator not counted) and of a hex(7) list (both
// closing zero bytes counted) after conversion to the code page.
constexpr size_t kMaxConvertedTextLength = 32767;
constexpr size_t kMaxConvertedListLength = 32768;

// ---- Reading lines -------------------------------------------------------------
// Where the lines of one file come from: its stream, and the encoding decided
// once from its first two bytes.
struct RegLineSource {
  explicit RegLineSource(text::TextReader& s, bool isUtf16 = false) : stream(s), utf16(isUtf16) {}

  text::TextReader& stream;
  bool utf16;
  // A byte (ANSI) or code unit (UTF-16) read ahead to learn whether a line
  // went on past a full piece; it begins the next piece. -1 when none.
  long pending = -1;
  // The code units of the UTF-16 line being read, and the continuation line
  // of a hex list (never the text handed to ParseHexBytes), kept to spare an
  // allocation per line.
  std::u16string wide;
  std::string continuation;

  // Set by the code unit U+001A, which ends the data of a UTF-16 file.
  bool ended = false;
  // Set when some of the file could not be read as text: a line holding a
  // zero byte or code unit, or a UTF-16 line with a character the code page
  // cannot hold.
  bool lost = false;

  // True once the data has ended and nothing read ahead is left.
  bool AtEnd() const { return pending < 0 && (ended || stream.AtEnd()); }
};

enum class LineRead {
  End,      // nothing: the data has ended, or a UTF-16 line could not be converted
  Whole,    // a line, ended by its line feed or by the end of the data
  Piece,    // the first `size` - 1 characters (ANSI) or kMaxWideLineUnits code
            // units (UTF-16) of a longer line; the next read goes on with it
  NotText,  // a whole line holding a zero byte or code unit, which no line of
            // text does; `line` holds only what came before the zero, which
            // tells no more than the kind of line it was
};

// Reads one line into `line` (replacing its contents).
// ANSI: up to and including the next line feed, at most `size` - 1 characters;
// a longer line comes in pieces of that length. A last line without a line
// feed is a whole line.
// UTF-16 (`size` plays no part): code units up to the next line feed, which is
// dropped (a carriage return before it stays as the line's last character),
// converted with WideTextToAnsi; a last line without a line feed is a whole
// line, and half a code unit at the end of the data is dropped. End when the
// conversion fails.
// End after a failed conversion and NotText both set `source.lost`.
LineRead ReadRegLine(std::string& line, size_t size, RegLineSource& source);

// ---- Parsing ---------------------------------------------------------------------
// `text` must begin with a double quote; nothing otherwise. Copies the string
// after it into `out`, unescaping \\ and \" , and returns the position in
// `text` just after the closing quote. A backslash before anything else (or
// at the end) ends the string before the backslash, and the position of the
// backslash is returned; an unclosed string runs to the end of `text`.
std::optional<size_t> ParseQuotedString(std::string& out, std::string_view text);

// Results of ParseHexBytes.
constexpr int kHexListRead = 0;
constexpr int kHexByteUnreadable = 1;  // no hex digit where a byte must be
constexpr int kHexLineUnreadable = 2;  // a continuation line is missing,
                                       // not text, or not convertible
constexpr int kHexListTooLong = 3;     // more than kMaxHexBytes bytes, more
                                       // than kMaxHexTextLength characters of
                                       // list text, or a continuation line
                                       // of more than 32,767 characters

// Decodes the comma-separated hex bytes at `text` into `out` (replacing its
// contents), reading continuation lines from `source` while a line's list
// ends in a backslash. Each byte is two hex digits (or one) after optional
// white space and is followed by one separator character, so the list goes on
// only while the character three places further on is a hex digit or a comma.
// Continuation lines are consumed as long as the list goes on, also when it
// turns out too long. `out` holds the bytes only when the result is
// kHexListRead.
int ParseHexBytes(std::string& out, std::string_view text, RegLineSource& source);

// ---- Conversions to the code page of the locale in force ---------------------------
// Converts UTF-16 text up to its first zero code unit (or its end). 0, or 1
// when a character has no representation in the code page (`out` is then
// unchanged).
int WideTextToAnsi(std::string& out, std::u16string_view wide);
// Converts a UTF-16 multi-string (entries separated by one zero code unit,
// ended by two) code unit for code unit: a single zero unit gives one zero
// byte, two zero units in a row give two zero bytes and end the list. The end
// of `wide` counts as zero units. 0, or 1 when a character has no
// representation (`out` is then unspecified).
int WideMultiStringToAnsi(std::string& out, std::u16string_view wide);

}  // namespace qm
