#!/bin/bash
# The one test command: builds the native program (with its tests) and both
# Windows builds, then runs every test, those under Wine included.
#
#   scripts/test.sh            builds in build/default, build/windows-x86,
#                              build/windows-x64 (the CMake presets)
#   BUILD_ROOT=dir scripts/test.sh
#                              builds in dir/default, dir/windows-x86, ...
#   JOBS=n                     parallel jobs (default 2)
#
# Extra arguments go to ctest, e.g. scripts/test.sh -L e2e
set -euo pipefail

cd "$(dirname "$0")/.."
jobs="${JOBS:-2}"
root="${BUILD_ROOT:-build}"

build() {  # preset, directory, extra cmake arguments...
  local preset="$1" dir="$2"
  shift 2
  echo "== $preset ($dir)"
  cmake --preset "$preset" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build windows-x86 "$root/windows-x86"
build windows-x64 "$root/windows-x64"
build default "$root/default" \
  -DQM_WINDOWS_X86_DIR="$PWD/$root/windows-x86" -DQM_WINDOWS_X64_DIR="$PWD/$root/windows-x64"

echo "== tests"
ctest --test-dir "$root/default" --output-on-failure -j "$jobs" "$@"
