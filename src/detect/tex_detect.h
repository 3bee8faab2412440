// Detection of a MiKTeX installation (normal or Direct CD) and of WinEdt.
// Read-only: nothing in the registry, the environment or on disk changes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

enum MiKTeXKind : std::uint8_t {
  MiKTeXNone = 0,         // no installation root found
  MiKTeXNormal = 1,       // root found, local root from the registry
  MiKTeXDirectCD = 2,     // root found, its md.ini read-only
  MiKTeXNoLocalRoot = 3,  // root found, no local root in the registry
};

// Set by every DetectMiKTeX to the kind it returns; 0 at start.
extern std::uint8_t LastMiKTeXKind;

// Longest text of a root, composed path or environment value (260 characters).
constexpr size_t kMaxRootLength = 260;

// The kind of installation found, with its root in `texmf` and its local root
// in `localTexmf` (each empty when there is none; both empty for MiKTeXNone).
MiKTeXKind DetectMiKTeX(std::string& texmf, std::string& localTexmf);
// 0 found (`out` holds the directory as read); 1 not found (`out` empty).
int DetectWinEdt(std::string& out);
// A value of the MiKTeX key as text (up to its first zero byte), the current
// user's if it can be read there, else the local machine's. A value longer
// than kMaxRootLength counts as missing. False, `out` unchanged, when neither
// has it.
bool ReadMiKTeXSetting(std::string& out, std::string_view valueName);
bool IsExistingFile(const std::string& path);
// Searches `file` in the current directory, then along the directories of the
// process's variable `variable`. `out` is the full path, or empty.
void FindOnSearchPath(std::string& out, std::string_view file, std::string_view variable);

}  // namespace qm
