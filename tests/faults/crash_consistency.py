#!/usr/bin/env python3
"""A large +regf killed at random moments leaves the store whole (PRAGMA
integrity_check), holding what `quillmark-reg query KEY /s` showed before that
run or what a finished import shows, never something between.

Files A and B give the same keys and names different data; each run imports
the one the store does not hold, killed somewhere within the time an import
takes (half of them near its end, some finish).
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

KEY = r"HKEY_CURRENT_USER\Software\QmCrash"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--keys", type=int, default=4000)
    ap.add_argument("--seed", type=int, default=20261206)
    opts = ap.parse_args()
    rnd, root = random.Random(opts.seed), tempfile.mkdtemp(prefix="qmcrash-")
    env = {k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")}
    env.update(PATH="/usr/bin:/bin", LANG="C")

    def machine(name):
        os.makedirs(os.path.join(root, name, "drive_c"))
        for gen in "AB":
            lines = ["REGEDIT4", ""]
            for k in range(opts.keys):
                lines += [f"[{KEY}\\Group{k // 100:03d}\\Key{k:05d}]"]
                lines += [f'"s{v}"="generation {gen} key {k} value {v}"' for v in range(6)]
                lines += [f'"d"=dword:{k * 7 + ord(gen):08x}',
                          '"b"=hex:' + ",".join(f"{(k + ord(gen) + i) & 255:02x}" for i in range(16)), ""]
            open(os.path.join(root, name, "drive_c", f"{gen}.reg"), "w").write("\r\n".join(lines))
        return dict(env, QUILLMARK_PREFIX=os.path.join(root, name))

    def start(env_m, gen):
        return subprocess.Popen([os.path.join(opts.bin_dir, "quillmark"), "+regf", f"C:\\{gen}.reg"],
                                env=env_m, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def state(env_m):
        q = subprocess.run([os.path.join(opts.bin_dir, "quillmark-reg"), "query", KEY, "/s"],
                           env=env_m, capture_output=True)
        return hashlib.sha256(q.stdout).hexdigest() if q.returncode == 0 else "absent"

    try:
        ref, expected = machine("reference"), {}
        for gen in "AB":  # B over A, timed, as the runs below import one over the other
            began = time.monotonic()
            out = start(ref, gen).communicate()[0]
            took = time.monotonic() - began
            expected[gen] = state(ref)
            if b"Succeeded" not in out:
                sys.exit(f"reference import {gen} failed: {out!r}")
        store, now, failures, outcomes = machine("machine"), "absent", 0, {}
        for run in range(1, opts.runs + 1):
            gen = "B" if now == expected["A"] else "A"
            delay = rnd.uniform(0, took * 1.1) if rnd.random() < 0.5 else rnd.uniform(took * 0.85, took * 1.15)
            p = start(store, gen)
            try:
                p.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                p.send_signal(signal.SIGKILL)
            out, err = p.communicate()
            killed = p.returncode == -signal.SIGKILL
            db = sqlite3.connect(os.path.join(store["QUILLMARK_PREFIX"], "registry.db"), timeout=30)
            check = [r[0] for r in db.execute("PRAGMA integrity_check")]
            db.close()
            after = state(store)
            outcome = ("killed, " if killed else "") + ("before" if after == now else "after"
                                                        if after == expected[gen] else "neither")
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            finished_wrong = not killed and (p.returncode or b"Succeeded" not in out or after == now)
            if check != ["ok"] or "neither" in outcome or finished_wrong:
                failures += 1
                print(f"run {run} ({delay:.3f} s, {gen}): {outcome}, integrity {check[:3]}, "
                      f"exit {p.returncode} {out!r} {err[-300:]!r}")
            if "neither" in outcome:
                break  # nothing later can be judged
            now = after
        print(f"{run} runs: {outcomes}; {failures} failed")
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
