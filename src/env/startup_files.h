// The startup files of Windows 95/98/ME: "set" lines in autoexec.bat for path
// lists, and the SHELL line of CONFIG.SYS for the environment space size.
// Both live at the root of the drive that the variable windir names.
#pragma once

#include <string_view>

#include "env/envstore.h"

namespace qm {

// ---- Results -----------------------------------------------------------------
constexpr int kStartupFileDone = 0;
// autoexec.bat.
constexpr int kValueAlreadySet = 2;  // appending: the process's variable
                                     // already contains the value
constexpr int kNoPathVariable = 2;   // removing: the process has no variable Path
constexpr int kAutoexecFailed = 3;   // not read, written or replaced; also: a set
                                     // line too long, windir missing
constexpr int kAutoexecEndNotSought = 4;
constexpr int kAutoexecSizeNotTaken = 5;
constexpr int kAutoexecNoMemory = 6;
// CONFIG.SYS.
constexpr int kConfigNotRead = 1;
constexpr int kConfigNotWritten = 2;

// 0 appended; 2 the running process's variable already contains the value;
// 3 autoexec.bat could not be read or written (also: the set line would be
// longer than 263 characters, or windir is missing). autoexec.bat is
// rewritten through a temporary file: on any failure it is left exactly as
// it was.
int AppendAutoexecSetLine(std::string_view value, std::string_view name, PathPlacement placement);
// 0 rewritten; 2 the process has no variable Path; 3 autoexec.bat could not be
// read or replaced (also: a set line would be longer than 263 characters, or
// windir is missing); 4/5 its size could not be taken; 6 no memory.
int RemoveAutoexecSetLines(std::string_view value, std::string_view name);
// 0 done; 1 CONFIG.SYS could not be read (also: windir is missing, the file
// is missing, or its first line is longer than the 260 characters that are
// edited); 2 the new file could not be written or put in place (the old one
// is then kept), and, with nothing changed, when ComSpec is missing or
// CONFIG.SYS is read-only.
int SetEnvironmentSize(int size);

}  // namespace qm
