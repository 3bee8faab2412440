#!/usr/bin/env python3
"""Runs the console examples of README.md and compares their output exactly.

    check_readme.py --bin-dir DIR [--keep] [--only N] README.md

The convention (README.md, "How the examples are checked", says the same):

- Every fenced block opened with ```console is an example. Lines that start
  with "$ " are commands; a following line that starts with "> " (or is ">"
  alone) continues the command (the "> " is dropped, the line break kept). Every other line is
  expected output of the command before it, byte for byte; a block's output
  ends where the next command or the block ends.
- Each block runs on a machine of its own: the commands of the setup block
  (the ```sh block right after the comment "<!-- readme-check: setup -->")
  run first, then the block's commands one after another in one bash, so
  that cd and export carry over from one command to the next within the
  block, never into the next block.
- The environment is clean: PATH is DIR (quillmark, quillmark-reg) and the
  system directories, HOME a new empty directory, LANG=C. Nothing of the
  caller's QUILLMARK_*, ComSpec, windir or Wine variables gets in.
- A command's output is its standard output and standard error together.
  quillmark-reg ends its lines with CR LF, as reg.exe does: the output of a
  command line that begins with "quillmark-reg" is compared after every
  CR LF is made LF. Everything else is compared as it is.
  Every command line must exit with 0; an example shows another exit code by
  printing it (echo $?), which is then part of the expected output.

Other fenced blocks (```sh, plain ```) are not run. Exit status: 0 when every
example passed, 1 when one failed (each failure is shown with a diff), 2 when
the README cannot be read or holds no example.
"""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

SETUP_MARK = "<!-- readme-check: setup -->"
# Separates the output of one command from the next; never printed by an
# example: a byte no example's text contains, a tag and the exit status.
MARK = "\x1eREADME-CHECK"
MARK_RE = re.compile(re.escape(MARK) + r" (-?\d+) (\d+)\x1e")
TIMEOUT_SECONDS = 120
# Ends its lines with CR LF, as reg.exe does; a command line that begins
# with it is compared after CR LF is made LF.
REG_TOOL = "quillmark-reg"


class Command:
    def __init__(self, line_no, text):
        self.line_no = line_no  # 1-based, in the README
        self.text = text
        self.expected = []


class Block:
    def __init__(self, line_no):
        self.line_no = line_no
        self.commands = []


def parse(lines):
    """Returns (setup commands text, [Block]); raises ValueError on a bad block."""
    setup = None
    blocks = []
    i = 0
    want_setup = False
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if stripped == SETUP_MARK:
            want_setup = True
            i += 1
            continue
        fence = re.match(r"^(```+)\s*(\S*)", line)
        if not fence:
            if stripped:
                want_setup = False
            i += 1
            continue
        ticks, info = fence.group(1), fence.group(2)
        start = i
        i += 1
        body = []
        while i < len(lines) and not lines[i].startswith(ticks):
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise ValueError("line %d: block never closed" % (start + 1))
        i += 1  # the closing fence
        if want_setup:
            if info != "sh":
                raise ValueError("line %d: the setup block must be a ```sh block" % (start + 1))
            setup = "\n".join(body) + "\n"
            want_setup = False
            continue
        if info != "console":
            continue
        block = Block(start + 1)
        for k, text in enumerate(body):
            no = start + 2 + k
            if text.startswith("$ "):
                block.commands.append(Command(no, text[2:]))
            elif ((text.startswith("> ") or text == ">") and block.commands
                  and not block.commands[-1].expected):
                block.commands[-1].text += "\n" + text[2:]
            elif not block.commands:
                raise ValueError("line %d: output before the first command of the block" % no)
            else:
                block.commands[-1].expected.append(text)
        if not block.commands:
            raise ValueError("line %d: a console block without a command" % block.line_no)
        blocks.append(block)
    return setup, blocks


def mark(tag):
    """The shell line that prints the mark of a command: its tag and $?."""
    return "printf '\\036README-CHECK %d %%d\\036' $?" % tag


def script_for(setup, block):
    # The setup's own output is not compared (it is not shown in the README),
    # but it must succeed.
    parts = ["exec 2>&1", setup, mark(-1)]
    for n, cmd in enumerate(block.commands):
        parts += [cmd.text, mark(n)]
    return "\n".join(parts) + "\n"


def clean_environment(bin_dir, home):
    env = {
        "PATH": os.pathsep.join([bin_dir, "/usr/local/bin", "/usr/bin", "/bin"]),
        "HOME": home,
        "LANG": "C",
        "LC_ALL": "C",
        "TMPDIR": home,
    }
    return env


def run_block(setup, block, bin_dir, keep):
    work = tempfile.mkdtemp(prefix="readme-check-")
    home = os.path.join(work, "home")
    os.mkdir(home)
    try:
        proc = subprocess.run(["bash", "--norc", "--noprofile"],
                              input=script_for(setup, block).encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              cwd=work, env=clean_environment(bin_dir, home),
                              timeout=TIMEOUT_SECONDS)
        out = proc.stdout.decode("utf-8", "surrogateescape")
        failures = []
        # [text, tag, status, text, tag, status, ..., text after the last mark]:
        # the text before a mark is the output of the command it is tagged with.
        pieces = MARK_RE.split(out)
        results = {}
        for k in range(0, len(pieces) - 1, 3):
            results[int(pieces[k + 1])] = (int(pieces[k + 2]), pieces[k])
        setup_out = results.get(-1, (0, pieces[0]))[1]
        if -1 not in results or results[-1][0] != 0:
            failures.append("the setup block failed:\n" + setup_out)
            return failures, work
        # The output of command n is the text between the mark before it and
        # its own mark.
        for n, cmd in enumerate(block.commands):
            if n not in results:
                failures.append("line %d: `%s` never finished (the shell ended after the "
                                "command before it)" % (cmd.line_no, cmd.text))
                break
            status, got = results[n]
            if cmd.text.startswith(REG_TOOL + " "):
                got = got.replace("\r\n", "\n")
            want = "".join(e + "\n" for e in cmd.expected)
            if got != want:
                diff = "".join(difflib.unified_diff(
                    want.splitlines(True), got.splitlines(True), "README", "actual"))
                if got and not got.endswith("\n"):
                    diff += "\n(the actual output does not end with a line break)\n"
                failures.append("line %d: `%s` printed something else:\n%s"
                                % (cmd.line_no, cmd.text, diff))
            if status != 0:
                failures.append("line %d: `%s` exited with %d" % (cmd.line_no, cmd.text, status))
        return failures, work
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--keep", action="store_true", help="keep each block's machine")
    ap.add_argument("--only", type=int, help="run only the block that starts on this line")
    ap.add_argument("readme")
    args = ap.parse_args()
    bin_dir = os.path.abspath(args.bin_dir)
    for tool in ("quillmark", "quillmark-reg"):
        if not os.access(os.path.join(bin_dir, tool), os.X_OK):
            print("check_readme: %s is not in %s" % (tool, bin_dir))
            return 2
    try:
        with open(args.readme, encoding="utf-8") as f:
            lines = f.read().split("\n")
        setup, blocks = parse(lines)
    except (OSError, ValueError) as e:
        print("check_readme: %s: %s" % (args.readme, e))
        return 2
    if setup is None:
        print("check_readme: %s: no setup block (%s)" % (args.readme, SETUP_MARK))
        return 2
    if not blocks:
        print("check_readme: %s: no console example" % args.readme)
        return 2
    if args.only:
        blocks = [b for b in blocks if b.line_no == args.only]
    failed = 0
    commands = 0
    for block in blocks:
        commands += len(block.commands)
        failures, work = run_block(setup, block, bin_dir, args.keep)
        if failures:
            failed += 1
            print("FAIL: the example at line %d%s" % (block.line_no,
                  " (kept in %s)" % work if args.keep else ""))
            for f in failures:
                print("  " + f.replace("\n", "\n  "))
        else:
            print("ok: the example at line %d (%d commands)" % (block.line_no, len(block.commands)))
    print("%d examples, %d commands: %d passed, %d failed"
          % (len(blocks), commands, len(blocks) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
