#!/usr/bin/env python3
"""Runs the registry conformance program and compares its lines with the
expected ones, which were taken from Windows builds run under Wine and each
checked against what is known of Windows.

    compare.py --expected FILE native PROGRAM WORKDIR
    compare.py --expected FILE wine PROGRAM.exe WINEPREFIX

native runs PROGRAM on a fresh emulated machine made in WORKDIR; wine runs
the .exe in the test run's Wine prefix, under a key of its own so that the
32-bit and 64-bit programs can run at once. Exit code 0 when every line
matches, 1 otherwise, 77 when Wine or the .exe is not there (skipped).
"""

import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winerun  # noqa: E402

TIMEOUT_SECONDS = 300


def lines_by_case(text):
    """{case: result} in order, and the lines that are not 'case: result'."""
    cases, stray = {}, []
    for line in text.replace("\r\n", "\n").split("\n"):
        if not line:
            continue
        name, sep, result = line.partition(": ")
        if sep and name not in cases:
            cases[name] = result
        else:
            stray.append(line)
    return cases, stray


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--expected", required=True)
    ap.add_argument("backend", choices=("native", "wine"))
    ap.add_argument("program")
    ap.add_argument("place", help="native: a work directory; wine: the Wine prefix")
    opts = ap.parse_args(argv[1:])

    if opts.backend == "native":
        prefix = os.path.join(os.path.abspath(opts.place), "prefix")
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(prefix)
        env = {"PATH": "/usr/bin:/bin", "HOME": prefix, "QUILLMARK_PREFIX": prefix}
        r = subprocess.run([opts.program], env=env, capture_output=True, timeout=TIMEOUT_SECONDS)
        label = "emulated machine"
    else:
        if not winerun.available() or not os.path.exists(opts.program):
            print(f"skipped: Wine or {opts.program} is not there")
            return winerun.SKIP
        if not os.path.isdir(os.path.join(opts.place, "drive_c")):
            print(f"skipped: no Wine prefix at {opts.place}")
            return winerun.SKIP
        bits = "x86" if winerun.pe_machine(opts.program) == 0x14C else "x64"
        key = "Software\\QuillmarkConformance-" + bits
        # The program deletes its key before its first case: it may run again.
        r = winerun.run_exe(os.path.abspath(opts.place), opts.program, ["--key", key],
                            timeout=TIMEOUT_SECONDS, repeatable=True)
        label = f"Wine, {bits}"

    with open(opts.expected, encoding="utf-8") as f:
        want, _ = lines_by_case(f.read())
    got, stray = lines_by_case(r.stdout.decode("utf-8", "backslashreplace"))

    problems = []
    if r.returncode != 0:
        problems.append(f"exit code {r.returncode}")
    for name, result in want.items():
        if name not in got:
            problems.append(f"{name}: missing (expected '{result}')")
        elif got[name] != result:
            problems.append(f"{name}:\n    expected: {result}\n    got:      {got[name]}")
    for name in got:
        if name not in want:
            problems.append(f"{name}: not in the expected lines")
    for line in stray:
        problems.append(f"unexpected output: {line}")
    if r.stderr:
        problems.append("standard error:\n" + r.stderr.decode("utf-8", "backslashreplace"))

    matched = sum(1 for n in want if got.get(n) == want[n])
    print(f"{label}: {matched} of {len(want)} cases as expected")
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
