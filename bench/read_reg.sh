#!/usr/bin/env bash
# Cost of one registry read by the program: `quillmark -x -read-reg KEY NAME`.
#
#   bench/read_reg.sh [native-build-dir] [win32-build-dir] [win64-build-dir]
#
# On the emulated machine: median wall time against the start of a static
# "hello" executable (the floor any process pays), and peak RSS. Under Wine:
# quillmark.exe against Wine's own `reg query` of the same value. Prints the
# ratios; a benchmark, not a test: nothing here fails on a slow machine.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
native=${1:-$root/build/cli}
win32=${2:-$root/build/cli-w32}
win64=${3:-$root/build/cli-w64}
runs=${QM_BENCH_RUNS:-300}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

key='HKEY_CURRENT_USER\Software\QuillmarkBench'
name='InstallDir'
value='C:\Program Files\Quillmark Bench\bin'

median_ms() {  # hyperfine JSON -> median of command $2, in milliseconds
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.3f" % (r["median"]*1000))' "$1" "$2"
}
cpu_ms() {  # hyperfine JSON -> mean user+system CPU time of command $2, in ms
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.3f" % ((r["user"]+r["system"])*1000))' "$1" "$2"
}
ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }

# ---- Emulated machine ----------------------------------------------------------
qm=$native/quillmark
if [[ -x $qm ]]; then
  printf '#include <stdio.h>\nint main(void) { puts("hello"); return 0; }\n' >"$work/hello.c"
  cc -O2 -static -o "$work/hello" "$work/hello.c"

  export QUILLMARK_PREFIX=$work/prefix
  "$qm" -no-refresh +regv "$key" "$name" "$value" >/dev/null
  got=$("$qm" -x -read-reg "$key" "$name")
  [[ $got == "$value" ]] || { echo "read back '$got', expected '$value'" >&2; exit 1; }

  # -N runs without a shell; the command is split like a shell would, so the
  # backslashes of the key are kept by single quotes.
  hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/native.json" \
    "$work/hello" "$qm -x -read-reg '$key' $name" >/dev/null 2>&1
  hello_ms=$(median_ms "$work/native.json" 0)
  qm_ms=$(median_ms "$work/native.json" 1)
  hello_cpu=$(cpu_ms "$work/native.json" 0)
  qm_cpu=$(cpu_ms "$work/native.json" 1)

  # Peak RSS of the run, in kB (GNU time's %M).
  rss_kb=$( { /usr/bin/time -f '%M' "$qm" -x -read-reg "$key" "$name" >/dev/null; } 2>&1 | tail -n1)
  hello_rss_kb=$( { /usr/bin/time -f '%M' "$work/hello" >/dev/null; } 2>&1 | tail -n1)

  echo "emulated machine ($runs runs each)"
  echo "  static hello            median ${hello_ms} ms   cpu ${hello_cpu} ms   peak RSS ${hello_rss_kb} kB"
  echo "  quillmark -x -read-reg  median ${qm_ms} ms   cpu ${qm_cpu} ms   peak RSS ${rss_kb} kB"
  echo "  wall ratio quillmark/hello: $(ratio "$qm_ms" "$hello_ms")  (target <= 3.00)"
  echo "  cpu ratio quillmark/hello:  $(ratio "$qm_cpu" "$hello_cpu")  (user+system; steadier on a busy machine)"
  echo "  peak RSS: $(ratio "$rss_kb" 1024) MB  (target <= 8 MB)"
else
  echo "no $qm: native benchmark skipped"
fi

# ---- Windows builds under Wine ---------------------------------------------------
wine_bench() {  # loader, exe, label
  local loader=$1 exe=$2 label=$3
  [[ -x $loader && -f $exe ]] || { echo "no $exe: $label skipped"; return; }
  export WINEPREFIX=$work/wine-$label WINEDEBUG=-all
  "$loader" wineboot -i >/dev/null 2>&1 || true
  # One wineserver for the whole measurement, so neither side pays its start.
  wineserver -p >/dev/null 2>&1 || true
  "$loader" "$exe" -no-refresh +regv "$key" "$name" "$value" >/dev/null
  local got
  got=$("$loader" "$exe" -x -read-reg "$key" "$name" | tr -d '\r')
  [[ $got == "$value" ]] || { echo "$label: read back '$got'" >&2; return; }
  local wruns=$((runs / 10 > 10 ? runs / 10 : 10))
  hyperfine -N --warmup 3 --runs "$wruns" --export-json "$work/$label.json" \
    "$loader reg query 'HKCU\\Software\\QuillmarkBench' /v $name" \
    "$loader $exe -x -read-reg '$key' $name" >/dev/null 2>&1
  local reg_ms qm_ms
  reg_ms=$(median_ms "$work/$label.json" 0)
  qm_ms=$(median_ms "$work/$label.json" 1)
  echo "wine, $label ($wruns runs each)"
  echo "  reg query               median ${reg_ms} ms"
  echo "  quillmark.exe -read-reg median ${qm_ms} ms"
  echo "  wall ratio quillmark.exe/reg query: $(ratio "$qm_ms" "$reg_ms")  (target <= 1.00)"
  wineserver -k >/dev/null 2>&1 || true
}
wine_bench /usr/lib/wine/wine "$win32/quillmark.exe" win32
wine_bench /usr/lib/wine/wine64 "$win64/quillmark.exe" win64
