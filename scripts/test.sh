#!/bin/bash
# The one test command: builds the native program (with its tests) and both
# Windows builds, then runs every test, those under Wine included.
#
#   scripts/test.sh            builds in build/default, build/windows-x86,
#                              build/windows-x64 (the CMake presets)
#   BUILD_ROOT=dir scripts/test.sh
#                              builds in dir/default, dir/windows-x86, ...
#   JOBS=n                     parallel jobs (default 2)
#   STAGES="asan fuzz"         the checks run before the main suite (default
#                              both): the suite without the Wine tests under
#                              AddressSanitizer and UndefinedBehaviorSanitizer
#                              (preset asan), and every fuzz target for
#                              FUZZ_SECONDS each (default 30). STAGES= skips them.
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

stages="${STAGES-asan fuzz}"

for stage in $stages; do
  case "$stage" in
    asan)
      build asan "$root/asan"
      echo "== tests under the sanitizers"
      ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$root/asan" --output-on-failure -j "$jobs" -LE wine
      ;;
    fuzz)
      echo "== fuzz targets"
      CC=clang CXX=clang++ cmake -S . -B "$root/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF -DQM_STATIC_RUNTIME=OFF >/dev/null
      # Only the fuzzers: the libraries they link are instrumented, the
      # program's executables in that tree are not meant to be linked.
      cmake --build "$root/fuzz" -j "$jobs" --target regfile_fuzzer options_fuzzer \
        pathlist_fuzzer startup_fuzzer
      # A fixed seed: the bounded run is the same mutation sequence on every
      # machine, so what passes here passes in CI. Long runs choose their own.
      QM_FUZZ_OPTIONS="${QM_FUZZ_OPTIONS:--seed=1}" fuzz/run_all.sh "${FUZZ_SECONDS:-30}" "$root/fuzz"
      ;;
    *)
      echo "test.sh: unknown stage $stage" >&2
      exit 2
      ;;
  esac
done

# The main suite last, so that its summary closes the output.
echo "== tests"
ctest --test-dir "$root/default" --output-on-failure -j "$jobs" "$@"
