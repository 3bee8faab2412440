// The Win32 surface the program uses, by its Windows names.
//
// On Windows this is <windows.h> itself. Elsewhere the same names are
// declared by the emulated machine (emulated/win32_emulated.h), which keeps a
// whole virtual Windows machine in a prefix directory. Program code includes
// this header and never asks which platform it is on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlwapi.h>
#else
#include "platform/emulated/win32_emulated.h"
#endif
