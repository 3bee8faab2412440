#include "support/temp_prefix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/emulated/machine.h"

namespace fs = std::filesystem;

namespace qmtest {

TempPrefix::TempPrefix() {
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) oldCwd_ = cwd;
  if (const char* p = std::getenv("QUILLMARK_PREFIX")) {
    hadPrefix_ = true;
    oldPrefix_ = p;
  }
  std::string tmpl = (fs::temp_directory_path() / "qmtest-XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  dir_ = made;
  ::setenv("QUILLMARK_PREFIX", dir_.c_str(), 1);
  emulated::ResetMachine();
  fs::create_directories(driveC());
}

TempPrefix::~TempPrefix() {
  emulated::ResetMachine();
  if (!oldCwd_.empty()) (void)::chdir(oldCwd_.c_str());
  if (hadPrefix_)
    ::setenv("QUILLMARK_PREFIX", oldPrefix_.c_str(), 1);
  else
    ::unsetenv("QUILLMARK_PREFIX");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info && info->result() && info->result()->Failed()) {
    std::fprintf(stderr, "kept the prefix of the failed test: %s\n", dir_.c_str());
    return;
  }
  std::error_code ec;
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir_, ec);
}

std::string TempPrefix::HostPath(const std::string& dosPath) const {
  std::string rest = dosPath;
  if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':') rest.erase(0, 2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  return rest.empty() ? driveC() : driveC() + "/" + rest;
}

void TempPrefix::MakeDir(const std::string& dosPath) const {
  fs::create_directories(HostPath(dosPath));
}

void TempPrefix::WriteFile(const std::string& dosPath, const std::string& bytes) const {
  fs::path p = HostPath(dosPath);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string TempPrefix::ReadFile(const std::string& dosPath) const {
  std::ifstream in(HostPath(dosPath), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void TempPrefix::ChangeDir(const std::string& dosPath) const {
  if (::chdir(HostPath(dosPath).c_str()) != 0) ADD_FAILURE() << "chdir " << dosPath;
}

}  // namespace qmtest
