// The C runtime calls on Windows: each is the runtime's own function. Files
// are opened in binary whatever the mode says, because the text-stream rules
// are applied by text/textstream.h on every platform.
#include "platform/crt.h"

#include <direct.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace crt {

const char* getenv(const char* name) {
  return ::getenv(name);
}

int putenv(const char* name, const char* value) {
  // _putenv_s removes a variable given an empty value.
  return ::_putenv_s(name, value ? value : "") == 0 ? 0 : -1;
}

int system(const char* commandLine) {
  // The runtime does not flush before starting the interpreter; what the
  // program printed so far must come before what the child prints.
  std::fflush(nullptr);
  return ::system(commandLine);
}

FILE* fopen(const char* path, const char* mode) {
  if (!mode) {
    errno = EINVAL;
    return nullptr;
  }
  std::string binary;
  for (const char* m = mode; *m; ++m)
    if (*m != 't' && *m != 'b') binary += *m;
  binary += 'b';
  return ::fopen(path, binary.c_str());
}

namespace {

void Copy(const struct _finddata_t& from, finddata_t* to) {
  to->attrib = from.attrib;
  to->size = static_cast<long long>(from.size);
  std::strncpy(to->name, from.name, sizeof to->name - 1);
  to->name[sizeof to->name - 1] = '\0';
}

}  // namespace

intptr_t findfirst(const char* pattern, finddata_t* data) {
  struct _finddata_t found;
  intptr_t handle = _findfirst(pattern, &found);
  if (handle != -1) Copy(found, data);
  return handle;
}

int findnext(intptr_t handle, finddata_t* data) {
  struct _finddata_t found;
  int r = _findnext(handle, &found);
  if (r == 0) Copy(found, data);
  return r;
}

int findclose(intptr_t handle) {
  return _findclose(handle);
}

char* getcwd(char* buffer, int size) {
  return ::_getcwd(buffer, size);
}
int chdir(const char* path) {
  return ::_chdir(path);
}
int unlink(const char* path) {
  return ::_unlink(path);
}

}  // namespace crt
