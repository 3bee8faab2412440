// system(): the machine's command interpreter. The program that ComSpec names
// (a DOS path through the drive map, or an absolute host path) is run with
// "/c" and the command line, as cmd.exe is on Windows; without a usable one,
// the host shell runs the command line.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/crt.h"
#include "platform/emulated/drives.h"
#include "platform/emulated/machine.h"

extern char** environ;

namespace {

constexpr const char* kHostShell = "/bin/sh";
constexpr int kSignalStatusBase = 128;

bool IsExecutableFile(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(host.c_str(), X_OK) == 0;
}

// The host path of the interpreter ComSpec names, or "" when there is none.
std::string CommandInterpreter() {
  const char* comspec = crt::getenv("ComSpec");
  if (!comspec || !*comspec) return {};
  std::string host;
  if (comspec[0] == '/') {
    host = comspec;
  } else {
    emulated::MappedPath m;
    if (emulated::MapPath(comspec, &m) != 0) return {};
    host = m.host;
  }
  return IsExecutableFile(host) ? host : std::string();
}

}  // namespace

namespace crt {

int system(const char* commandLine) {
  std::string interpreter = CommandInterpreter();
  if (!commandLine) return !interpreter.empty() || IsExecutableFile(kHostShell) ? 1 : 0;

  // What the program printed so far comes before what the child prints.
  std::fflush(nullptr);
  // The run's registry changes so far are committed first: a child that is
  // itself a run of this program would otherwise wait for this run's open
  // transaction, which cannot end before the child does. A failed commit is
  // the run's to report at its end; the command still runs.
  (void)emulated::CommitPendingRun();

  std::string cmd = commandLine;
  std::string c = "/c";
  std::string shellFlag = "-c";
  std::string program = interpreter.empty() ? std::string(kHostShell) : interpreter;
  char* argv[] = {program.data(), interpreter.empty() ? shellFlag.data() : c.data(), cmd.data(),
                  nullptr};
  pid_t pid;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kSignalStatusBase + WTERMSIG(status);
  return -1;
}

}  // namespace crt
