// The startup files of Windows 95/98/ME: "set" lines in autoexec.bat for path
// lists, and the SHELL line of CONFIG.SYS for the environment space size.
// Both live at the root of the drive that the variable windir names.
#pragma once

#include <string_view>

#include "env/envstore.h"

namespace qm {

// 0 appended; 2 the running process's variable already contains the value;
// 3 autoexec.bat could not be written (also: the set line would be longer
// than 263 characters, or windir is missing). autoexec.bat is rewritten
// through a temporary file: on any failure it is left exactly as it was.
int AppendAutoexecSetLine(std::string_view value, std::string_view name, PathPlacement placement);
// 0 rewritten; 2 the process has no variable Path; 3 autoexec.bat could not be
// read or replaced (also: a set line would be longer than 263 characters);
// 4/5 its size could not be taken; 6 no memory.
int RemoveAutoexecSetLines(std::string_view value, std::string_view name);
// 0 done; 1 CONFIG.SYS could not be read (also: missing, or its first line is
// longer than the 260 characters that are edited); 2 the new file could
// not be written or put in place (the old one is then kept); nonzero, nothing
// changed, when windir or ComSpec is missing.
int SetEnvironmentSize(int size);

}  // namespace qm
