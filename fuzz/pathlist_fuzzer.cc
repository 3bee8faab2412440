// Path-list editing. An input is: flags, padding, LIST, NUL, PATHS. Flags bit
// 0: placement End; bits 1-2: the locale (C, Chinese, Japanese, UTF-8), which
// decides where a character begins. A padding byte other than 0 puts a filler
// entry in front of LIST so that it ends up a few characters either side of
// the longest list an addition may produce. Checked: an addition never leaves
// a list over its limit, a removal never makes it longer, and each existing
// directory among PATHS, added alone and removed again, gives the list back
// (without a ';' it ended with: removal drops that).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "env/pathlist.h"
#include "machine.h"
#include "text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qmfuzz::Machine machine;
  static const bool inWork = ::chdir(machine.Host("work/src").c_str()) == 0;
  static const char* const kLocales[] = {"C", "chinese-simplified", "japanese", ".65001"};
  if (size < 2 || !inWork) return 0;
  const auto placement = (data[0] & 1) ? qm::PathPlacement::End : qm::PathPlacement::Start;
  text::SetLocale(kLocales[(data[0] >> 1) & 3]);
  auto parts = qmfuzz::Split(data + 2, size - 2);
  std::string list = parts[0];
  const std::string paths = parts.size() > 1 ? parts[1] : "";
  if (data[1] && list.size() + 1 < qm::kMaxListLength + 8 - data[1])
    list = std::string(qm::kMaxListLength + 8 - data[1] - list.size() - 1, 'P') + ";" + list;

  std::string edited = list;
  if (qm::AddPathsToList(edited, paths, placement) == 0 && edited != list &&
      edited.size() > qm::kMaxListLength)
    std::abort();
  edited = list;
  qm::RemovePathsFromList(edited, paths);
  if (edited.size() > list.size()) std::abort();
  for (size_t begin = 0; begin < paths.size();) {
    const size_t end = std::min(paths.find(';', begin), paths.size());
    const std::string piece = paths.substr(begin, end - begin);
    begin = end + 1;
    std::string resolved = piece, added = list;
    if (piece.empty() || piece.size() > qm::kMaxDirectoryLength || !qm::ResolvePath(resolved) ||
        !qm::IsExistingDirectory(resolved) || qm::AddPathsToList(added, piece, placement) != 0 ||
        added == list)
      continue;
    std::string expected = list;
    if (!expected.empty() && expected.back() == ';') expected.pop_back();
    if (added.size() > qm::kMaxListLength || qm::RemovePathsFromList(added, piece) != 0 ||
        added != expected)
      std::abort();
  }
  return 0;
}
