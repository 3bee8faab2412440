// The command-line driver: mode selection, the option grammar, result lines
// and the exit code. It returns; only main() ends the process.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "env/envstore.h"

namespace qm {

struct RunOptions {
  EnvScope scope = EnvScope::System;
  PathPlacement placement = PathPlacement::Start;
  bool forceRefresh = false;
  bool noRefresh = false;
  bool plainOutput = false;
  int lastStatus = 0;
};

// Runs the program on its arguments (argument 0, the program's path, not
// included) and returns the exit code.
int RunQuillmark(std::span<const std::string> args);

}  // namespace qm
