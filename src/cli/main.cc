#include <cstdio>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "platform/lifecycle.h"
#include "text/output.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  int code = qm::RunQuillmark(args);
  // The emulated machine keeps a run's registry changes in one transaction
  // until here. If they cannot be kept, every success line printed before is
  // wrong: say so, and fail the run.
  if (port::FinishRun() != 0) {
    text::Print(qm::kFailedLine);
    code = 1;
  }
  std::fflush(stdout);
  return code;
}
