#!/usr/bin/env python3
"""quillmark -md5 on a 1 GiB file against openssl md5 and md5sum.

    bench/md5/run.py [QUILLMARK] [--size-mib N] [--runs N]

QUILLMARK is the POSIX build (default build/release/quillmark); it runs on a
fresh emulated machine in a temporary prefix. The file is random bytes under
/tmp, read once beforehand so that every program finds it in the page cache,
and removed at the end. hyperfine times each program; the ratios of the
medians are printed with the targets (quillmark at most 1.05 x openssl md5
and at most 1.00 x md5sum).
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

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
    for tool in ("hyperfine", "openssl", "md5sum"):
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
            "quillmark -md5": f"{quillmark} -md5 big.bin",
            "openssl md5": "openssl md5 big.bin",
            "md5sum": "md5sum big.bin",
        }
        report = os.path.join(work, "hyperfine.json")
        cmd = ["hyperfine", "-N", "--warmup", "1", "--runs", str(args.runs),
               "--export-json", report, "--style", "basic"]
        for name, line in commands.items():
            cmd += ["-n", name, line]
        subprocess.run(cmd, cwd=work, env=env, check=True, stdout=sys.stderr)

        with open(report) as f:
            results = {r["command"]: r for r in json.load(f)["results"]}
        ours_median = results["quillmark -md5"]["median"]
        print(f"file: {args.size_mib} MiB, {args.runs} runs each, medians")
        for name in commands:
            r = results[name]
            print(f"  {name:15s} {r['median']:.3f} s  (user {r['user']:.3f} s, "
                  f"system {r['system']:.3f} s)")
        ok = True
        for name, target in TARGETS.items():
            ratio = ours_median / results[name]["median"]
            verdict = "ok" if ratio <= target else "OVER"
            ok = ok and ratio <= target
            print(f"  quillmark / {name:12s} = {ratio:.3f}  (target <= {target:.2f}) {verdict}")
        # On a busy machine wall time says more about the neighbours than
        # about the programs; the processor time each one used does not.
        cpu = {n: results[n]["user"] + results[n]["system"] for n in commands}
        for name in TARGETS:
            print(f"  processor time quillmark / {name:12s} = "
                  f"{cpu['quillmark -md5'] / cpu[name]:.3f}")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
