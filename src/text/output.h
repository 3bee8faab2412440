// The one output sink of the program: standard output in the program, a
// string in tests. Everything the program prints goes through here, as bytes;
// texts found by operations are never used as formats.
#pragma once

#include <string>
#include <string_view>

namespace text {

void Print(std::string_view s);
// Prints a text up to its first NUL byte, as "%s" would.
void PrintCString(std::string_view s);

// Tests: capture everything printed into `sink` (nullptr: back to stdout).
void CaptureOutput(std::string* sink);

}  // namespace text
