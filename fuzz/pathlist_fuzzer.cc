// Path-list editing. An input is: flags, padding, LIST, NUL, PATHS. Flags bit
// 0: placement End; bits 1-2: the locale (C, Chinese, Japanese, UTF-8), which
// decides where a character begins. A padding byte other than 0 puts a filler
// entry in front of LIST so that it ends up a few characters either side of
// the longest list an addition may produce. Checked: an addition never leaves
// a list over its limit, a removal never makes it longer, and each path of
// PATHS that, added alone, changes the list, removed again gives the list back
// (without a ';' it ended with: removal drops that).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "env/pathlist.h"
#include "machine.h"
#include "text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qmfuzz::Machine machine;
  static const char* const kLocales[] = {"C", "chinese-simplified", "japanese", ".65001"};
  if (size < 2) return 0;
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
  std::string expected = list;
  if (!expected.empty() && expected.back() == ';') expected.pop_back();
  std::istringstream pieces(paths);
  for (std::string piece; std::getline(pieces, piece, ';');) {
    std::string added = list;
    if (qm::AddPathToList(added, piece, placement) == 0 && added != list &&
        (qm::RemovePathFromList(added, piece) != 0 || added != expected))
      std::abort();
  }
  return 0;
}
