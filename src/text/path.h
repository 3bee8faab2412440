// Paths as the program's texts carry them: 8-bit text in the code page of the
// locale in force, the backslash the only separator. Every helper here walks
// the text character by character: in a double-byte code page the trail byte
// of a character may be 0x5C, the byte of a backslash, and a path cut or
// joined there would name another file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// Position of the character after the one at `i`: two bytes on for a lead
// byte of the locale in force with a byte after it, whatever that byte is;
// one byte on otherwise.
size_t NextCharacter(std::string_view s, size_t i);

// The last character of `s` (one or two bytes); empty for an empty text.
std::string_view LastCharacter(std::string_view s);

// Position of the last backslash that is a character of its own; npos when
// none.
size_t FindLastBackslash(std::string_view s);

// Whether the last character of `s` is a backslash of its own.
bool EndsWithBackslash(std::string_view s);

// What follows the last backslash, or the whole path when it has none. Only
// the backslash separates: "tools/setup.exe" is one name.
std::string_view BaseName(std::string_view path);

// Cuts a path to its parent directory: a final backslash goes first, then the
// last backslash and everything after it. A drive root ("C:\") and a text of
// at most two characters ending in a backslash stay as they are; a path
// without a backslash becomes ".".
void ParentDirectory(std::string& path);

// Appends `part` to `dir` with one backslash between them (none is added
// when `dir` already ends with one). A part that begins with a backslash
// replaces `dir`.
void AppendPathComponent(std::string& dir, std::string_view part);

}  // namespace text
