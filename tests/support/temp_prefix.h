// A fresh emulated machine for one test: a temporary prefix directory, named
// by QUILLMARK_PREFIX while the test runs. The directory is removed when the
// test passes and kept (its path printed) when it fails.
#pragma once

#include <string>

namespace qmtest {

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  // The host directory of the prefix and of its drive C:.
  const std::string& dir() const { return dir_; }
  std::string driveC() const { return dir_ + "/drive_c"; }
  // Host path of a DOS path on drive C: ("C:\\a\\b" -> <prefix>/drive_c/a/b).
  std::string HostPath(const std::string& dosPath) const;
  // Creates a directory (and its parents) under drive C:, by DOS path.
  void MakeDir(const std::string& dosPath) const;
  // Writes a file under drive C:, by DOS path, creating its directory.
  void WriteFile(const std::string& dosPath, const std::string& bytes) const;
  std::string ReadFile(const std::string& dosPath) const;
  // Makes the process's current directory the host directory of a DOS path.
  void ChangeDir(const std::string& dosPath) const;

 private:
  std::string dir_;
  std::string oldCwd_;
  std::string oldPrefix_;
  bool hadPrefix_ = false;
};

}  // namespace qmtest
