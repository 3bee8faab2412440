// libFuzzer target: ProcessRegFile over arbitrary bytes, imported and then
// removed, on an emulated machine in a temporary prefix. The code page of the
// locale follows the input's length, so that double-byte, UTF-8 and
// single-byte conversions all get their share.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/emulated/machine.h"
#include "registry/regfile.h"
#include "text/codepage.h"
#include "fuzz_prefix.h"

namespace {

// Runs between commits of the store, and between fresh stores (a store that
// only grows would slow every run down).
constexpr unsigned kRunsPerCommit = 64;
constexpr unsigned kRunsPerStore = 4096;
constexpr const char* kLocales[] = {"chinese-simplified", ".65001", "english"};

class FuzzMachine {
 public:
  FuzzMachine() : input_(prefix_.dir() + "/drive_c/input.reg") {}

  void Run(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(input_.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    size_t locale = size % std::size(kLocales);
    if (locale != locale_) text::SetLocale(kLocales[locale]);
    locale_ = locale;
    qm::ProcessRegFile("C:\\input.reg", qm::RegFileMode::Import);
    qm::ProcessRegFile("C:\\input.reg", qm::RegFileMode::Removal);
    if (++runs_ % kRunsPerStore == 0) {
      emulated::ResetMachine();
      std::error_code ec;
      for (const char* name : {"registry.db", "registry.db-wal", "registry.db-shm"})
        std::filesystem::remove(prefix_.dir() + "/" + name, ec);
    } else if (runs_ % kRunsPerCommit == 0) {
      emulated::CommitPendingRun();
    }
  }

 private:
  qmfuzz::FuzzPrefix prefix_;
  std::string input_;
  unsigned runs_ = 0;
  size_t locale_ = std::size(kLocales);  // none set yet
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  machine.Run(data, size);
  return 0;
}
