// The locale in force and the text rules that follow it.
//
// The program's texts are 8-bit, in the code page of the locale in force: the
// machine's ANSI code page unless -language or -code-page names another.
// Lower-casing and case-insensitive comparison treat a double-byte character
// of that code page as one character: a trail byte is never changed, and
// never taken as the start of a character.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Code page of a locale name as the C runtime of Windows accepts it
// ("chinese-simplified", "chs", "japanese", "english", ".936",
// "Chinese_China.936", "C", ...), compared without regard to case; nothing for
// an unknown name. "C" gives 0, the C locale (bytes taken as they are); ""
// the user's default, the machine's ANSI code page.
std::optional<unsigned> CodePageOfLocale(std::string_view name);

// Sets the locale in force; an unknown name changes nothing. Returns whether
// the name was known.
bool SetLocale(std::string_view name);
// The code page of the locale in force (0 for the C locale, the start value).
unsigned CurrentCodePage();

// Whether `byte` begins a double-byte character in the locale in force.
bool IsLeadByte(unsigned char byte);

// Lower-case copy / in place, character by character (A-Z, and the upper-case
// letters of a single-byte code page); trail bytes stay as they are.
std::string ToLower(std::string_view s);
void LowerInPlace(std::string& s);

// Case-insensitive comparison under the locale in force (<0, 0, >0).
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Equal when only the ASCII letters A-Z and a-z differ in case, whatever the
// locale: for names that are ASCII by definition (registry roots, options).
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);
// Position of the first occurrence of `needle` in `haystack` that begins on a
// character boundary, compared without regard to case; npos when none.
size_t FindNoCase(std::string_view haystack, std::string_view needle);

// A text lower-cased once, for many case-insensitive searches in it: a list
// searched entry after entry must not be lower-cased again for every try.
class LowerText {
 public:
  explicit LowerText(std::string_view text);
  // First occurrence at or after `from` of `needle` (compared without regard
  // to case) that begins and ends on a character boundary; npos when none.
  size_t Find(std::string_view needle, size_t from = 0) const;

 private:
  std::string lower_;
  std::vector<bool> boundary_;  // boundary_[i]: a character begins at i
};

// UTF-16 code units to the code page of the locale in force. Nothing when a
// character has no representation there (no best-fit substitution, no '?').
std::optional<std::string> WideToCodePage(std::u16string_view wide);
std::optional<std::string> WideToCodePage(std::u16string_view wide, unsigned codePage);

}  // namespace text
