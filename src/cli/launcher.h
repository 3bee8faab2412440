// Starting another program: the launcher (a .bat or .exe run in its
// directory, then deleted) and -run (one command line assembled from words).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qm {

// Longest command line that -run assembles; a longer one is not run.
constexpr size_t kMaxCommandLine = 779;

// Runs `file` in `directory` (or, when that is empty, in the file's own
// directory), waits, deletes the file, and restores the working directory.
void RunProgram(std::string_view file, std::string_view directory);
// Joins the words (quoting those that hold a space) and runs the line.
// Returns the exit code of the run: 0, or 1 when the line would be too long.
int RunCommandLine(std::span<const std::string> words);

}  // namespace qm
