// Registration files in the Registry Editor's export format, ANSI or UTF-16
// little-endian with a byte-order mark: imported (+regf), or the keys and
// values they mark with "]--uninstall" / "--uninstall" removed (-regf).
#pragma once

#include <string_view>

namespace qm {

enum class RegFileMode { Import = 0, Removal = 1 };

// 0 once the whole file has been read and everything it asks for was done;
// 1 when the file cannot be opened; 2 when some of it was not carried out: a
// line too long or not text (a zero byte, a UTF-16 character the code page
// cannot hold), a name or data over its limit, data after the end-of-data
// mark, a read error, or (import) a key or value that could not be written.
// Such a line is skipped and the lines after it are still handled, except
// after an unconvertible UTF-16 line, which ends the reading; what was done
// stays done. Lines the format leaves without effect (comments, malformed
// lines, data kinds not imported, deletions not honoured) and, on removal,
// keys and values that are not there, are no failure.
int ProcessRegFile(std::string_view path, RegFileMode mode);

}  // namespace qm
