// Several installers may run the program at the same moment, each adding its
// own directory to the same Path. Each run reads, edits and writes back the
// whole list; none may lose another's entry.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "env_test_support.h"
#include "platform/emulated/machine.h"

extern char** environ;

namespace qm {
namespace {

constexpr int kConcurrentRuns = 16;

// The program is built beside the directory of the test binaries.
std::string ProgramPath() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "quillmark").string();
}

using ConcurrentRunsTest = qmtest::EnvTest;

TEST_F(ConcurrentRunsTest, AdditionsToOnePathAreAllKept) {
  const std::string program = ProgramPath();
  ASSERT_EQ(::access(program.c_str(), X_OK), 0) << "build quillmark first: " << program;

  qmtest::StoreValue(HKEY_CURRENT_USER, qmtest::kUserEnvKey, "Path", REG_EXPAND_SZ,
                     "%USERPROFILE%\\bin");
  std::vector<std::string> dirs;
  for (int i = 0; i < kConcurrentRuns; ++i) {
    dirs.push_back("C:\\installers\\app" + std::to_string(i));
    prefix_.MakeDir(dirs.back());
  }
  // This process's registry transaction must not hold the store meanwhile.
  ASSERT_EQ(emulated::FinishRun(), 0);

  std::vector<pid_t> children;
  for (int i = 0; i < kConcurrentRuns; ++i) {
    const std::string out = prefix_.dir() + "/run" + std::to_string(i) + ".out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {program, "-user", "+path", dirs[i]};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    children.push_back(pid);
  }
  for (size_t i = 0; i < children.size(); ++i) {
    int status = 0;
    ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << i;
    std::ifstream in(prefix_.dir() + "/run" + std::to_string(i) + ".out");
    std::stringstream printed;
    printed << in.rdbuf();
    EXPECT_EQ(printed.str(), "Succeeded in doing speicified operation(s)!\n") << "run " << i;
  }

  auto stored = qmtest::QueryValue(HKEY_CURRENT_USER, qmtest::kUserEnvKey, "Path");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, REG_EXPAND_SZ);
  const std::string list = ";" + qmtest::Text(*stored) + ";";
  EXPECT_NE(list.find(";%USERPROFILE%\\bin;"), std::string::npos) << list;
  for (const auto& dir : dirs) {
    size_t first = list.find(";" + dir + ";");
    EXPECT_NE(first, std::string::npos) << dir << " lost from " << list;
    EXPECT_EQ(list.find(";" + dir + ";", first + 1), std::string::npos) << dir << " twice";
  }
}

}  // namespace
}  // namespace qm
