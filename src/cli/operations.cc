// The production table of operations: the one place where the driver meets
// the other layers. The grammar (driver.cc) sees them only through this
// table, so that a test can run it on a table that records the calls.
#include "cli/driver.h"
#include "cli/launcher.h"
#include "detect/gs_java.h"
#include "detect/tex_detect.h"
#include "digest/stamp.h"
#include "env/envstore.h"
#include "env/pathlist.h"
#include "env/startup_files.h"
#include "registry/regfile.h"
#include "registry/registry.h"

namespace qm {

namespace {

Operations MakeProductionOperations() {
  Operations ops;
  ops.addPathToEnvironment = AddPathToEnvironment;
  ops.removePathFromEnvironment = RemovePathFromEnvironment;
  ops.setEnvironmentValue = SetEnvironmentValue;
  ops.deleteEnvironmentValue = DeleteEnvironmentValue;
  ops.setEnvironmentSize = SetEnvironmentSize;
  ops.markEnvironmentChanged = [] { EnvironmentChanged = 1; };
  ops.broadcastEnvironmentChange = BroadcastEnvironmentChange;

  ops.addPathToRegistryValue = AddPathToRegistryValue;
  ops.removePathFromRegistryValue = RemovePathFromRegistryValue;
  ops.writeRegistryPathValue = WriteRegistryPathValue;
  ops.deleteRegistryPathValue = DeleteRegistryPathValue;
  ops.createRegistryPathKey = CreateRegistryPathKey;
  ops.deleteRegistryPathKey = DeleteRegistryPathKey;
  ops.processRegFile = ProcessRegFile;
  ops.readRegistryPathValue = ReadRegistryPathValue;
  // -regl is a general registry option: the plain byte order of names.
  ops.readLatestSubkeyValue = [](std::string& out, std::string& latest, std::string_view key,
                                 std::string_view value) {
    return ReadLatestSubkeyValue(out, latest, key, value, SubkeyOrder::Bytes);
  };

  ops.detectMiKTeX = [](std::string& texmf, std::string& localTexmf) -> std::uint8_t {
    DetectMiKTeX(texmf, localTexmf);
    return LastMiKTeXKind;
  };
  ops.detectWinEdt = DetectWinEdt;
  ops.findLatestGhostscript = FindLatestGhostscript;
  ops.addGhostscriptToPath = AddGhostscriptToPath;
  ops.findLatestJava = FindLatestJava;
  ops.registerJavaw = RegisterJavaw;

  ops.recordFileDigest = RecordFileDigest;
  ops.runProgram = RunProgram;
  ops.runCommandLine = RunCommandLine;
  return ops;
}

}  // namespace

const Operations& ProductionOperations() {
  static const Operations ops = MakeProductionOperations();
  return ops;
}

}  // namespace qm
