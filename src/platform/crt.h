// The C runtime calls whose Windows behaviour the program relies on, in one
// namespace so that every call site names them the same way on every platform.
//
// On Windows each is the C runtime's own function. On the emulated machine
// paths are DOS paths through the machine's drive map, the environment is
// looked up without regard to letter case, and system() runs the machine's
// command interpreter.
//
// Files are always opened in binary; the Windows text-stream rules (CR LF,
// 0x1A) are applied by text/textstream.h, the same everywhere.
#pragma once

#include <cstdint>
#include <cstdio>

namespace crt {

// Directory-entry search record, as the C runtime's _finddata_t.
struct finddata_t {
  unsigned attrib = 0;  // _A_RDONLY 0x01, _A_HIDDEN 0x02, _A_SUBDIR 0x10, _A_ARCH 0x20
  long long size = 0;
  char name[260] = {};
};
constexpr unsigned A_RDONLY = 0x01;
constexpr unsigned A_HIDDEN = 0x02;
constexpr unsigned A_SUBDIR = 0x10;
constexpr unsigned A_ARCH = 0x20;

// The value of an environment variable of the running process, or nullptr.
// The pointer stays valid until the next call that changes that variable.
const char* getenv(const char* name);
// Sets (value non-null) or removes (value null) a variable of the running
// process. Returns 0 on success.
int putenv(const char* name, const char* value);

// Runs a command line through the command interpreter and waits for it;
// returns its status, or -1 when it could not be started.
int system(const char* commandLine);

// Opens a file by a DOS path. `mode` is an fopen mode; "t" is not honoured:
// callers use binary modes and text/textstream.h.
FILE* fopen(const char* path, const char* mode);

// _findfirst/_findclose: -1 when nothing is found.
intptr_t findfirst(const char* pattern, finddata_t* data);
int findnext(intptr_t handle, finddata_t* data);
int findclose(intptr_t handle);

char* getcwd(char* buffer, int size);
int chdir(const char* path);
int unlink(const char* path);

}  // namespace crt
