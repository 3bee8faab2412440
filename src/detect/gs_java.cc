#include "detect/gs_java.h"

#include <cstring>

#include "detect/tex_detect.h"
#include "env/pathlist.h"
#include "registry/registry.h"
#include "text/path.h"

namespace qm {

namespace {

constexpr std::string_view kJavaKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr std::string_view kJavaHomeValue = "JavaHome";
constexpr std::string_view kJavawRelative = "bin\\javaw.exe";

// The families in the order they are read; a later one that yields a value
// replaces an earlier one's.
constexpr std::string_view kGhostscriptKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\GNU Ghostscript",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\GPL Ghostscript",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\AFPL Ghostscript",
};
constexpr std::string_view kGhostscriptValue = "GS_DLL";
constexpr std::string_view kGhostscriptConsole = "gswin32c.exe";

// Reads a value under the newest subkey (highest version: 10.0 is newer than
// 8.50) and keeps it as text: the stored terminator and anything after it go.
bool ReadNewestValue(std::string& out, std::string_view path, std::string_view valueName) {
  std::string value;
  std::string newestSubkey;
  if (ReadLatestSubkeyValue(value, newestSubkey, path, valueName, SubkeyOrder::Version) !=
      kLatestRead)
    return false;
  value.resize(std::strlen(value.c_str()));
  out = std::move(value);
  return true;
}

// The GS_DLL value of the last family that has one, or empty.
std::string ReadGhostscriptLibrary() {
  std::string library;
  for (std::string_view key : kGhostscriptKeys) ReadNewestValue(library, key, kGhostscriptValue);
  return library;
}

// Cuts the library path to its directory (at its last backslash of its own:
// a cut at the trail byte of a double-byte character would leave half a
// character behind); false, leaving it whole, when it names no directory.
bool CutToDirectory(std::string& library) {
  const size_t slash = text::FindLastBackslash(library);
  if (slash == std::string::npos) return false;
  library.resize(slash);
  return true;
}

}  // namespace

int FindLatestJava(std::string& out) {
  out.clear();
  // An empty JavaHome names no runtime: reporting it as found would hand the
  // caller a home of "" and, for +javaw, a relative bin\javaw.exe.
  if (!ReadNewestValue(out, kJavaKey, kJavaHomeValue) || out.empty()) {
    out.clear();
    return 1;
  }
  return 0;
}

int RegisterJavaw(std::string_view name) {
  std::string javaw;
  if (FindLatestJava(javaw) != 0 || javaw.size() > kMaxRootLength) return 1;
  text::AppendPathComponent(javaw, kJavawRelative);
  // A home too long to take bin\javaw.exe is not cut into some other path.
  if (javaw.size() > kMaxRootLength) return 1;
  return SetEnvironmentValue(javaw, name, EnvScope::System);
}

int FindLatestGhostscript(std::string& out) {
  out = ReadGhostscriptLibrary();
  return CutToDirectory(out) ? 0 : 1;
}

int AddGhostscriptToPath(EnvScope scope, PathPlacement placement) {
  std::string found;
  FindOnSearchPath(found, kGhostscriptConsole, "Path");
  if (!found.empty()) return 0;
  // The same Ghostscript that -gswin32c reports, or none: a library path that
  // does not fit a directory text counts as no registration, rather than an
  // older family being added in its place. So does a directory holding a
  // ';': Path would take it for several directories and gain the wrong ones.
  std::string directory = ReadGhostscriptLibrary();
  if (directory.size() > kMaxRootLength || !CutToDirectory(directory) ||
      directory.find(';') != std::string::npos)
    return 2;
  return AddPathToEnvironment(directory, "Path", scope, placement);
}

}  // namespace qm
