// The emulated machine of a fuzz target: a prefix in memory (/dev/shm where
// there is one) with a few directories, C:\work\src the current one, put back
// before every input as Keep() left it, so that an input that fails does so on
// its own and replays.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/emulated/machine.h"
#include "platform/win32api.h"

namespace qmfuzz {

namespace fs = std::filesystem;

class Machine {
 public:
  Machine() {
    std::string dir = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/qmfuzz-XXXXXX");
    if (!::mkdtemp(dir.data())) std::abort();
    dir_ = dir;
    ::setenv("QUILLMARK_PREFIX", dir_.c_str(), 1);
    ::setenv("windir", "C:\\WINDOWS", 1);
    ::setenv("ComSpec", "C:\\COMMAND.COM", 1);
    for (const char* d : {"windows/system32", "work/src", "a/b", "ab", "tex/bin", "Program Files/x.y"})
      fs::create_directories(Host(d));
    fs::create_directories(Host(std::string(200, 'L') + "/" + std::string(58, 'M')));  // 262 in all
    if (::chdir(Host("work/src").c_str()) != 0) std::abort();
  }
  ~Machine() { fs::remove_all(dir_); }

  std::string Host(const std::string& name) const { return dir_ + "/drive_c/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Host(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const { return Slurp(Host(name)); }
  // What the registry and the files hold now is what every later input starts from.
  void Keep() {
    if (emulated::FinishRun() != 0) std::abort();
    kept_.clear();
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      if (e.is_regular_file()) kept_.emplace_back(e.path(), Slurp(e.path()));
  }
  void Restore() {
    emulated::ResetMachine();
    std::error_code ec;
    for (const char* f : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) fs::remove(dir_ + f, ec);
    for (const auto& e : fs::directory_iterator(dir_ + "/drive_c", ec))
      if (e.is_regular_file()) fs::remove(e.path(), ec);
    for (const auto& [path, bytes] : kept_) std::ofstream(path, std::ios::binary) << bytes;
  }

 private:
  static std::string Slurp(const fs::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
  }
  std::string dir_;
  std::vector<std::pair<fs::path, std::string>> kept_;
};

// Words separated by NUL bytes (an empty word between two NULs is kept).
inline std::vector<std::string> Split(const uint8_t* bytes, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i]) words.back().push_back(static_cast<char>(bytes[i]));
    else words.emplace_back();
  }
  return words;
}

}  // namespace qmfuzz
