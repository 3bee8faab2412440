#!/usr/bin/env python3
"""A large +regf killed at random moments leaves the store whole, holding
the state before that run or the state after it, never something between.

    crash_consistency.py BIN_DIR [--runs N] [--seed S] [--keys K] [--keep]

Two registration files write the same keys and value names with different
data (A and B). Each run imports the file the store does not hold yet and is
killed with SIGKILL at a random moment within the time a whole import takes
(some runs finish first). After each run the store must pass
PRAGMA integrity_check, and `quillmark-reg query KEY /s` must print exactly
what it printed before the run or exactly what a finished import of that
file prints. Exit code 0 when every run did so.
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
VALUES_PER_KEY = 8


def make_reg(path, keys, generation):
    """A registration file of `keys` keys, each with strings, a dword and a
    binary value whose data depend on `generation`."""
    lines = ["REGEDIT4", ""]
    for k in range(keys):
        lines.append(f"[{KEY}\\Group{k // 100:03d}\\Key{k:05d}]")
        for v in range(VALUES_PER_KEY - 2):
            lines.append(f'"s{v}"="generation {generation} key {k} value {v} C:\\\\Tools\\\\bin"')
        lines.append(f'"d"=dword:{(k * 7 + generation) & 0xFFFFFFFF:08x}')
        lines.append('"b"=hex:' + ",".join(f"{(k + generation + i) & 0xFF:02x}" for i in range(16)))
        lines.append("")
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


class Store:
    def __init__(self, bin_dir, prefix):
        self.bin_dir = bin_dir
        self.prefix = prefix
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C",
                    "QUILLMARK_PREFIX": prefix}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]

    def start_import(self, dos_path):
        return subprocess.Popen([os.path.join(self.bin_dir, "quillmark"), "+regf", dos_path],
                                env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def digest(self):
        """What quillmark-reg shows under KEY, as a digest ("absent" when the
        key is not there)."""
        q = subprocess.run([os.path.join(self.bin_dir, "quillmark-reg"), "query", KEY, "/s"],
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if q.returncode != 0:
            return "absent"
        return hashlib.sha256(q.stdout).hexdigest()

    def integrity(self):
        con = sqlite3.connect(os.path.join(self.prefix, "registry.db"), timeout=30)
        try:
            rows = [r[0] for r in con.execute("PRAGMA integrity_check")]
        finally:
            con.close()
        return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--seed", type=int, default=20261206)
    ap.add_argument("--keys", type=int, default=4000)
    ap.add_argument("--keep", action="store_true")
    opts = ap.parse_args()
    bin_dir = os.path.abspath(opts.bin_dir)
    rnd = random.Random(opts.seed)

    root = tempfile.mkdtemp(prefix="qmcrash-")
    ok = False
    try:
        # The state each file gives, from finished imports on a machine of
        # its own: A on a new machine, then B over it, timed, as the runs
        # below are (each imports over the other file's state).
        ref = Store(bin_dir, os.path.join(root, "reference"))
        os.makedirs(os.path.join(ref.prefix, "drive_c"))
        drive_files = {}
        expected = {}
        took = 0.0
        for gen in ("A", "B"):
            drive_files[gen] = os.path.join(ref.prefix, "drive_c", f"crash{gen}.reg")
            make_reg(drive_files[gen], opts.keys, ord(gen))
            started = time.monotonic()
            p = ref.start_import(rf"C:\crash{gen}.reg")
            out, err = p.communicate()
            took = time.monotonic() - started
            if p.returncode != 0 or b"Succeeded" not in out:
                print(f"reference import {gen} failed: {p.returncode} {out!r} {err!r}")
                return 1
            expected[gen] = ref.digest()
            print(f"reference import {gen}: {opts.keys} keys, "
                  f"{opts.keys * VALUES_PER_KEY} values, {took:.2f} s")
        if expected["A"] == expected["B"]:
            print("the two files give the same state; the test could not tell them apart")
            return 1
        # Kill anywhere within the time an import takes, or around its end.
        def moment():
            if rnd.random() < 0.5:
                return rnd.uniform(0, took * 1.1)
            return rnd.uniform(took * 0.85, took * 1.15)

        store = Store(bin_dir, os.path.join(root, "machine"))
        os.makedirs(os.path.join(store.prefix, "drive_c"))
        for gen, path in drive_files.items():
            shutil.copy(path, os.path.join(store.prefix, "drive_c", f"crash{gen}.reg"))
        state = "absent"
        names = {"absent": "absent", expected["A"]: "A", expected["B"]: "B"}
        counts = {"killed, state before": 0, "killed, state after": 0, "finished": 0}
        failures = 0
        for run in range(1, opts.runs + 1):
            target = "B" if state == expected["A"] else "A"
            delay = moment()
            p = store.start_import(rf"C:\crash{target}.reg")
            try:
                p.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                p.send_signal(signal.SIGKILL)
            out, err = p.communicate()
            killed = p.returncode == -signal.SIGKILL

            problems = []
            if not killed and (p.returncode != 0 or b"Succeeded" not in out):
                problems.append(f"the run ended with {p.returncode}: {out!r} {err[-500:]!r}")
            check = store.integrity()
            if check != ["ok"]:
                problems.append(f"integrity_check: {check[:5]}")
            now = store.digest()
            if now == state:
                outcome = "killed, state before" if killed else "finished"
                if not killed:
                    problems.append("a finished import left the state as it was")
            elif now == expected[target]:
                outcome = "killed, state after" if killed else "finished"
            else:
                outcome = "neither"
                problems.append(f"the store holds neither the state before ({names.get(state)}) "
                                f"nor the one after ({target})")
            if outcome in counts:
                counts[outcome] += 1
            if problems:
                failures += 1
                print(f"run {run}: {'killed' if killed else 'finished'} after {delay:.3f} s "
                      f"importing {target}:")
                for pr in problems:
                    print(f"  {pr}")
            if now in names:
                state = now
            else:
                break  # nothing later can be judged against a state that is neither
        print(f"{run} runs (seed {opts.seed}): " +
              ", ".join(f"{v} {k}" for k, v in counts.items()) + f"; {failures} failed")
        ok = failures == 0
        return 0 if ok else 1
    finally:
        if ok or not opts.keep:
            shutil.rmtree(root, ignore_errors=True)
        else:
            print(f"kept: {root}")


if __name__ == "__main__":
    sys.exit(main())
