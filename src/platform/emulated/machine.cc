// The emulated machine's life cycle: finding and creating the prefix, opening
// the registry store, and the run's one transaction.
#include "platform/emulated/machine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/emulated/registry_store.h"
#include "platform/emulated/win32_emulated.h"
#include "platform/lifecycle.h"

namespace emulated {
namespace {

constexpr const char* kPrefixVariable = "QUILLMARK_PREFIX";
constexpr const char* kDefaultPrefixName = "/.quillmark";
constexpr const char* kRegistryFile = "/registry.db";
// Directories every prefix has, made in this order.
constexpr const char* kPrefixDirectories[] = {"", "/drive_c", "/drive_c/windows",
                                              "/drive_c/windows/system32"};
constexpr mode_t kDirectoryMode = 0777;  // narrowed by the umask

struct Fault {
  std::string call;
  LONG error;
  int remaining;
};

struct Machine {
  std::string prefix;    // "" until the prefix has been made
  LONG prefixError = 0;  // why it could not be made
  bool problemTold = false;  // the run has said why the registry is unusable
  RegistryStore store;
  LONG runError = 0;  // set when the run's transaction was lost
  bool versionKnown = false;
  bool windows9x = false;
  std::uint64_t generation = 1;
  std::vector<Fault> faults;
};

Machine& TheMachine() {
  static Machine* machine = new Machine;  // lives until exit; no destructor order issues
  return *machine;
}

std::string PrefixFromEnvironment() {
  if (const char* p = std::getenv(kPrefixVariable); p && *p) return p;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
  }
  return std::string(home ? home : "") + kDefaultPrefixName;
}

LONG ErrorFromErrno(int err) {
  return err == EACCES || err == EPERM || err == EROFS ? ERROR_ACCESS_DENIED
                                                       : ERROR_REGISTRY_IO_FAILED;
}

// Makes the prefix's directories. Safe when many runs start on a new prefix
// at once: each directory is made or found, never replaced.
// The registry calls can only answer with an error code; the reason behind
// it (a file that is not a database, a prefix that is a file) is said once
// a run on standard error, so that a user can mend the machine.
void TellProblem(Machine& m, const std::string& what, const std::string& why) {
  if (m.problemTold) return;
  m.problemTold = true;
  std::fprintf(stderr, "%s: %s cannot be used: %s\n", program_invocation_short_name,
               what.c_str(), why.c_str());
}

LONG MakePrefix(Machine& m, const std::string& dir) {
  for (const char* sub : kPrefixDirectories) {
    std::string path = dir + sub;
    if (::mkdir(path.c_str(), kDirectoryMode) == 0) continue;
    int err = errno;
    struct stat st;
    if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (err == EEXIST) err = ENOTDIR;
    TellProblem(m, "the machine's directory " + path, std::strerror(err));
    return ErrorFromErrno(err);
  }
  return ERROR_SUCCESS;
}

LONG EnsurePrefix(Machine& m) {
  if (!m.prefix.empty()) return ERROR_SUCCESS;
  std::string dir = PrefixFromEnvironment();
  // A relative prefix is taken from where the run started: the program may
  // change its current directory later, the machine stays where it is.
  if (dir.empty() || dir[0] != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return m.prefixError = ERROR_PATH_NOT_FOUND;
    dir = std::string(cwd) + "/" + dir;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (LONG err = MakePrefix(m, dir)) {
    m.prefixError = err;
    return err;
  }
  m.prefix = dir;
  m.prefixError = 0;
  return ERROR_SUCCESS;
}

}  // namespace

std::string PrefixDirectory() {
  Machine& m = TheMachine();
  return EnsurePrefix(m) == ERROR_SUCCESS ? m.prefix : std::string();
}

LONG AcquireRegistry(RegistryStore** store) {
  Machine& m = TheMachine();
  if (m.runError) return m.runError;
  if (!m.store.IsOpen()) {
    if (LONG err = EnsurePrefix(m)) return err;
    if (LONG err = m.store.Open(m.prefix + kRegistryFile, GetACP())) {
      TellProblem(m, "the registry store " + m.prefix + kRegistryFile, m.store.Problem());
      return err;
    }
  }
  if (!m.store.InTransaction()) {
    if (LONG err = m.store.Begin()) {
      TellProblem(m, "the registry store " + m.prefix + kRegistryFile, m.store.Problem());
      // A store that cannot begin (corrupt, unwritable) is closed so that the
      // next call tries it afresh rather than using a half-open connection.
      m.store.Close();
      return err;
    }
    BumpStoreGeneration();  // another run may have changed anything since
  }
  *store = &m.store;
  return ERROR_SUCCESS;
}

void NoteStoreFailure() {
  Machine& m = TheMachine();
  if (m.store.LostTransaction()) {
    m.store.Rollback();
    m.runError = ERROR_REGISTRY_IO_FAILED;
  }
}

LONG TakeInjectedFault(const char* call) {
  Machine& m = TheMachine();
  for (Fault& f : m.faults) {
    if (f.remaining > 0 && (f.call == "*" || f.call == call)) {
      --f.remaining;
      return f.error;
    }
  }
  return ERROR_SUCCESS;
}

bool IsWindows9x() {
  Machine& m = TheMachine();
  if (!m.versionKnown) {
    m.windows9x = (GetVersion() & 0x80000000u) != 0;
    m.versionKnown = true;
  }
  return m.windows9x;
}

std::uint64_t StoreGeneration() {
  return TheMachine().generation;
}
void BumpStoreGeneration() {
  ++TheMachine().generation;
}

long CommitPendingRun() {
  Machine& m = TheMachine();
  if (m.runError) return m.runError;
  if (!m.store.InTransaction()) return ERROR_SUCCESS;
  LONG err = m.store.Commit();
  if (err) m.runError = err;
  return err;
}

long FinishRun() {
  Machine& m = TheMachine();
  LONG err = m.runError ? m.runError : m.store.Commit();
  m.store.Close();
  m.runError = 0;
  return err;
}

void ResetMachine() {
  Machine& m = TheMachine();
  (void)FinishRun();
  ResetRegistryHandles();
  m.prefix.clear();
  m.prefixError = 0;
  m.versionKnown = false;
  m.problemTold = false;
  m.faults.clear();
  ++m.generation;
}

void InjectRegistryFault(const std::string& call, long error, int count) {
  if (count <= 0) return;
  TheMachine().faults.push_back({call, static_cast<LONG>(error), count});
}

}  // namespace emulated

namespace port {

// The run's turn is its registry transaction (BEGIN IMMEDIATE), which keeps
// every other run out of the store until FinishRun. It is begun here, before
// the first option that works on the machine, rather than at the first
// registry call, so that it also covers the startup files that the Windows 9x
// branch edits without touching the registry. Another run's turn is waited
// for as long as the store's busy timeout (60 s), the counterpart of the
// bounded wait on Windows. A store that cannot be opened or begun is left to
// the registry call that needs it, which reports it as that operation's
// failure.
void TakeMachineTurn() {
  emulated::RegistryStore* store = nullptr;
  (void)emulated::AcquireRegistry(&store);
}

long FinishRun() {
  return emulated::FinishRun();
}

}  // namespace port
