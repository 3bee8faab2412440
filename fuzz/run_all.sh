#!/bin/sh
# Runs every fuzz target for a bounded time, one after another, and reports
# each one's executions and outcome.
#
#   fuzz/run_all.sh [SECONDS] [BUILD_DIR]
#
# SECONDS (default 30) is the time of each target; BUILD_DIR (default
# build/fuzz) is a build configured with CC=clang CXX=clang++ -DQM_FUZZ=ON.
# The registration-file reader runs through run.sh, the others here: each
# keeps its corpus in BUILD_DIR/fuzz/NAME-work/corpus between runs and starts
# from the seeds in fuzz/seeds/NAME. A crash leaves its input in
# BUILD_DIR/fuzz/NAME-work/artifacts. The log of each target is kept beside
# its corpus (run.log). Exit status: 0 when no target found anything.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-30}
build=${2:-$root/build/fuzz}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac

ASAN_OPTIONS=${ASAN_OPTIONS:-detect_stack_use_after_return=0:max_malloc_fill_size=0}
export ASAN_OPTIONS

status=0

report() {  # NAME LOG RESULT
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$2" | tail -n 1)
  echo "fuzz: $1: ${runs:-?} executions in ${seconds}s: $3"
}

# The registration-file reader, with its own seeds and options.
work=$build/fuzz/regfile-work
mkdir -p "$work"
if "$here/run.sh" "$seconds" "$build" >"$work/run.log" 2>&1; then
  report regfile_fuzzer "$work/run.log" ok
else
  report regfile_fuzzer "$work/run.log" "FAILED (see $work/run.log)"
  status=1
fi

for name in options pathlist startup; do
  fuzzer=$build/fuzz/${name}_fuzzer
  work=$build/fuzz/$name-work
  if [ ! -x "$fuzzer" ]; then
    echo "fuzz: $name: no fuzzer at $fuzzer (build the target ${name}_fuzzer)" >&2
    status=2
    continue
  fi
  mkdir -p "$work/corpus" "$work/artifacts"
  # Absolute paths throughout: the targets change their current directory.
  if "$fuzzer" "$work/corpus" "$here/seeds/$name" -dict="$here/$name.dict" \
      -max_len=4096 -timeout=20 -max_total_time="$seconds" \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
      ${QM_FUZZ_OPTIONS:-} >"$work/run.log" 2>&1; then
    report ${name}_fuzzer "$work/run.log" ok
  else
    report ${name}_fuzzer "$work/run.log" "FAILED (see $work/run.log)"
    status=1
  fi
done
exit $status
