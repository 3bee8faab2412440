// ProcessRegFile over any bytes, imported and then removed. The code page
// follows the input's length, so that double-byte, UTF-8 and single-byte
// conversions all get their share.
#include <cstdint>
#include <string>

#include "machine.h"
#include "registry/regfile.h"
#include "text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qmfuzz::Machine machine;
  static const char* const kLocales[] = {"chinese-simplified", ".65001", "english"};
  machine.Write("input.reg", std::string(reinterpret_cast<const char*>(data), size));
  text::SetLocale(kLocales[size % 3]);
  qm::ProcessRegFile("C:\\input.reg", qm::RegFileMode::Import);
  qm::ProcessRegFile("C:\\input.reg", qm::RegFileMode::Removal);
  // A transaction or a store that only grows would slow every later input.
  static unsigned runs = 0;
  if (++runs % 4096 == 0)
    machine.Restore();
  else if (runs % 64 == 0)
    emulated::CommitPendingRun();
  return 0;
}
