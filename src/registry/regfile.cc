// Registration files, read in one pass: a line reader chosen once from the
// byte-order mark, a classifier by the line's first character, and one
// handler per kind of line. Everything one file needs lives in RegFileState;
// nothing survives the call.
#include "registry/regfile.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "platform/crt.h"
#include "platform/win32api.h"
#include "registry/regfile_parts.h"
#include "registry/registry.h"
#include "text/codepage.h"
#include "text/path.h"
#include "text/textstream.h"

namespace qm {
namespace {

constexpr int kRegFileRead = 0;
constexpr int kRegFileNotOpened = 1;
constexpr int kRegFileIncomplete = 2;

// The UTF-16 little-endian byte-order mark, as its two bytes in the file.
constexpr int kByteOrderMarkFirst = 0xFF;
constexpr int kByteOrderMarkSecond = 0xFE;

// The header of the Registry Editor's older format, whose hex(2) and hex(7)
// data are 8-bit text; with any other header (or none) they are UTF-16.
constexpr std::string_view kRegedit4Header = "REGEDIT4";

constexpr std::string_view kSectionMarker = "]--uninstall";
constexpr std::string_view kValueMarker = "--uninstall";
constexpr std::string_view kDwordPrefix = "dword:";
constexpr size_t kMaxDwordDigits = 8;
// Hex bytes are written two digits and one separator apart.
constexpr size_t kHexByteStride = 3;
constexpr size_t kMaxHexDigitsPerByte = 2;

// No double-byte code page the program knows has a trail byte below this.
constexpr unsigned char kLowestTrailByte = 0x40;

enum class LineKind {
  Key,           // "[path]", perhaps followed by "--uninstall"
  KeyDeletion,   // "[-path]": the Registry Editor's deletion of a key, not
                 // honoured, and like "name"=- no failure; its section's
                 // lines have no key
  NamedValue,    // "\"name\"=data"
  DefaultValue,  // "@=data"
  Ignored,       // header, comments, blank and indented lines
};

enum class HexKind { Binary, ExpandString, MultiString };

struct HexForm {
  std::string_view tag;  // the list starts right after it
  HexKind kind;
};
// Searched for in this order; every other hex(n) kind is not imported.
constexpr HexForm kHexForms[] = {
    {"hex:", HexKind::Binary},
    {"hex(2):", HexKind::ExpandString},
    {"hex(7):", HexKind::MultiString},
};

struct RegFileState {
  RegFileState(text::TextReader& stream, RegFileMode m) : source(stream), mode(m) {}

  RegLineSource source;
  RegFileMode mode;
  bool eightBitText = false;    // the header is REGEDIT4: hex(2)/hex(7) data
                                // are text in the code page, not UTF-16
  RegistryKey currentKey;       // the latest key line's key, or none
  bool sectionMarked = false;   // removal: the latest key line carried "]--uninstall"
  bool sectionDeleted = false;  // removal: ... and its key tree was deleted
  // Something the file asks for was not carried out: a line too long or not
  // text, a text over its limit, a key or value that could not be written.
  // The lines after it are still read; the result says it.
  bool incomplete = false;
  // Working texts, kept from line to line so that a line costs no allocation.
  std::string line;
  std::string valueName;
  std::string valueData;  // unquoted string data, or the bytes of a hex list
  std::string converted;  // hex(2) and hex(7) data in the code page
  std::u16string wideData;
};

// ---- Small text helpers --------------------------------------------------------

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

// White space as the C runtime's scanf skips it.
bool IsScanSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length of the character at `pos`: 2 for a double-byte character of the
// locale in force, else 1. In a double-byte code page a trail byte can be
// '\\', '[' or ']': a lead byte and the byte after it are one character, so
// such a trail byte is never read as an escape or as the end of a key's path.
// Unlike the path helpers (text::NextCharacter), which take a lead byte and
// whatever follows it as one character, the reader takes a lead byte before
// a byte that no code page has as a trail byte (below kLowestTrailByte) as a
// character of its own. Quotes, line ends and white space all lie below it: a
// stray lead byte in a broken line must not swallow the quote that closes a
// name or a string, or the string would run on over the rest of the line.
size_t CharLength(std::string_view s, size_t pos) {
  if (pos + 1 < s.size() && static_cast<unsigned char>(s[pos + 1]) < kLowestTrailByte) return 1;
  return text::NextCharacter(s, pos) - pos;
}

// First `c` that stands on a character boundary.
size_t FindChar(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); i += CharLength(s, i))
    if (s[i] == c) return i;
  return std::string_view::npos;
}

bool Contains(std::string_view s, std::string_view what) {
  return s.find(what) != std::string_view::npos;
}

// "dword:" and up to eight hex digits after optional white space.
std::optional<DWORD> ScanDword(std::string_view data) {
  if (!data.starts_with(kDwordPrefix)) return std::nullopt;
  size_t pos = kDwordPrefix.size();
  while (pos < data.size() && IsScanSpace(data[pos])) ++pos;
  DWORD value = 0;
  size_t digits = 0;
  for (; pos < data.size() && digits < kMaxDwordDigits && IsHexDigit(data[pos]); ++pos, ++digits)
    value = value * 16 + HexValue(data[pos]);
  if (digits == 0) return std::nullopt;
  return value;
}

// Bytes of hex(2)/hex(7) data as UTF-16 code units, least significant byte
// first; an odd last byte pairs with the zero byte that follows the data.
void BytesToCodeUnits(std::u16string& units, std::string_view bytes) {
  units.clear();
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned low = static_cast<unsigned char>(bytes[i]);
    unsigned high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    units.push_back(static_cast<char16_t>(low | (high << 8)));
  }
}

// ---- The line reader -----------------------------------------------------------

// The code unit that ends the data of a UTF-16 file, as the byte 0x1A ends
// that of an ANSI file.
constexpr long kEndOfDataUnit = 0x001A;

// Next code unit of a UTF-16 file, -1 at the end of the data (half a unit
// included). The file's bytes are read as stored: the end-of-data and line-end
// rules apply to whole code units, never to one byte of a character.
long NextCodeUnit(RegLineSource& source) {
  if (source.ended) return -1;
  int low = source.stream.Get();
  if (low == EOF) return -1;
  int high = source.stream.Get();
  if (high == EOF) return -1;
  long unit = static_cast<long>(static_cast<unsigned>(low) | (static_cast<unsigned>(high) << 8));
  if (unit == kEndOfDataUnit) {
    source.ended = true;
    return -1;
  }
  return unit;
}

LineRead ReadAnsiLine(std::string& line, size_t size, RegLineSource& source) {
  const size_t maxChars = size - 1;
  line.clear();
  if (source.pending >= 0) {
    line.push_back(static_cast<char>(source.pending));
    source.pending = -1;
    if (line.back() == '\n') return LineRead::Whole;
  }
  if (line.size() < maxChars) source.stream.ReadLine(line, maxChars - line.size());
  if (line.empty()) return LineRead::End;
  if (line.back() != '\n' && line.size() == maxChars) {
    // A full piece: whether the line goes on shows only by reading ahead.
    int next = source.stream.Get();
    if (next != EOF) {
      source.pending = next;
      return LineRead::Piece;
    }
  }
  // Cut at its zero, the line would be taken for the shorter line before it.
  if (size_t zero = line.find('\0'); zero != std::string::npos) {
    line.resize(zero);
    source.lost = true;
    return LineRead::NotText;
  }
  return LineRead::Whole;
}

LineRead ReadWideLine(std::string& line, RegLineSource& source) {
  std::u16string& units = source.wide;
  units.clear();
  if (source.AtEnd()) return LineRead::End;
  LineRead read = LineRead::Whole;
  for (;;) {
    long unit = source.pending;
    source.pending = -1;
    if (unit < 0) unit = NextCodeUnit(source);
    // A last line without a line feed is still a line.
    if (unit < 0) {
      if (units.empty()) return LineRead::End;
      break;
    }
    if (unit == u'\n') break;
    if (units.size() == kMaxWideLineUnits) {
      source.pending = unit;
      read = LineRead::Piece;
      break;
    }
    units.push_back(static_cast<char16_t>(unit));
  }
  if (read == LineRead::Whole && units.find(u'\0') != std::u16string::npos) {
    // Only the text before the zero is converted, to tell the kind of line.
    source.lost = true;
    if (WideTextToAnsi(line, units) != 0) line.clear();
    return LineRead::NotText;
  }
  if (WideTextToAnsi(line, units) != 0) {
    source.lost = true;
    return LineRead::End;
  }
  return read;
}

// ---- Handlers --------------------------------------------------------------------

void CloseCurrentKey(RegFileState& state) {
  state.currentKey.Close();
}

LineKind ClassifyLine(std::string_view line) {
  if (line.empty()) return LineKind::Ignored;
  switch (line.front()) {
    case '[':
      return line.size() > 1 && line[1] == '-' ? LineKind::KeyDeletion : LineKind::Key;
    case '"':
      return LineKind::NamedValue;
    case '@':
      return LineKind::DefaultValue;
    default:
      return LineKind::Ignored;
  }
}

// Whether the subkey part of a path names something below the root: a path
// whose subkey is empty (or backslashes only) names the root itself, which a
// registration file must never delete.
bool NamesKeyBelowRoot(std::string_view path) {
  size_t backslash = path.find('\\');
  if (backslash == std::string_view::npos) return true;  // rejected by the registry layer
  return path.find_first_not_of('\\', backslash) != std::string_view::npos;
}

void HandleKeyLine(RegFileState& state, std::string_view line) {
  CloseCurrentKey(state);
  size_t close = FindChar(line, ']');
  if (close == std::string_view::npos) return;  // no key until the next key line
  state.sectionMarked =
      state.mode == RegFileMode::Removal && Contains(line.substr(close), kSectionMarker);
  state.sectionDeleted = false;
  std::string_view path = line.substr(1, close - 1);
  if (state.sectionMarked) {
    if (NamesKeyBelowRoot(path) && DeleteRegistryPathKey(path) == kKeyDone)
      state.sectionDeleted = true;
    return;
  }
  // Removal never creates what is missing: a key that is not there has no
  // values to remove.
  if (state.mode == RegFileMode::Removal) {
    state.currentKey = OpenExistingRegistryPathKey(path);
    return;
  }
  state.currentKey = OpenRegistryPathKey(path, false);
  if (!state.currentKey) state.incomplete = true;
}

// A line too long for the line buffer, or one that is not text, is skipped
// whole; the later pieces of a long line are never taken for lines of their
// own (the tail of a long string could pass for a value line). Such a key
// line still ends the section before it, and its own section has no key.
// `read` is how the line's first read ended. Returns false when the file's
// data has ended (or a UTF-16 piece could not be converted).
bool SkipUnreadableLine(RegFileState& state, LineRead read) {
  state.incomplete = true;
  const LineKind kind = ClassifyLine(state.line);
  if (kind == LineKind::Key || kind == LineKind::KeyDeletion) CloseCurrentKey(state);
  while (read == LineRead::Piece) read = ReadRegLine(state.line, kRegLineRequest, state.source);
  return read != LineRead::End;
}

// A write that failed leaves the value as it was; the file is not carried
// out whole.
void NoteWrite(RegFileState& state, int result) {
  if (result != kKeyCallDone) state.incomplete = true;
}

void ImportHexValue(RegFileState& state, std::string_view data) {
  const HexForm* form = nullptr;
  for (const HexForm& f : kHexForms) {
    if (Contains(data, f.tag)) {
      form = &f;
      break;
    }
  }
  if (!form) return;
  // The list begins as far from the data's first character as the tag is
  // long, wherever the tag was found.
  std::string_view list = data.substr(form->tag.size());
  // A list that breaks the format (a missing byte, a missing continuation
  // line) asks for nothing; one over the limits asks for what cannot be held.
  int parsed = ParseHexBytes(state.valueData, list, state.source);
  if (parsed == kHexListTooLong) state.incomplete = true;
  if (parsed != kHexListRead) return;
  switch (form->kind) {
    case HexKind::Binary: {
      auto bytes = std::span<const BYTE>(reinterpret_cast<const BYTE*>(state.valueData.data()),
                                         state.valueData.size());
      NoteWrite(state, WriteKeyBinary(bytes, state.currentKey.Get(), state.valueName));
      break;
    }
    case HexKind::ExpandString:
      if (state.eightBitText) {
        // The text ends at its first zero byte, or with the data.
        state.converted.assign(state.valueData.c_str());
      } else {
        BytesToCodeUnits(state.wideData, state.valueData);
        if (WideTextToAnsi(state.converted, state.wideData) != 0 ||
            state.converted.size() > kMaxConvertedTextLength) {
          state.incomplete = true;
          return;
        }
      }
      NoteWrite(state,
                WriteKeyExpandString(state.converted, state.currentKey.Get(), state.valueName));
      break;
    case HexKind::MultiString:
      if (state.eightBitText) {
        // Entries end at a zero byte and the list at two; the end of the
        // data counts as zero bytes, as it does for UTF-16 data.
        state.converted = state.valueData;
        state.converted.append(2, '\0');
      } else {
        BytesToCodeUnits(state.wideData, state.valueData);
        if (WideMultiStringToAnsi(state.converted, state.wideData) != 0 ||
            state.converted.size() > kMaxConvertedListLength) {
          state.incomplete = true;
          return;
        }
      }
      NoteWrite(state,
                WriteKeyMultiString(state.converted, state.currentKey.Get(), state.valueName));
      break;
  }
}

void ImportValue(RegFileState& state, std::string_view data) {
  switch (data.front()) {
    case '"':
      ParseQuotedString(state.valueData, data);
      if (state.valueData.size() > kMaxStringDataLength) {
        state.incomplete = true;
        return;
      }
      NoteWrite(state, WriteKeyString(state.valueData, state.currentKey.Get(), state.valueName));
      break;
    case 'd':
      if (auto number = ScanDword(data))
        NoteWrite(state, WriteKeyDword(*number, state.currentKey.Get(), state.valueName));
      break;
    case 'h':
      ImportHexValue(state, data);
      break;
    default:  // "-" (the Registry Editor's deletion) and anything else
      break;
  }
}

void RemoveValue(RegFileState& state, std::string_view data) {
  bool marked = false;
  switch (data.front()) {
    case '"': {
      // Only a marker after the string counts; one inside the quotes is data.
      size_t stringEnd = *ParseQuotedString(state.valueData, data);
      if (state.valueData.size() > kMaxStringDataLength) {
        state.incomplete = true;
        return;
      }
      marked = Contains(data.substr(stringEnd), kValueMarker);
      break;
    }
    case 'd':
    case 'h':
      marked = Contains(data, kValueMarker);
      break;
    default:
      break;
  }
  if (marked) DeleteKeyValue(state.currentKey.Get(), state.valueName);
}

void HandleValueLine(RegFileState& state, std::string_view line, LineKind kind) {
  // No key: before the first key line, after a key that could not be opened
  // (or, in removal, does not exist), in a marked section, and after a
  // malformed key line. Nothing can be written or deleted then.
  if (!state.currentKey) return;
  if (state.mode == RegFileMode::Removal && state.sectionDeleted) return;
  size_t dataStart;
  if (kind == LineKind::DefaultValue) {
    if (line.size() < 2 || line[1] != '=') return;
    state.valueName.clear();
    dataStart = 2;
  } else {
    size_t nameEnd = *ParseQuotedString(state.valueName, line);
    if (nameEnd >= line.size() || line[nameEnd] != '=') return;
    if (state.valueName.size() > kMaxValueNameLength) {
      state.incomplete = true;
      return;
    }
    dataStart = nameEnd + 1;
  }
  std::string_view data = line.substr(dataStart);
  if (data.empty()) return;
  if (state.mode == RegFileMode::Import)
    ImportValue(state, data);
  else
    RemoveValue(state, data);
}

void HandleLine(RegFileState& state, std::string_view line) {
  switch (LineKind kind = ClassifyLine(line)) {
    case LineKind::Key:
      HandleKeyLine(state, line);
      break;
    case LineKind::KeyDeletion:
      CloseCurrentKey(state);
      state.sectionMarked = false;
      state.sectionDeleted = false;
      break;
    case LineKind::NamedValue:
    case LineKind::DefaultValue:
      HandleValueLine(state, line, kind);
      break;
    case LineKind::Ignored:
      break;
  }
}

// After the data has ended at its mark (the byte 0x1A, or the code unit
// U+001A of a UTF-16 file): whether the file goes on with anything but more
// marks. Such a file is not read whole, although every line read was handled.
bool DataAfterEndMark(RegLineSource& source) {
  if (!source.utf16) return source.stream.DataAfterEndMark();
  if (!source.ended) return false;
  for (;;) {
    int low = source.stream.Get();
    int high = source.stream.Get();
    if (high == EOF) return false;
    if (low != kEndOfDataUnit || high != 0) return true;
  }
}

// The first line, without its line end and trailing blanks, is "REGEDIT4".
bool IsRegedit4Header(std::string_view line) {
  const size_t end = line.find_last_not_of(" \t\r\n");
  return line.substr(0, end == std::string_view::npos ? 0 : end + 1) == kRegedit4Header;
}

// Consumes the UTF-16 little-endian byte-order mark; any other start is read
// again as ANSI text.
bool ReadByteOrderMark(text::TextReader& stream) {
  int first = stream.Get();
  int second = stream.Get();
  if (first == kByteOrderMarkFirst && second == kByteOrderMarkSecond) {
    stream.SetRaw(true);
    return true;
  }
  stream.Rewind();
  return false;
}

}  // namespace

// ---- The parts ---------------------------------------------------------------------

LineRead ReadRegLine(std::string& line, size_t size, RegLineSource& source) {
  return source.utf16 ? ReadWideLine(line, source) : ReadAnsiLine(line, size, source);
}

std::optional<size_t> ParseQuotedString(std::string& out, std::string_view text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  out.clear();
  size_t pos = 1;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '"') return pos + 1;
    if (c == '\\') {
      if (pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
        out.push_back(text[pos + 1]);
        pos += 2;
        continue;
      }
      return pos;
    }
    size_t length = CharLength(text, pos);
    out.append(text.substr(pos, length));
    pos += length;
  }
  return pos;
}

int ParseHexBytes(std::string& out, std::string_view text, RegLineSource& source) {
  out.clear();
  bool tooLong = text.size() > kMaxHexTextLength;
  size_t count = 0;
  std::string& nextLine = source.continuation;
  std::string_view cursorText = text;
  size_t cursor = 0;
  for (;;) {
    while (cursor < cursorText.size()) {
      size_t pos = cursor;
      while (pos < cursorText.size() && IsScanSpace(cursorText[pos])) ++pos;
      unsigned byte = 0;
      size_t digits = 0;
      for (;
           pos < cursorText.size() && digits < kMaxHexDigitsPerByte && IsHexDigit(cursorText[pos]);
           ++pos, ++digits)
        byte = byte * 16 + HexValue(cursorText[pos]);
      if (digits == 0) return kHexByteUnreadable;
      if (++count <= kMaxHexBytes)
        out.push_back(static_cast<char>(byte));
      else
        tooLong = true;
      cursor += kHexByteStride;
      if (cursor >= cursorText.size()) break;
      char next = cursorText[cursor];
      if (!IsHexDigit(next) && next != ',') break;
    }
    if (cursor >= cursorText.size() || cursorText[cursor] != '\\') break;
    LineRead read = ReadRegLine(nextLine, kHexLineRequest, source);
    if (read == LineRead::Piece) {
      // Too long for a continuation line: the rest of it goes too, and the
      // value with it.
      while (read == LineRead::Piece) read = ReadRegLine(nextLine, kHexLineRequest, source);
      return kHexListTooLong;
    }
    if (read != LineRead::Whole) return kHexLineUnreadable;
    cursorText = nextLine;
    cursor = cursorText.find_first_not_of(' ');
    if (cursor == std::string_view::npos) cursor = cursorText.size();
  }
  return tooLong ? kHexListTooLong : kHexListRead;
}

int WideTextToAnsi(std::string& out, std::u16string_view wide) {
  size_t end = wide.find(u'\0');
  if (end != std::u16string_view::npos) wide = wide.substr(0, end);
  // Nearly every line of a real file is ASCII, which every code page the
  // program knows keeps as it is; only other text needs the conversion.
  if (std::all_of(wide.begin(), wide.end(), [](char16_t c) { return c < 0x80; })) {
    out.resize(wide.size());
    std::transform(wide.begin(), wide.end(), out.begin(),
                   [](char16_t c) { return static_cast<char>(c); });
    return 0;
  }
  std::optional<std::string> converted = text::WideToCodePage(wide);
  if (!converted) return 1;
  out = std::move(*converted);
  return 0;
}

int WideMultiStringToAnsi(std::string& out, std::u16string_view wide) {
  out.clear();
  auto unitAt = [&](size_t i) { return i < wide.size() ? wide[i] : u'\0'; };
  size_t pos = 0;
  for (;;) {
    if (unitAt(pos) == u'\0') {
      if (unitAt(pos + 1) == u'\0') {
        out.append(2, '\0');
        return 0;
      }
      out.push_back('\0');
      ++pos;
      continue;
    }
    // One entry at a time, so that a surrogate pair is converted whole.
    size_t end = std::min(wide.find(u'\0', pos), wide.size());
    std::optional<std::string> converted = text::WideToCodePage(wide.substr(pos, end - pos));
    if (!converted) return 1;
    out += *converted;
    pos = end;
  }
}

int ProcessRegFile(std::string_view path, RegFileMode mode) {
  FILE* file = crt::fopen(std::string(path).c_str(), "rb");
  if (!file) return kRegFileNotOpened;
  text::TextReader stream(file);
  RegFileState state(stream, mode);
  state.source.utf16 = ReadByteOrderMark(stream);
  for (bool header = true; !state.source.AtEnd(); header = false) {
    LineRead read = ReadRegLine(state.line, kRegLineRequest, state.source);
    if (read == LineRead::End) break;
    if (header) state.eightBitText = IsRegedit4Header(state.line);
    if (read == LineRead::Whole) {
      HandleLine(state, state.line);
    } else if (!SkipUnreadableLine(state, read)) {
      break;
    }
  }
  CloseCurrentKey(state);
  bool whole = !state.incomplete && !state.source.lost && !stream.ReadFailed() &&
               !DataAfterEndMark(state.source);
  return whole ? kRegFileRead : kRegFileIncomplete;
}

}  // namespace qm
