// A small emulated machine for the fuzz targets that reach past the registry
// layer: a prefix in a temporary directory with a few directories and
// startup files, the process environment a Windows 9x or NT program expects,
// and a way to put the registry back as it was after every input, so that an
// input that crashes does so on its own and can be replayed.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_prefix.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/registry_store.h"
#include "platform/win32api.h"

namespace qmfuzz {

// A directory of exactly this many characters (C:\ included) sits just
// under the limit of one directory, so inputs can reach it by name.
constexpr size_t kLongDirectoryLength = 262;

class FuzzMachine {
 public:
  FuzzMachine() {
    ::setenv("windir", "C:\\WINDOWS", 1);
    ::setenv("ComSpec", "C:\\COMMAND.COM", 1);
    ::setenv("Path", "C:\\WINDOWS;C:\\a", 1);
    ::unsetenv("QUILLMARK_WINVER");
    for (const char* d : {"windows/system32", "work/src", "a/b", "ab", "Program Files/x.y/bin",
                          "tex/bin", "miktex/texmf"})
      std::filesystem::create_directories(drive() + "/" + d);
    // C:\LLL...\MMM..., 262 characters in all.
    const std::string first(200, 'L');
    const std::string second(kLongDirectoryLength - 3 - first.size() - 1, 'M');
    std::filesystem::create_directories(drive() + "/" + first + "/" + second);
    WriteHost("f.txt", "not a directory\r\n");
  }
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  const std::string& dir() const { return prefix_.dir(); }
  std::string drive() const { return prefix_.dir() + "/drive_c"; }

  // Writes a file under drive C: by its host-relative name.
  void WriteHost(const std::string& name, const std::string& bytes) const {
    std::FILE* f = std::fopen((drive() + "/" + name).c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
      std::abort();
    if (std::fclose(f) != 0) std::abort();
  }
  bool ReadHost(const std::string& name, std::string& out) const {
    out.clear();
    std::FILE* f = std::fopen((drive() + "/" + name).c_str(), "rb");
    if (!f) return false;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
  }
  void RemoveHost(const std::string& name) const {
    std::error_code ec;
    std::filesystem::remove(drive() + "/" + name, ec);
  }

  // Windows 98 or Windows 10 from here on. The machine caches the version
  // with the open store, so a change reopens it.
  void UseWindows98(bool win98) {
    if (win98 == win98_) return;
    win98_ = win98;
    if (win98)
      ::setenv("QUILLMARK_WINVER", "win98", 1);
    else
      ::unsetenv("QUILLMARK_WINVER");
    emulated::ResetMachine();
  }

  // Makes what the registry holds now the state every later input starts from.
  void Checkpoint() {
    if (emulated::CommitPendingRun() != 0) std::abort();
  }
  // Drops whatever the last input changed in the registry.
  void RollBack() {
    emulated::RegistryStore* store = nullptr;
    if (emulated::AcquireRegistry(&store) == ERROR_SUCCESS) {
      store->Rollback();
    } else {
      // The run lost its transaction (or never had one): nothing of it was
      // kept; close the store so the next input opens it afresh.
      emulated::FinishRun();
    }
    emulated::ResetRegistryHandles();
    emulated::BumpStoreGeneration();
  }

 private:
  FuzzPrefix prefix_;
  bool win98_ = false;
};

// Sets a string value through the registry calls, for the starting state.
inline void SeedValue(HKEY root, const char* subkey, const char* name, DWORD type,
                      const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    std::abort();
  if (RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
    std::abort();
  RegCloseKey(key);
}

// Splits `bytes` at NUL into words (an empty word between two NULs is kept).
inline std::vector<std::string> SplitWords(const char* bytes, size_t size) {
  std::vector<std::string> words;
  if (size == 0) return words;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] == '\0') {
      words.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(bytes[i]);
    }
  }
  words.push_back(std::move(current));
  return words;
}

// Sends standard output to /dev/null: the driver prints a result line or a
// screen for every input.
inline void SilenceStdout() {
  std::fflush(stdout);
  int fd = ::open("/dev/null", O_WRONLY);
  if (fd < 0 || ::dup2(fd, 1) < 0) std::abort();
  ::close(fd);
}

}  // namespace qmfuzz
