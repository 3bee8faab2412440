// Laying out installations on a fresh emulated machine: files under drive C:,
// registry values, and process variables that last for one test.
#pragma once

// The tables of installations name only the fields a case sets, with
// designated initializers; GCC 12 warns about every field left to its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/crt.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "support/temp_prefix.h"

extern char** environ;

namespace qmtest {

// Sets (or, with nullptr, removes) a variable of the running process, and
// afterwards puts back the host's previous spellings of it (PATH, Path ...),
// which crt::putenv replaces whatever their case.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    for (char** e = environ; e && *e; ++e) {
      const char* equals = std::strchr(*e, '=');
      if (equals && static_cast<size_t>(equals - *e) == name_.size() &&
          strncasecmp(*e, name, name_.size()) == 0)
        old_.emplace_back(std::string(*e, name_.size()), equals + 1);
    }
    EXPECT_EQ(crt::putenv(name, value), 0) << name;
  }
  ~ScopedVariable() {
    crt::putenv(name_.c_str(), nullptr);
    for (const auto& [name, value] : old_) ::setenv(name.c_str(), value.c_str(), 1);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::vector<std::pair<std::string, std::string>> old_;
};

// The Windows version the machine reports while the object lives (the
// emulation reads QUILLMARK_WINVER at every GetVersion).
class ScopedWindowsVersion {
 public:
  explicit ScopedWindowsVersion(const char* version) {
    if (const char* old = std::getenv("QUILLMARK_WINVER")) old_ = old;
    ::setenv("QUILLMARK_WINVER", version, 1);
  }
  ~ScopedWindowsVersion() {
    if (old_)
      ::setenv("QUILLMARK_WINVER", old_->c_str(), 1);
    else
      ::unsetenv("QUILLMARK_WINVER");
  }
  ScopedWindowsVersion(const ScopedWindowsVersion&) = delete;
  ScopedWindowsVersion& operator=(const ScopedWindowsVersion&) = delete;

 private:
  std::optional<std::string> old_;
};

inline void MakeReadOnly(const TempPrefix& prefix, const std::string& dosPath) {
  namespace fs = std::filesystem;
  fs::permissions(prefix.HostPath(dosPath),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

inline void SetValue(HKEY root, const std::string& subkey, const std::string& name,
                     const std::string& text) {
  ASSERT_EQ(qm::WriteRegistryString(text, root, subkey, name), 0) << subkey << " " << name;
}

// A DOS directory of exactly `length` characters ("C:\\ddd...\\ddd"), in
// components the host's file system accepts.
inline std::string LongDirectory(size_t length) {
  constexpr size_t kComponent = 200;
  std::string dir = "C:\\";
  while (length - dir.size() > kComponent) {
    dir.append(kComponent - 1, 'd');
    dir.push_back('\\');
  }
  dir.append(length - dir.size(), 'd');
  return dir;
}

}  // namespace qmtest
