#!/bin/sh
# Runs the registration-file fuzzer for a bounded time.
#
#   fuzz/run.sh [SECONDS] [BUILD_DIR]
#
# SECONDS defaults to 60; BUILD_DIR (default build/fuzz) is a build configured
# with CC=clang CXX=clang++ -DQM_FUZZ=ON. The corpus lives in the build
# directory: it is seeded at every run from the real-world files of the shared
# test data (read where they are, never kept in the project) and from a few
# generated files, and keeps what the fuzzer finds between runs. Extra
# libFuzzer options may follow in QM_FUZZ_OPTIONS. Exit status: the fuzzer's
# (0 when nothing crashed).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
build=${2:-$root/build/fuzz}
fuzzer=$build/fuzz/regfile_fuzzer
testdata=${QM_SHARED_TESTDATA:-$root/../shared/testdata}
work=$build/fuzz/regfile-work

if [ ! -x "$fuzzer" ]; then
  echo "no fuzzer at $fuzzer; build it with:" >&2
  echo "  CC=clang CXX=clang++ cmake -S $root -B $build -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF" >&2
  echo "  cmake --build $build --target regfile_fuzzer" >&2
  exit 2
fi

mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"
rm -f "$work/seeds/"*
for f in "$testdata"/reg/real/*.reg; do
  [ -f "$f" ] && cp "$f" "$work/seeds/"
done

# Generated seeds: each line kind and data kind, both encodings, both markers,
# and lines at the limits of the line reader.
key='[HKEY_CURRENT_USER\Software\QmFuzz]'
printf '%s\r\n"s"="a\\\\b\\"c"\r\n@="d"\r\n"d"=dword:0000002a\r\n"b"=hex:01,02,\\\r\n  03\r\n"e"=hex(2):41,00,00,00\r\n"m"=hex(7):61,00,00,00,00,00\r\n' \
  "$key" > "$work/seeds/gen-kinds.reg"
printf '%s--uninstall\r\n"s"="x"--uninstall\r\n[HKEY_CURRENT_USER\\]--uninstall\r\n[-%s]\r\n"d"=dword:1 --uninstall\r\n' \
  "$key" "HKEY_CURRENT_USER\Software\QmFuzz" > "$work/seeds/gen-removal.reg"
printf '\377\376' > "$work/seeds/gen-utf16.reg"
printf '%s\r\n"u"="\344\270\255"\r\n"x"=hex:01\r\n"z"=dword:2' "$key" |
  iconv -f UTF-8 -t UTF-16LE >> "$work/seeds/gen-utf16.reg"
{
  printf '%s\n"long"="' "$key"
  head -c 33300 /dev/zero | tr '\0' 'x'
  printf '"\n"after"="1"\n'
} > "$work/seeds/gen-long-line.reg"

# Stack use after return and the filling of fresh allocations cost a third of
# the speed and find nothing here that AddressSanitizer's other checks miss.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_stack_use_after_return=0:max_malloc_fill_size=0}
export ASAN_OPTIONS

# The emulated machine of the runs lives in memory where it can, and goes
# when the run ends.
shm=/tmp
[ -d /dev/shm ] && shm=/dev/shm
QM_FUZZ_TMPDIR=$(mktemp -d "$shm/qmfuzz-run-XXXXXX")
export QM_FUZZ_TMPDIR
trap 'rm -rf "$QM_FUZZ_TMPDIR"' EXIT

# Leaks are looked for when the run ends (LeakSanitizer), not after every
# input: the emulated machine keeps caches from one input to the next, which
# would make libFuzzer scan the whole heap after most inputs.
status=0
# shellcheck disable=SC2086
"$fuzzer" "$work/corpus" "$work/seeds" \
  -dict="$here/regfile.dict" -max_len=40000 -max_total_time="$seconds" -detect_leaks=0 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 ${QM_FUZZ_OPTIONS:-} || status=$?
exit $status
