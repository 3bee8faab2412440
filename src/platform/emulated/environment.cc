// The process environment as a Windows program sees it: names compared
// without regard to letter case, and the variables every Windows process has
// present even when the host does not set them.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crt.h"

extern char** environ;

namespace {

struct DefaultVariable {
  const char* name;
  const char* value;
};

// The machine's own values, as Wine gives them to every process; a value the
// host environment sets always wins.
constexpr DefaultVariable kDefaults[] = {
    {"SystemRoot", "C:\\windows"},
    {"windir", "C:\\windows"},
    {"SystemDrive", "C:"},
    {"ComSpec", "C:\\windows\\system32\\cmd.exe"},
};

// The host variables whose names equal `name` without regard to case.
std::vector<std::string> MatchingNames(const char* name, size_t length) {
  std::vector<std::string> names;
  for (char** e = environ; e && *e; ++e)
    if (strncasecmp(*e, name, length) == 0 && (*e)[length] == '=') names.emplace_back(*e, length);
  return names;
}

bool IsValidName(const char* name) {
  return name && *name && std::strchr(name, '=') == nullptr;
}

}  // namespace

namespace crt {

const char* getenv(const char* name) {
  if (!IsValidName(name)) return nullptr;
  size_t length = std::strlen(name);
  const char* folded = nullptr;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, name, length) == 0 && (*e)[length] == '=') return *e + length + 1;
    // The host may hold names that differ only in case (PATH and Path); the
    // exact spelling is preferred, else the first such name.
    if (!folded && strncasecmp(*e, name, length) == 0 && (*e)[length] == '=')
      folded = *e + length + 1;
  }
  if (folded) return folded;
  for (const auto& d : kDefaults)
    if (strcasecmp(name, d.name) == 0) return d.value;
  return nullptr;
}

int putenv(const char* name, const char* value) {
  if (!IsValidName(name)) return -1;
  // One variable per name, whatever its case: replace every spelling.
  for (const std::string& old : MatchingNames(name, std::strlen(name)))
    if (::unsetenv(old.c_str()) != 0) return -1;
  // As _putenv_s on Windows: an empty value removes the variable.
  if (!value || !*value) return 0;
  return ::setenv(name, value, 1) == 0 ? 0 : -1;
}

}  // namespace crt
