// A fresh emulated machine for one test: a temporary prefix named by
// QUILLMARK_PREFIX while the test runs, removed after it; the current
// directory is put back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/emulated/machine.h"

namespace qmtest {

class TempPrefix {
 public:
  TempPrefix() : oldCwd_(std::filesystem::current_path()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    ::setenv("QUILLMARK_PREFIX", dir_.c_str(), 1);
    emulated::ResetMachine();
    std::filesystem::create_directories(driveC());
  }
  ~TempPrefix() {
    emulated::ResetMachine();
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::string& dir() const { return dir_; }
  std::string driveC() const { return dir_ + "/drive_c"; }
  // The host path of a DOS path on drive C: ("C:\\a\\b" -> <prefix>/drive_c/a/b).
  std::string HostPath(std::string dos) const {
    if (dos.size() >= 2 && (dos[0] | 0x20) == 'c' && dos[1] == ':') dos.erase(0, 2);
    for (char& c : dos) c = c == '\\' ? '/' : c;
    return driveC() + "/" + dos.substr(std::min(dos.find_first_not_of('/'), dos.size()));
  }
  void MakeDir(const std::string& dos) const { std::filesystem::create_directories(HostPath(dos)); }
  void WriteFile(const std::string& dos, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(HostPath(dos)).parent_path());
    std::ofstream(HostPath(dos), std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& dos) const {
    std::ostringstream s;
    s << std::ifstream(HostPath(dos), std::ios::binary).rdbuf();
    return s.str();
  }
  void ChangeDir(const std::string& dos) const {
    if (::chdir(HostPath(dos).c_str()) != 0) ADD_FAILURE() << "chdir " << dos;
  }

 private:
  std::string dir_;
  std::filesystem::path oldCwd_;
};

}  // namespace qmtest
