#!/usr/bin/env python3
"""Runs the ```console examples of README.md and compares their output exactly.

    check_readme.py --bin-dir DIR README.md

README.md's "How the examples are checked" states the convention: "$ " starts
a command, "> " continues it, every other line is the expected output of the
command before it (standard output and error together; quillmark-reg's CR LF
compared as LF); each block runs in one bash on a machine of its own, after
the ```sh block that follows "<!-- readme-check: setup -->", in a clean
environment (PATH: DIR and the system's, HOME new, LANG=C); every command
must exit with 0.
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


def parse(lines):
    """(setup text, [(line, [[command, line, expected lines]]])."""
    setup, blocks, i = None, [], 0
    while i < len(lines):
        fence = re.match(r"^```(\S*)", lines[i])
        if not fence:
            i += 1
            continue
        start, body = i, []
        i += 1
        while i < len(lines) and not lines[i].startswith("```"):
            body.append(lines[i])
            i += 1
        i += 1
        if start > 0 and lines[start - 1].strip() == "<!-- readme-check: setup -->":
            setup = "\n".join(body)
        elif fence[1] == "console":
            commands = []
            for k, text in enumerate(body, start + 2):
                if text.startswith("$ "):
                    commands.append([text[2:], k, []])
                elif (text.startswith("> ") or text == ">") and commands and not commands[-1][2]:
                    commands[-1][0] += "\n" + text[2:]
                else:
                    commands[-1][2].append(text)
            blocks.append((start + 1, commands))
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
        want = "".join(e + "\n" for e in expected)
        if got != want:
            failures.append(f"line {line}: `{cmd}` printed something else:\n" + "".join(
                difflib.unified_diff(want.splitlines(True), got.splitlines(True), "README", "actual")))
        if status != "0":
            failures.append(f"line {line}: `{cmd}` exited with {status}")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("readme")
    opts = ap.parse_args()
    setup, blocks = parse(open(opts.readme, encoding="utf-8").read().split("\n"))
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
