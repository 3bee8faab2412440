#!/usr/bin/env python3
"""quillmark -md5 on a 1 GiB file against openssl md5 and md5sum.

    bench/md5/run.py [QUILLMARK] [--size-mib N] [--runs N]

QUILLMARK is the POSIX build (default build/release/quillmark); it runs on a
fresh emulated machine in a temporary prefix. The file is random bytes under
/tmp, read once beforehand so that every program finds it in the page cache,
and removed at the end. The three programs run in turn, round after round
(the first round warms up and is not counted); the ratios of the median wall
times are printed with the targets (quillmark at most 1.05 x openssl md5
and at most 1.00 x md5sum).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TARGETS = {"openssl md5": 1.05, "md5sum": 1.00}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("quillmark", nargs="?",
                        default=os.path.join(here, "..", "..", "build", "release", "quillmark"))
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()

    quillmark = os.path.abspath(args.quillmark)
    for tool in ("openssl", "md5sum"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed")
    if not os.access(quillmark, os.X_OK):
        sys.exit(f"no quillmark at {quillmark}")

    work = tempfile.mkdtemp(prefix="qm-bench-md5-", dir="/tmp")
    try:
        data = os.path.join(work, "big.bin")
        with open(data, "wb") as f:
            chunk = 1 << 20
            for _ in range(args.size_mib):
                f.write(os.urandom(chunk))
        with open(data, "rb") as f:  # into the page cache
            while f.read(1 << 24):
                pass

        env = dict(os.environ, QUILLMARK_PREFIX=os.path.join(work, "prefix"))
        # The same digest from all three, or the timing means nothing.
        ours = subprocess.run([quillmark, "-md5", "big.bin"], cwd=work, env=env,
                              capture_output=True, text=True)
        if ours.stdout != "Succeeded in doing speicified operation(s)!\n":
            sys.exit(f"quillmark -md5 failed: {ours.stdout!r} {ours.stderr!r}")
        expected = subprocess.run(["md5sum", "big.bin"], cwd=work, capture_output=True,
                                  text=True, check=True).stdout.split()[0]
        reg = os.path.join(os.path.dirname(quillmark), "quillmark-reg")
        if os.access(reg, os.X_OK):
            stamp = subprocess.run(
                [reg, "query", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
                 "\\Pinebrook", "/v", "MD5:big.bin"], env=env, capture_output=True, text=True)
            if expected not in stamp.stdout:
                sys.exit(f"the stamp is not md5sum's digest {expected}: {stamp.stdout!r}")

        commands = {
            "quillmark -md5": [quillmark, "-md5", "big.bin"],
            "openssl md5": ["openssl", "md5", "big.bin"],
            "md5sum": ["md5sum", "big.bin"],
        }
        # Rounds in turn rather than one program after another: on a shared
        # machine the load drifts, and each program should meet the same drift.
        wall = {name: [] for name in commands}
        cpu = {name: [] for name in commands}
        for round_ in range(args.runs + 1):
            for name, argv in commands.items():
                started = time.perf_counter()
                child = subprocess.Popen(argv, cwd=work, env=env, stdout=subprocess.DEVNULL)
                _, status, usage = os.wait4(child.pid, 0)
                elapsed = time.perf_counter() - started
                child.returncode = os.waitstatus_to_exitcode(status)
                if child.returncode != 0:
                    sys.exit(f"{name} failed with {child.returncode}")
                if round_ == 0:
                    continue  # the warm-up round
                wall[name].append(elapsed)
                cpu[name].append(usage.ru_utime + usage.ru_stime)

        med = {name: statistics.median(wall[name]) for name in commands}
        med_cpu = {name: statistics.median(cpu[name]) for name in commands}
        print(f"file: {args.size_mib} MiB, {args.runs} interleaved runs each, medians")
        for name in commands:
            print(f"  {name:15s} wall {med[name]:.3f} s  (min {min(wall[name]):.3f} s)"
                  f"  processor {med_cpu[name]:.3f} s")
        ok = True
        for name, target in TARGETS.items():
            ratio = med["quillmark -md5"] / med[name]
            verdict = "ok" if ratio <= target else "OVER"
            ok = ok and ratio <= target
            print(f"  wall      quillmark / {name:12s} = {ratio:.3f}  (target <= {target:.2f})"
                  f" {verdict}")
        # On a busy machine wall time says as much about the neighbours as
        # about the programs; the processor time each one used does not.
        for name in TARGETS:
            print(f"  processor quillmark / {name:12s} = "
                  f"{med_cpu['quillmark -md5'] / med_cpu[name]:.3f}")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
