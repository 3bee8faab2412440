// libFuzzer target: path-list editing. An input is
//
//   flags, padding, LIST, NUL, PATHS
//
// flags bit 0: placement End (else Start); bits 1-2: the locale (C, Chinese,
// Japanese, UTF-8), which decides how case is folded and where a character
// begins. padding, when not 0, puts a filler entry in front of LIST so that
// the list ends up a few characters either side of the longest list an
// addition may produce, where the length checks matter.
//
// Checked on every input, on an emulated machine with a few directories
// (current directory C:\work\src):
// - an addition that changed the list left it within kMaxListLength;
// - a removal never makes the list longer;
// - for each existing directory among the pieces of PATHS: adding it alone
//   and then removing it gives the list back when the addition changed it.
//   Removal drops a ";" left at the very end of a list, so a list that ended
//   with one comes back without it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "env/pathlist.h"
#include "fuzz_machine.h"
#include "text/codepage.h"

namespace {

constexpr const char* kLocales[] = {"C", "chinese-simplified", "japanese", ".65001"};
// How far past the limit a padded list may start (padding 1 gives this).
constexpr size_t kPaddingOvershoot = 8;

[[noreturn]] void Fail(const char* what, const std::string& list, std::string_view paths) {
  std::fprintf(stderr, "pathlist_fuzzer: %s\n  list (%zu): %.300s\n  paths: %.300s\n", what,
               list.size(), list.c_str(), std::string(paths).c_str());
  std::abort();
}

std::string WithoutFinalSemicolon(std::string list) {
  if (!list.empty() && list.back() == ';') list.pop_back();
  return list;
}

class PathListMachine {
 public:
  PathListMachine() {
    if (::chdir((machine_.drive() + "/work/src").c_str()) != 0) std::abort();
  }

  void Run(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const auto placement = (data[0] & 1) != 0 ? qm::PathPlacement::End : qm::PathPlacement::Start;
    const size_t locale = (data[0] >> 1) & 3;
    if (locale != locale_) text::SetLocale(kLocales[locale]);
    locale_ = locale;

    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const size_t nul = rest.find('\0');
    std::string list(rest.substr(0, nul));
    std::string_view paths = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    paths = paths.substr(0, paths.find('\0'));  // an argument holds no NUL
    if (data[1] != 0) {
      const size_t target = qm::kMaxListLength + kPaddingOvershoot - data[1];
      if (list.size() + 1 < target) list = std::string(target - list.size() - 1, 'P') + ";" + list;
    }

    std::string added = list;
    qm::AddPathsToList(added, paths, placement);
    if (added != list && added.size() > qm::kMaxListLength)
      Fail("an addition made the list longer than its limit", added, paths);

    std::string removed = list;
    qm::RemovePathsFromList(removed, paths);
    if (removed.size() > list.size()) Fail("a removal made the list longer", removed, paths);

    CheckRoundTrips(list, paths, placement);
  }

 private:
  // Each piece of `paths` that names an existing directory, added on its own
  // and removed again.
  static void CheckRoundTrips(const std::string& list, std::string_view paths,
                              qm::PathPlacement placement) {
    size_t begin = 0;
    while (begin < paths.size()) {
      size_t end = paths.find(';', begin);
      if (end == std::string_view::npos) end = paths.size();
      const std::string_view piece = paths.substr(begin, end - begin);
      begin = end + 1;
      if (piece.empty() || piece.size() > qm::kMaxDirectoryLength) continue;
      std::string resolved(piece);
      if (!qm::ResolvePath(resolved) || !qm::IsExistingDirectory(resolved)) continue;

      std::string edited = list;
      if (qm::AddPathsToList(edited, piece, placement) != 0 || edited == list) continue;
      if (edited.size() > qm::kMaxListLength)
        Fail("adding one directory made the list longer than its limit", edited, piece);
      const int status = qm::RemovePathsFromList(edited, piece);
      if (status != 0) Fail("a directory just added could not be removed", edited, piece);
      if (edited != WithoutFinalSemicolon(list))
        Fail("adding and removing a directory did not give the list back", edited, piece);
    }
  }

  qmfuzz::FuzzMachine machine_;
  size_t locale_ = std::size(kLocales);  // none set yet
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PathListMachine machine;
  machine.Run(data, size);
  return 0;
}
