#!/usr/bin/env python3
"""The README checker itself: an example that holds passes, and every kind of
wrong expectation fails it.

    check_readme_test.py BIN_DIR
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_readme.py")

SETUP = """<!-- readme-check: setup -->
```sh
export QUILLMARK_PREFIX="$(mktemp -d)"
mkdir -p "$QUILLMARK_PREFIX/drive_c"
cd "$QUILLMARK_PREFIX/drive_c"
```
"""

GOOD = """```console
$ quillmark -user =env EDITOR 'C:\\Tools\\ed.exe'
Succeeded in doing speicified operation(s)!
$ quillmark -x -read-reg 'HKEY_CURRENT_USER\\Environment' EDITOR; echo
C:\\Tools\\ed.exe
$ quillmark-reg query 'HKCU\\Environment' /v EDITOR

HKEY_CURRENT_USER\\Environment
    EDITOR    REG_SZ    C:\\Tools\\ed.exe

$ cat > note.txt <<'EOF'
> one
>
> two
> EOF
$ cat note.txt
one

two
```
"""

# Each case: a name, the README text, the checker's expected exit status.
CASES = [
    ("a true example passes", SETUP + GOOD, 0),
    ("a changed output line fails", SETUP + GOOD.replace("C:\\Tools\\ed.exe\n$ quillmark-reg",
                                                           "C:\\Tools\\vi.exe\n$ quillmark-reg"), 1),
    ("a missing output line fails", SETUP + GOOD.replace("Succeeded in doing speicified operation(s)!\n", ""), 1),
    ("an extra output line fails", SETUP + GOOD.replace("two\n```", "two\nthree\n```"), 1),
    ("a missing final line break fails", SETUP + """```console
$ printf 'no line break'
no line break
```
""", 1),
    ("a command that exits with nonzero fails", SETUP + """```console
$ quillmark -regr 'HKEY_CURRENT_USER\\Environment' TEMP > /dev/null
```
""", 1),
    ("an exit code shown with echo passes", SETUP + """```console
$ quillmark -regr 'HKEY_CURRENT_USER\\Environment' TEMP > /dev/null; echo "exit $?"
exit 1
```
""", 0),
    ("quillmark's own line ends are compared as they are", SETUP + """```console
$ quillmark -user =env A 1 | od -An -c | tr -s ' ' | tail -n 1
 e r a t i o n ( s ) ! \\n
```
""", 0),
    ("each block has its own machine", SETUP + """```console
$ quillmark -user =env ONLYHERE 1
Succeeded in doing speicified operation(s)!
```

```console
$ quillmark -user -env ONLYHERE
Error: Failed to do speicified operation(s)!
```
""", 0),
    ("the setup block is required", GOOD, 2),
    ("a README without examples is an error", SETUP, 2),
    ("a failing setup fails the example", """<!-- readme-check: setup -->
```sh
false
```
""" + GOOD, 1),
    ("a plain sh block is not run", SETUP + """```sh
$ quillmark -regr nothing
```
""" + GOOD, 0),
]


def main():
    bin_dir = sys.argv[1]
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for n, (name, text, want) in enumerate(CASES):
            path = os.path.join(tmp, "README-%d.md" % n)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            proc = subprocess.run([sys.executable, CHECKER, "--bin-dir", bin_dir, path],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if proc.returncode != want:
                failed += 1
                print("FAIL: %s: exit %d, expected %d\n%s"
                      % (name, proc.returncode, want, proc.stdout.decode(errors="replace")))
            else:
                print("ok: %s" % name)
    print("%d cases, %d failed" % (len(CASES), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
