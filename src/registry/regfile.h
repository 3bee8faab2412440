// Registration files in the Registry Editor's export format, ANSI or UTF-16
// little-endian with a byte-order mark: imported (+regf), or the keys and
// values they mark with "]--uninstall" / "--uninstall" removed (-regf).
#pragma once

#include <string_view>

namespace qm {

enum class RegFileMode { Import = 0, Removal = 1 };

// 1 when the file cannot be opened, otherwise 0 once the whole file has been
// read; single lines that fail are skipped and do not change the result.
int ProcessRegFile(std::string_view path, RegFileMode mode);

}  // namespace qm
