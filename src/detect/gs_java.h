// The newest Ghostscript and Java runtime, found through their registry
// entries, and their registration in the environment.
#pragma once

#include <string>
#include <string_view>

#include "env/envstore.h"

namespace qm {

// 0 the Java home directory is in `out`; 1 not found (an empty JavaHome
// names no runtime).
int FindLatestJava(std::string& out);
// Stores the path of javaw.exe in the system variable `name`. 1 no Java
// runtime (also: its home, or the path, longer than 260 characters);
// otherwise the result of SetEnvironmentValue.
int RegisterJavaw(std::string_view name);
// 0 `out` holds the directory of the newest Ghostscript library; 1 not found
// (`out` empty, or the library's path whole when it holds no backslash).
int FindLatestGhostscript(std::string& out);
// 0 gswin32c.exe already reachable along Path; 2 no Ghostscript registered
// (or its directory cannot be one entry of Path: longer than 260 characters,
// or holding a ';'); otherwise the result of AddPathToEnvironment.
int AddGhostscriptToPath(EnvScope scope, PathPlacement placement);

}  // namespace qm
