#include "detect/tex_detect.h"

#include <cstring>

#include "env/envstore.h"
#include "platform/crt.h"
#include "platform/win32api.h"
#include "registry/registry.h"
#include "text/codepage.h"
#include "text/path.h"

namespace qm {

std::uint8_t LastMiKTeXKind = MiKTeXNone;

namespace {

constexpr const char* kMiKTeXKey = "SOFTWARE\\MiK\\MiKTeX\\CurrentVersion\\MiKTeX";
// Room for a root and its terminator: what RegQueryValueExA is told it may fill.
constexpr DWORD kSettingCapacity = kMaxRootLength + 1;

constexpr std::string_view kTexProgram = "tex.exe";
constexpr std::string_view kTexMarker = "\\miktex\\bin\\tex.exe";
constexpr std::string_view kConfigFile = "\\miktex\\config\\md.ini";
constexpr std::string_view kDirectCDLocal = "\\MiKTeXDirect";

// Reads the value from one root. The bytes up to the first zero byte are the
// text; bytes that fill the whole capacity without a terminator are a text one
// character too long, so the value counts as unread rather than being cut.
bool QueryMiKTeXValue(std::string& out, HKEY root, std::string_view valueName) {
  RegistryValue value;
  if (ReadRegistryValue(value, root, kMiKTeXKey, valueName, kSettingCapacity) != kValueDone)
    return false;
  const std::string_view bytes = value.bytes;
  const std::string_view text = bytes.substr(0, bytes.find('\0'));
  if (text.size() > kMaxRootLength) return false;
  out.assign(text);
  return true;
}

// `base` + `tail` when the whole fits in a root text; false otherwise, so that
// a path that would have to be cut is never looked up.
bool ComposeWithin(std::string& out, std::string_view base, std::string_view tail) {
  if (base.size() + tail.size() > kMaxRootLength) return false;
  out.assign(base);
  out.append(tail);
  return true;
}

// Looks the path up once. The names FindFirstFileA would take as a pattern
// are refused: a '*' or '?' is never part of a file's name, and a pattern
// would report an unrelated file as this one.
bool LookUpEntry(const std::string& path, DWORD& attributes) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  attributes = data.dwFileAttributes;
  FindClose(find);
  return true;
}

bool IsReadOnlyFile(const std::string& path) {
  DWORD attributes = 0;
  if (!LookUpEntry(path, attributes)) return false;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The process's variable when it is set and fits in a root text.
bool ReadProcessVariable(std::string& out, const char* name) {
  const char* value = crt::getenv(name);
  if (!value) return false;
  const size_t length = std::strlen(value);
  if (length > kMaxRootLength) return false;
  out.assign(value, length);
  return true;
}

// The directory entries of a path-list value, in order: runs of ';' are
// skipped, double quotes are dropped and protect a ';' between them. An
// entry that is empty once its quotes are gone ends the list.
class SearchPathReader {
 public:
  explicit SearchPathReader(std::string_view list) : list_(list) {}

  bool Next(std::string& entry) {
    while (pos_ < list_.size() && list_[pos_] == ';') ++pos_;
    entry.clear();
    bool quoted = false;
    for (; pos_ < list_.size(); ++pos_) {
      const char c = list_[pos_];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ';' && !quoted) {
        break;
      } else {
        entry.push_back(c);
      }
    }
    return !entry.empty();
  }

 private:
  std::string_view list_;
  size_t pos_ = 0;
};

// Whether the last character of a directory is a separator of its own (a
// Big5 character such as "\xA5\x5C" ends in a byte 0x5C, but not in a
// backslash).
bool EndsInSeparator(std::string_view dir) {
  const std::string_view last = text::LastCharacter(dir);
  return last == "/" || last == "\\" || last == ":";
}

// Step 1 of the search: any entry of that name in the current directory, by
// its absolute path, if that path fits in a root text.
bool FindInCurrentDirectory(std::string& out, const std::string& file) {
  if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  char full[kMaxRootLength + 1];
  const DWORD length = GetFullPathNameA(file.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length > kMaxRootLength) return false;
  out.assign(full, length);
  return true;
}

}  // namespace

bool ReadMiKTeXSetting(std::string& out, std::string_view valueName) {
  return QueryMiKTeXValue(out, HKEY_CURRENT_USER, valueName) ||
         QueryMiKTeXValue(out, HKEY_LOCAL_MACHINE, valueName);
}

bool IsExistingFile(const std::string& path) {
  DWORD attributes = 0;
  return LookUpEntry(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void FindOnSearchPath(std::string& out, std::string_view file, std::string_view variable) {
  out.clear();
  const std::string name(file);
  if (name.empty()) return;
  if (FindInCurrentDirectory(out, name)) return;

  const std::string variableName(variable);
  const char* list = crt::getenv(variableName.c_str());
  if (!list) return;
  SearchPathReader reader(list);
  std::string dir;
  std::string candidate;
  while (reader.Next(dir)) {
    candidate = dir;
    if (!EndsInSeparator(candidate)) candidate.push_back('\\');
    candidate.append(name);
    if (candidate.size() > kMaxRootLength) continue;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) {
      out = candidate;
      return;
    }
  }
}

MiKTeXKind DetectMiKTeX(std::string& texmf, std::string& localTexmf) {
  // The installation root: where a tex.exe on the search path lives, if that
  // is a MiKTeX bin directory; otherwise the registered root, if its tex.exe
  // is there. An empty root is no root: its composed path would name the
  // root directory of whatever drive is current.
  bool rootFound = false;
  FindOnSearchPath(texmf, kTexProgram, "PATH");
  if (!texmf.empty()) {
    const size_t marker = text::FindNoCase(texmf, kTexMarker);
    if (marker != std::string::npos && marker > 0) {
      texmf.resize(marker);
      rootFound = true;
    }
  }
  if (!rootFound) {
    texmf.clear();
    std::string probe;
    if (ReadMiKTeXSetting(texmf, "Install Root") && !texmf.empty() &&
        ComposeWithin(probe, texmf, kTexMarker)) {
      rootFound = IsExistingFile(probe);
    }
  }

  localTexmf.clear();
  if (!rootFound) {
    texmf.clear();
    LastMiKTeXKind = MiKTeXNone;
    return MiKTeXNone;
  }

  MiKTeXKind kind;
  std::string config;
  if (ComposeWithin(config, texmf, kConfigFile) && IsReadOnlyFile(config)) {
    // A read-only configuration file: the distribution runs from a CD, and
    // local files go where the user says, or to a fixed folder on the system
    // drive (the Windows folder on 9x, which has no SystemDrive).
    kind = MiKTeXDirectCD;
    std::string base;
    if (!ReadProcessVariable(localTexmf, "MD_LOCALROOT") &&
        ReadProcessVariable(base, IsWindowsNT() ? "SystemDrive" : "windir")) {
      // A folder that would not fit leaves the local root empty, as when the
      // variable is not set.
      (void)ComposeWithin(localTexmf, base, kDirectCDLocal);
    }
  } else {
    kind = ReadMiKTeXSetting(localTexmf, "Local Root") ? MiKTeXNormal : MiKTeXNoLocalRoot;
  }
  LastMiKTeXKind = kind;
  return kind;
}

int DetectWinEdt(std::string& out) {
  // An empty "Install Root" names no directory; it counts as missing, so the
  // machine-wide value is consulted and an empty text is never reported as found.
  struct Location {
    HKEY root;
    const char* subkey;
  };
  const Location kLocations[] = {
      {HKEY_CURRENT_USER, "Software\\WinEdt"},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\WinEdt"},
  };
  for (const Location& at : kLocations) {
    std::string value;
    if (ReadRegistryString(value, at.root, at.subkey, "Install Root") != kValueDone) continue;
    value.resize(std::strlen(value.c_str()));
    if (value.empty()) continue;
    out = std::move(value);
    return 0;
  }
  out.clear();
  return 1;
}

}  // namespace qm
