// The command-line driver: mode selection, the option grammar, result lines
// and the exit code. It returns; only main() ends the process.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "env/envstore.h"
#include "registry/regfile.h"

namespace qm {

// The result line printed after each operation. The failure line is also
// what main prints when the changes of a run cannot be kept.
inline constexpr std::string_view kSucceededLine = "Succeeded in doing speicified operation(s)!\n";
inline constexpr std::string_view kFailedLine = "Error: Failed to do speicified operation(s)!\n";

struct RunOptions {
  EnvScope scope = EnvScope::System;
  PathPlacement placement = PathPlacement::Start;
  bool forceRefresh = false;
  bool noRefresh = false;
  bool plainOutput = false;
  int lastStatus = 0;
};

// Every operation the driver can call, one member each, with the arguments
// in the order the options hand them over. An absent value name is passed
// as an empty text. The program runs on ProductionOperations(); a test may
// pass a table that records the calls instead.
struct Operations {
  // Environment.
  std::function<int(std::string_view paths, std::string_view name, EnvScope, PathPlacement)>
      addPathToEnvironment;
  std::function<int(std::string_view paths, std::string_view name, EnvScope)>
      removePathFromEnvironment;
  std::function<int(std::string_view value, std::string_view name, EnvScope)> setEnvironmentValue;
  std::function<int(std::string_view name, EnvScope)> deleteEnvironmentValue;
  std::function<int(int size)> setEnvironmentSize;
  // Sets EnvironmentChanged (for -refresh), then the end-of-run broadcast.
  std::function<void()> markEnvironmentChanged;
  std::function<void()> broadcastEnvironmentChange;

  // Registry.
  std::function<int(std::string_view paths, std::string_view key, std::string_view value,
                    PathPlacement)>
      addPathToRegistryValue;
  std::function<int(std::string_view paths, std::string_view key, std::string_view value)>
      removePathFromRegistryValue;
  std::function<int(std::string_view text, std::string_view key, std::string_view value)>
      writeRegistryPathValue;
  std::function<int(std::string_view key, std::string_view value)> deleteRegistryPathValue;
  std::function<int(std::string_view key)> createRegistryPathKey;
  std::function<int(std::string_view key)> deleteRegistryPathKey;
  std::function<int(std::string_view file, RegFileMode)> processRegFile;
  std::function<int(std::string& out, std::string_view key, std::string_view value)>
      readRegistryPathValue;
  std::function<int(std::string& out, std::string& latestName, std::string_view key,
                    std::string_view value)>
      readLatestSubkeyValue;

  // Detection. detectMiKTeX returns the kind it left in LastMiKTeXKind.
  std::function<std::uint8_t(std::string& texmf, std::string& localTexmf)> detectMiKTeX;
  std::function<int(std::string& out)> detectWinEdt;
  std::function<int(std::string& out)> findLatestGhostscript;
  std::function<int(EnvScope, PathPlacement)> addGhostscriptToPath;
  std::function<int(std::string& out)> findLatestJava;
  std::function<int(std::string_view name)> registerJavaw;

  // Digest and launcher.
  std::function<int(std::string_view file)> recordFileDigest;
  std::function<void(std::string_view file, std::string_view directory)> runProgram;
  std::function<int(std::span<const std::string> words)> runCommandLine;
};

// The real operations of every layer.
const Operations& ProductionOperations();

// Runs the program on its arguments (argument 0, the program's path, not
// included) and returns the exit code: on ProductionOperations(), or on the
// table `ops`.
int RunQuillmark(std::span<const std::string> args);
int RunQuillmark(std::span<const std::string> args, const Operations& ops);

}  // namespace qm
