#!/usr/bin/env python3
"""Runs the ```console examples of README.md and compares their output exactly.

The conventions are README.md's "How the examples are checked"; besides, a
"> " line right after a command continues it, quillmark-reg's CR LF is
compared as LF, and the setup is the ```sh block after "<!-- readme-check: setup -->".
"""

import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = "\x1eREADME-CHECK"  # ends each command's output: a byte no example prints
BLOCK = re.compile(r"^(<!-- readme-check: setup -->\n)?```(\S*)\n(.*?)^```", re.M | re.S)
# "$ " and its "> " continuation lines, then the output: every line up to the next "$ ".
COMMAND = re.compile(r"^\$ (.*(?:\n>(?: .*)?$)*)\n((?:(?!\$ ).*\n)*)", re.M)


def parse(text):
    """(setup text, [(line, [[command, line, expected output]]])."""
    setup, blocks = None, []
    for b in BLOCK.finditer(text):
        line = text.count("\n", 0, b.start(3)) + 1
        if b[1]:
            setup = b[3]
        elif b[2] == "console":
            commands = [[re.sub(r"\n> ?", "\n", c[1]), line + b[3].count("\n", 0, c.start()), c[2]]
                        for c in COMMAND.finditer(b[3])]
            blocks.append((line - 1, commands))
    return setup, blocks


def run_block(setup, commands, bin_dir):
    work = tempfile.mkdtemp(prefix="readme-check-")
    os.mkdir(os.path.join(work, "home"))
    script = ["exec 2>&1", setup, f"printf '{MARK} %d\\036' $?"]
    for cmd, _, _ in commands:
        script += [cmd, f"printf '{MARK} %d\\036' $?"]
    env = {"PATH": f"{bin_dir}:/usr/local/bin:/usr/bin:/bin", "HOME": os.path.join(work, "home"),
           "LANG": "C", "LC_ALL": "C", "TMPDIR": os.path.join(work, "home")}
    try:
        out = subprocess.run(["bash", "--norc", "--noprofile"], input="\n".join(script).encode(),
                             capture_output=True, cwd=work, env=env, timeout=120).stdout
    finally:
        shutil.rmtree(work, ignore_errors=True)
    pieces = re.split(re.escape(MARK) + r" (-?\d+)\x1e", out.decode("utf-8", "surrogateescape"))
    if len(pieces) < 3 or pieces[1] != "0":
        return ["the setup block failed:\n" + pieces[0]]
    failures = []
    for n, (cmd, line, expected) in enumerate(commands):
        if 2 * n + 4 > len(pieces):
            return failures + [f"line {line}: `{cmd}` never finished"]
        got, status = pieces[2 * n + 2], pieces[2 * n + 3]
        if cmd.startswith("quillmark-reg "):
            got = got.replace("\r\n", "\n")
        if got != expected:
            failures.append(f"line {line}: `{cmd}` printed something else:\n" + "".join(
                difflib.unified_diff(expected.splitlines(True), got.splitlines(True), "README", "actual")))
        if status != "0":
            failures.append(f"line {line}: `{cmd}` exited with {status}")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("readme")
    opts = ap.parse_args()
    setup, blocks = parse(open(opts.readme, encoding="utf-8").read())
    if setup is None or not blocks:
        print("no setup block or no example")
        return 2
    failed = 0
    for line, commands in blocks:
        failures = run_block(setup, commands, os.path.abspath(opts.bin_dir))
        failed += bool(failures)
        print(f"{'FAIL' if failures else 'ok'}: the example at line {line} ({len(commands)} commands)"
              + "".join("\n  " + f.replace("\n", "\n  ") for f in failures))
    print(f"{len(blocks)} examples: {len(blocks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
