#!/bin/sh
# fuzz/run_all.sh [SECONDS] [BUILD_DIR]: every fuzz target in turn for SECONDS
# (default 30) in BUILD_DIR (default build/fuzz, configured as scripts/test.sh
# does), the reader of .reg files from the real ones of the shared test data.
# A crash leaves its input in BUILD_DIR/fuzz/NAME-work/. Extra libFuzzer options: QM_FUZZ_OPTIONS.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${2:-$here/../build/fuzz}" && pwd)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_stack_use_after_return=0:max_malloc_fill_size=0}
status=0
for name in regfile options pathlist startup; do
  work=$build/fuzz/$name-work
  mkdir -p "$work/corpus"
  seeds=$here/seeds/$name
  [ "$name" = regfile ] && seeds="$here/../../shared/testdata/reg/real"
  # shellcheck disable=SC2086
  if "$build/fuzz/${name}_fuzzer" "$work/corpus" "$seeds" -dict="$here/$name.dict" -max_len=40000 \
      -timeout=20 -max_total_time="${1:-30}" -detect_leaks=0 -artifact_prefix="$work/" \
      -print_final_stats=1 ${QM_FUZZ_OPTIONS:-} >"$work/run.log" 2>&1; then
    result=ok
  else
    result="FAILED (see $work/run.log)"
    status=1
  fi
  echo "fuzz: $name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/run.log") executions: $result"
done
exit $status
