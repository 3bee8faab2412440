#!/usr/bin/env bash
# Import speed of a large registration file: a Registry Editor export of
# 200,000 values (strings, dwords, multi-line hex and hex(2)) in 20,000 keys,
# and the same layout twice as large.
#
#   bench/regfile/run.sh [native-build-dir] [win32-build-dir]
#
# On the emulated machine: `quillmark +regf` of each file into a prefix that
# exists already (median wall time and mean CPU time; targets: 200,000 values
# in at most 2 s, twice the file in at most 2.2 times the time). Under Wine:
# the 32-bit quillmark.exe against Wine's own `regedit /s` of the same file
# (target: quillmark at most 1.0 times regedit). Every run starts with the
# benchmark's key absent. A benchmark, not a test: nothing fails on a slow
# machine; QM_BENCH_RUNS sets the runs per measurement (default 5).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
native=$(realpath -m "${1:-$root/build/regfile}")
win32=$(realpath -m "${2:-$root/build/windows-x86}")
runs=${QM_BENCH_RUNS:-5}

work=$(mktemp -d)
cleanup() {
  if [[ -n ${WINEPREFIX:-} && -d ${WINEPREFIX:-} ]]; then /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

median_s() {  # hyperfine JSON -> median wall time of command $2, in seconds
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.3f" % r["median"])' "$1" "$2"
}
cpu_s() {  # hyperfine JSON -> mean user+system CPU time of command $2, in seconds
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.3f" % (r["user"]+r["system"]))' "$1" "$2"
}
dos() { local p=${1//\//\\}; echo "Z:$p"; }  # a host path as the program's DOS path
ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }

key='HKEY_CURRENT_USER\Software\QmBench'
python3 "$here/gen_export.py" "$work/x1.reg" 20000 10
python3 "$here/gen_export.py" "$work/x2.reg" 40000 10
python3 "$here/gen_export.py" "$work/x1-ansi.reg" 20000 10 --ansi
echo "files: x1 $(stat -c %s "$work/x1.reg") bytes (UTF-16, 200,000 values in 20,000 keys)," \
  "x2 $(stat -c %s "$work/x2.reg") bytes (400,000 in 40,000), x1-ansi $(stat -c %s "$work/x1-ansi.reg") bytes"

# ---- Emulated machine ------------------------------------------------------------
qm=$native/quillmark
if [[ -x $qm ]]; then
  QUILLMARK_PREFIX=$work/seed "$qm" -no-refresh +regk 'HKEY_CURRENT_USER\Software\QmSeed' >/dev/null
  printf 'rm -rf "%s/p" && cp -a "%s/seed" "%s/p"\n' "$work" "$work" "$work" >"$work/fresh.sh"
  export QUILLMARK_PREFIX=$work/p
  hyperfine -N --runs "$runs" --prepare "bash $work/fresh.sh" --export-json "$work/native.json" \
    "$qm +regf '$(dos "$work/x1.reg")'" "$qm +regf '$(dos "$work/x2.reg")'" \
    "$qm +regf '$(dos "$work/x1-ansi.reg")'" >/dev/null 2>&1
  unset QUILLMARK_PREFIX
  # The import must have stored everything: the last value of the last key.
  bash "$work/fresh.sh"
  QUILLMARK_PREFIX=$work/p "$qm" +regf "$(dos "$work/x1.reg")" >/dev/null
  got=$(QUILLMARK_PREFIX=$work/p "$qm" -x -read-reg "$key\\Group0199\\Key019999" Value03)
  [[ $got == "plain text 19999 3" ]] || { echo "import incomplete: read '$got'" >&2; exit 1; }

  x1=$(median_s "$work/native.json" 0) x2=$(median_s "$work/native.json" 1)
  xa=$(median_s "$work/native.json" 2)
  c1=$(cpu_s "$work/native.json" 0) c2=$(cpu_s "$work/native.json" 1)
  echo "emulated machine ($runs runs each, median wall / mean CPU)"
  echo "  x1       ${x1} s / ${c1} s   (target <= 2 s)"
  echo "  x2       ${x2} s / ${c2} s"
  echo "  x1-ansi  ${xa} s / $(cpu_s "$work/native.json" 2) s"
  echo "  x2/x1: wall $(ratio "$x2" "$x1"), CPU $(ratio "$c2" "$c1")   (target <= 2.20)"
else
  echo "no $qm: emulated benchmark skipped"
fi

# ---- quillmark.exe against regedit under Wine ------------------------------------
exe=$win32/quillmark.exe
wine32=/usr/lib/wine/wine
if [[ -f $exe && -x $wine32 ]]; then
  export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=;mshtml=;winemenubuilder.exe='
  unset DISPLAY WAYLAND_DISPLAY
  # One wineserver for the whole measurement, so no run pays its start.
  /usr/lib/wine/wineserver -p >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  cp "$work/x1.reg" "$work/x1-ansi.reg" "$WINEPREFIX/drive_c/"
  printf 'REGEDIT4\r\n\r\n[-%s]\r\n' "$key" >"$WINEPREFIX/drive_c/remove.reg"
  regedit=$WINEPREFIX/drive_c/windows/syswow64/regedit.exe
  # quillmark and regedit take turns, so that a change in the machine's load
  # hits both alike; CPU time counts the wineserver's share as well.
  python3 "$here/wine_time.py" "$runs" "$wine32 $regedit /s 'C:\\remove.reg'" -- \
    "q=$wine32 $exe +regf 'C:\\x1.reg'" "r=$wine32 $regedit /s 'C:\\x1.reg'" \
    "qa=$wine32 $exe +regf 'C:\\x1-ansi.reg'" "ra=$wine32 $regedit /s 'C:\\x1-ansi.reg'" \
    >"$work/wine.txt"
  field() { awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$work/wine.txt"; }
  echo "under Wine, 32-bit ($runs runs each, median wall / median CPU of process and wineserver)"
  for f in x1 x1-ansi; do
    q=q r=r
    [[ $f == x1-ansi ]] && q=qa r=ra
    echo "  $f  quillmark.exe +regf $(field $q 2) s / $(field $q 3) s," \
      "regedit /s $(field $r 2) s / $(field $r 3) s:" \
      "ratio wall $(ratio "$(field $q 2)" "$(field $r 2)"), CPU $(ratio "$(field $q 3)" "$(field $r 3)")" \
      "  (target <= 1.00)"
  done
else
  echo "no $exe or Wine: Wine benchmark skipped"
fi
