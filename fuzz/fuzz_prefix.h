// The prefix of a fuzz target's emulated machine: a fresh directory in memory
// where /dev/shm exists (QM_FUZZ_TMPDIR chooses another), named by
// QUILLMARK_PREFIX, with its drive C:, and removed again at the end.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/emulated/machine.h"

namespace qmfuzz {

class FuzzPrefix {
 public:
  FuzzPrefix() {
    const char* base = std::getenv("QM_FUZZ_TMPDIR");
    if (!base) base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/qmfuzz-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    ::setenv("QUILLMARK_PREFIX", dir_.c_str(), 1);
    std::filesystem::create_directories(dir_ + "/drive_c");
  }
  ~FuzzPrefix() {
    emulated::ResetMachine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  FuzzPrefix(const FuzzPrefix&) = delete;
  FuzzPrefix& operator=(const FuzzPrefix&) = delete;

  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace qmfuzz
