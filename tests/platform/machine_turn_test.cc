// A run's turn on the emulated machine: another run (a child process) that
// has taken it keeps this one waiting until it finishes, whatever it does
// meanwhile outside the registry; one that is killed holding it does not.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "platform/emulated/machine.h"
#include "platform/lifecycle.h"
#include "support/registry_values.h"
#include "support/temp_prefix.h"

namespace {

TEST(MachineTurnTest, AnotherRunsTurnIsWaitedForUntilItFinishesOrDies) {
  for (bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "holder killed" : "holder finishes");
    qmtest::TempPrefix prefix;
    emulated::ResetMachine();  // no open store for the child to inherit
    const std::string done = prefix.dir() + "/holder-done";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
      port::TakeMachineTurn();
      (void)!::write(ready[1], "r", 1);
      if (killed) ::pause();
      // Work outside the registry, as on the startup files, that must be
      // over before any other run has its turn.
      ::usleep(300 * 1000);
      std::ofstream(done) << "done";
      ::_exit(port::FinishRun() == 0 ? 0 : 1);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    if (killed) ::kill(holder, SIGKILL);

    auto start = std::chrono::steady_clock::now();
    port::TakeMachineTurn();
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(::access(done.c_str(), F_OK) == 0, !killed);
    // Well inside the store's 60 s busy timeout: the turn was had, not given up.
    EXPECT_LT(waited, std::chrono::seconds(20));
    qmtest::StoreValue(HKEY_CURRENT_USER, "Software\\Turn", "v", REG_SZ, "1");
    EXPECT_EQ(port::FinishRun(), 0);
    EXPECT_TRUE(qmtest::QueryValue(HKEY_CURRENT_USER, "Software\\Turn", "v"));

    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_EQ(killed ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0, true);
    ::close(ready[0]);
    ::close(ready[1]);
    emulated::ResetMachine();
  }
}

}  // namespace
