#!/usr/bin/env python3
"""Faults and bad input, end to end, on the emulated machine.

    bad_input.py BIN_DIR [--keep] [--case NAME] [--list]

Each case of the table below sets up a fresh emulated machine (a prefix of
its own), runs the built quillmark once as a user would, and checks:

- the program did not crash (no signal, no sanitizer report);
- its result line or exit code says the operation failed;
- nothing the user had was lost or half-written: every file under the
  prefix and every row of the registry store are as they were before the
  run (no temporary files left, nothing created, nothing cut).

A few cases are controls just inside a limit: they must succeed, so that a
check which never fails shows up.

Exit code 0 when every case behaved as the table says, 1 otherwise.
"""

import argparse
import hashlib
import os
import random
import shutil
import sqlite3
import stat
import subprocess
import sys
import tempfile

FAILED = b"Error: Failed to do speicified operation(s)!"
SUCCEEDED = b"Succeeded in doing speicified operation(s)!"
RUN_TIMEOUT = 300
# Memory a run may use for a file with one 100 MB line: well under the line.
MAX_RSS_FOR_BIG_LINE_KB = 64 * 1024
NOBODY = 65534

# The limits the cases step over (the program's own, in its terms).
MAX_DIRECTORY = 263
MAX_SUBKEY = 32767
MAX_VALUE_NAME = 512
MAX_COMMAND_LINE = 779
MAX_LIST = 32766
VALUE_CAPACITY = 32767

KEEP_KEY = r"HKEY_CURRENT_USER\Software\Keep"


# Directories every prefix has; the machine makes them when they are missing.
SKELETON = {"prefix", os.path.join("prefix", "drive_c"), os.path.join("prefix", "drive_c", "windows"),
            os.path.join("prefix", "drive_c", "windows", "system32")}


def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


class Machine:
    """One case's emulated machine."""

    def __init__(self, root, bin_dir):
        self.root = root
        self.prefix = os.path.join(root, "prefix")
        self.drive = os.path.join(self.prefix, "drive_c")
        self.bin_dir = bin_dir
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C",
                    "HOME": root, "QUILLMARK_PREFIX": self.prefix}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        self.run_as_nobody = False

    def host(self, dos):
        assert dos[:3].upper() == "C:\\"
        return os.path.join(self.drive, *[p for p in dos[3:].split("\\") if p])

    def write(self, dos, data):
        path = self.host(dos)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def mkdir(self, dos):
        os.makedirs(self.host(dos), exist_ok=True)

    def quillmark(self, args, extra_env=None):
        env = dict(self.env)
        env.update(extra_env or {})
        cmd = [os.path.join(self.bin_dir, "quillmark")] + args
        if self.run_as_nobody:
            cmd = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] + cmd
        cwd = self.drive if os.path.isdir(self.drive) else self.root
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            child = subprocess.Popen(cmd, env=env, cwd=cwd, stdout=out, stderr=err)
            # wait4 gives this child's own peak memory.
            _, status, usage = os.wait4(child.pid, 0)
            child.returncode = os.waitstatus_to_exitcode(status)
            out.seek(0)
            err.seek(0)
            child.stdout, child.stderr = out.read(), err.read()
        child.maxrss_kb = usage.ru_maxrss
        return child

    def setup_registry(self, *commands):
        """Runs quillmark to put the starting values in place."""
        for args in commands:
            p = self.quillmark(list(args))
            if SUCCEEDED not in p.stdout:
                raise RuntimeError(f"setup {args!r} failed: {p.stdout!r} {p.stderr!r}")

    def snapshot(self):
        """Every file under the prefix (bytes, kind, mode) and every row of
        the registry store; the store's own files are compared by content."""
        files = {}
        for top, dirs, names in os.walk(self.root):
            for n in dirs + names:
                path = os.path.join(top, n)
                rel = os.path.relpath(path, self.root)
                if os.path.basename(path).startswith("registry.db") and os.path.isfile(path):
                    continue
                st = os.lstat(path)
                digest = ""
                if stat.S_ISREG(st.st_mode):
                    digest = file_digest(path)
                files[rel] = (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), digest)
        return {"files": files, "registry": self.registry_digest()}

    def registry_digest(self):
        db = os.path.join(self.prefix, "registry.db")
        if not os.path.exists(db):
            return "no store"
        if not os.path.isfile(db):
            return "store is not a file"
        try:
            con = sqlite3.connect(f"file:{db}?mode=ro", uri=True)
            try:
                h = hashlib.sha256()
                tables = [r[0] for r in con.execute(
                    "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")]
                for t in tables:
                    for row in sorted(con.execute(f'SELECT * FROM "{t}"'), key=repr):
                        h.update(repr((t, row)).encode())
                return h.hexdigest()
            finally:
                con.close()
        except sqlite3.DatabaseError:
            # Not a store SQLite can read: its bytes are what the user has.
            return "bytes " + file_digest(db)


class Case:
    def __init__(self, name, args, setup=None, winver=None, env=None, expect="failed",
                 check=None, nobody=False, keep_state=True):
        self.name = name
        self.args = args          # list, or a function of the machine giving one
        self.setup = setup        # function(machine)
        self.winver = winver
        self.env = env or {}
        self.expect = expect      # "failed" (result line), "exit" (nonzero exit), "succeeded"
        self.check = check        # function(machine, process) -> list of problems
        self.nobody = nobody
        self.keep_state = keep_state


def told(*words):
    """The run says on standard error which file it cannot use, and why."""
    def check(m, p):
        err = p.stderr.decode("latin-1")
        if all(w in err for w in words) and err.count("\n") == 1:
            return []
        return [f"standard error should name {words} in one line: {err!r}"]
    return check


# ---- Setups -----------------------------------------------------------------

def seed_keep(m):
    """A key with values a wrong cut or a stray write would change."""
    m.setup_registry(["+regv", KEEP_KEY, "list", r"C:\a;C:\b"],
                     ["+regv", KEEP_KEY, "other", "value"],
                     ["-user", "=env", "Path", r"C:\a"])
    m.mkdir(r"C:\tex\bin")


def prefix_under_file(m):
    os.makedirs(m.root, exist_ok=True)
    with open(os.path.join(m.root, "afile"), "wb") as f:
        f.write(b"a file, not a directory\n")
    m.env["QUILLMARK_PREFIX"] = os.path.join(m.root, "afile", "prefix")


def prefix_unwritable(m):
    os.makedirs(m.prefix)
    os.chmod(m.prefix, 0o555)
    make_reachable(m)


def prefix_read_only_store(m):
    seed_keep(m)
    fold_wal(m)
    for top, dirs, names in os.walk(m.prefix):
        for n in names:
            os.chmod(os.path.join(top, n), 0o444)
        for n in dirs:
            os.chmod(os.path.join(top, n), 0o555)
    os.chmod(m.prefix, 0o555)
    make_reachable(m)


def make_reachable(m):
    """Root writes anywhere, so as root the run is made as another user, who
    must reach the prefix and the program; any other user is held back by
    the modes themselves."""
    if os.geteuid() != 0:
        return
    m.run_as_nobody = True
    d = m.root
    while d not in ("/", ""):
        mode = stat.S_IMODE(os.stat(d).st_mode)
        if not mode & 0o001:
            os.chmod(d, mode | 0o005)
        d = os.path.dirname(d)


def fold_wal(m):
    """Moves the write-ahead log into registry.db, so its bytes are the store."""
    db = os.path.join(m.prefix, "registry.db")
    con = sqlite3.connect(db)
    con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    con.execute("PRAGMA journal_mode=DELETE")
    con.close()
    for suffix in ("-wal", "-shm"):
        if os.path.exists(db + suffix):
            os.remove(db + suffix)


def store_junk(m):
    os.makedirs(m.drive)
    rnd = random.Random(8)
    with open(os.path.join(m.prefix, "registry.db"), "wb") as f:
        f.write(bytes(rnd.randrange(256) for _ in range(16384)))


def store_truncated(m):
    seed_keep(m)
    fold_wal(m)
    db = os.path.join(m.prefix, "registry.db")
    with open(db, "r+b") as f:
        f.truncate(os.path.getsize(db) // 2)


def store_header_damaged(m):
    seed_keep(m)
    fold_wal(m)
    with open(os.path.join(m.prefix, "registry.db"), "r+b") as f:
        f.write(b"\0" * 32)


def store_is_directory(m):
    os.makedirs(os.path.join(m.prefix, "registry.db"))
    os.makedirs(m.drive)


def with_directory(dos):
    def setup(m):
        seed_keep(m)
        m.mkdir(dos)
        m.write(dos + r"\inside.txt", b"kept\r\n")
    return setup


def read_only_file(dos, data):
    def setup(m):
        seed_keep(m)
        m.write(dos, data)
        os.chmod(m.host(dos), 0o444)
    return setup


AUTOEXEC = b'@echo off\r\nset Path="C:\\TEX\\BIN;%Path%"\r\nwin\r\n'
CONFIG = b"DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nFILES=40\r\n"


def reg_file(dos, data):
    def setup(m):
        seed_keep(m)
        m.write(dos, data)
    return setup


def junk_bytes():
    rnd = random.Random(1)
    return bytes(rnd.randrange(256) for _ in range(65536))


def utf16(text):
    return text.encode("utf-16-le")


# An unpaired high surrogate in the key line: nothing of the file can be read.
BAD_UTF16_FIRST = (b"\xff\xfe" + utf16("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER"
                                        "\\Software\\Keep\\U") + b"\x00\xd8" +
                   utf16("]\r\n\"a\"=\"x\"\r\n"))
# A good value, an unpaired surrogate in the next one, then one more value.
BAD_UTF16_MIDDLE = (b"\xff\xfe" + utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                                         "[HKEY_CURRENT_USER\\Software\\Keep\\M]\r\n\"a\"=\"x\"\r\n"
                                         "\"b\"=\"") + b"\x00\xdc" +
                    utf16("\"\r\n\"c\"=\"after\"\r\n"))


def big_line_file(m):
    seed_keep(m)
    path = m.host(r"C:\big.reg")
    with open(path, "wb") as f:
        f.write(b"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep\\Big]\r\n\"before\"=\"1\"\r\n\"big\"=\"")
        chunk = b"x" * (1 << 20)
        for _ in range(100):
            f.write(chunk)
        f.write(b"\"\r\n\"after\"=\"2\"\r\n")


def md5_file(length):
    """A relative file name of `length` characters that is one base name to
    the program (only a backslash separates there) and a path of directories
    of 100 characters to the host."""
    name = ("a" * 100 + "/") * (length // 101) + "a" * (length % 101)
    assert len(name) == length and not name.endswith("/")
    return name


def md5_setup(name):
    def setup(m):
        seed_keep(m)
        host = os.path.join(m.host(r"C:\s"), *name.split("/"))
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(b"stamp me\r\n")
    return setup


def recording_interpreter(m):
    """ComSpec: a script that notes each command line it is given."""
    seed_keep(m)
    script = os.path.join(m.root, "interp.sh")
    with open(script, "w") as f:
        f.write('#!/bin/sh\nprintf "%s\\n" "$2" >> "$(dirname "$0")/ran.txt"\n')
    os.chmod(script, 0o755)
    m.env["ComSpec"] = script


def ran(expected):
    def check(m, p):
        path = os.path.join(m.root, "ran.txt")
        did = os.path.exists(path)
        return [] if did == expected else [
            "the command line was run" if did else "the command line was not run"]
    return check


def long_list_value(m):
    seed_keep(m)
    m.setup_registry(["+regv", KEEP_KEY, "huge", "C:\\" + "h" * (VALUE_CAPACITY + 3000)])


def list_near_limit(m):
    seed_keep(m)
    m.setup_registry(["-user", "=env", "Path", "C:\\" + "p" * (MAX_LIST - 8)])


def value_stored_whole(key, name, length):
    def check(m, p):
        q = subprocess.run([os.path.join(m.bin_dir, "quillmark-reg"), "query", key, "/v", name],
                           env=m.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        text = q.stdout.decode("latin-1")
        if SUCCEEDED in p.stdout and ("v" * length) not in text:
            return [f"success reported but {name} does not hold all {length} characters"]
        return []
    return check


def big_line_check(m, p):
    problems = []
    if p.maxrss_kb > MAX_RSS_FOR_BIG_LINE_KB:
        problems.append(f"a 100 MB line took {p.maxrss_kb} kB of memory")
    q = subprocess.run([os.path.join(m.bin_dir, "quillmark-reg"), "query", KEEP_KEY + r"\Big"],
                       env=m.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = q.stdout.decode("latin-1")
    if "before" not in out or "after" not in out:
        problems.append("the lines around the long one were not imported")
    if "big" in out:
        problems.append("the 100 MB value was written (cut)")
    return problems


def middle_utf16_check(m, p):
    q = subprocess.run([os.path.join(m.bin_dir, "quillmark-reg"), "query", KEEP_KEY + r"\M"],
                       env=m.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = q.stdout.decode("latin-1")
    problems = [] if "    a    REG_SZ    x" in out else ["the value before the bad line was not imported"]
    if "    b    " in out:
        problems.append("the value with the unpaired surrogate was written")
    return problems


def command_words(length):
    """-run words that join to a command line of exactly `length` characters."""
    words = ["prog"] + ["w" * 9] * ((length - 4) // 10 - 1)
    rest = length - len(" ".join(words)) - 1
    words.append("z" * rest)
    assert len(" ".join(words)) == length
    return words


LONG_DIR = "C:\\" + "d" * (MAX_DIRECTORY - 3 + 1)
LONG_SUBKEY = "Software\\Keep\\" + "k" * (MAX_SUBKEY + 10)

CASES = [
    # The prefix and the store.
    Case("prefix-under-a-file", ["+regk", KEEP_KEY + r"\New"], setup=prefix_under_file, check=told("cannot be used: Not a directory")),
    Case("prefix-unwritable", ["+regk", KEEP_KEY + r"\New"], setup=prefix_unwritable),
    Case("store-read-only", ["-user", "=env", "NEWVAR", "x"], setup=prefix_read_only_store),
    Case("store-random-bytes", ["+regv", KEEP_KEY, "v", "x"], setup=store_junk, check=told("registry.db cannot be used: file is not a database")),
    Case("store-truncated", ["+regv", KEEP_KEY, "v", "x"], setup=store_truncated),
    Case("store-header-damaged", ["-regk", KEEP_KEY], setup=store_header_damaged),
    Case("store-is-a-directory", ["+regk", KEEP_KEY], setup=store_is_directory, check=told("registry.db cannot be used:")),
    Case("store-random-bytes-read", ["-read-reg", KEEP_KEY, "list"], setup=store_junk, check=told("registry.db cannot be used: file is not a database")),
    # A directory where a file is expected.
    Case("md5-of-a-directory", ["-md5", r"C:\dir"], setup=with_directory(r"C:\dir")),
    Case("import-a-directory", ["+regf", r"C:\dir"], setup=with_directory(r"C:\dir")),
    Case("removal-from-a-directory", ["-regf", r"C:\dir"], setup=with_directory(r"C:\dir")),
    Case("autoexec-is-a-directory-add", ["+path", r"C:\tex\bin"], winver="win98",
         setup=with_directory(r"C:\autoexec.bat")),
    Case("autoexec-is-a-directory-remove", ["-path", r"C:\tex\bin"], winver="win98",
         env={"Path": r"C:\WINDOWS"}, setup=with_directory(r"C:\autoexec.bat")),
    Case("config-is-a-directory", ["-env-size", "4096"], winver="win98",
         setup=with_directory(r"C:\CONFIG.SYS")),
    # Read-only startup files.
    Case("autoexec-read-only-add", ["+path", r"C:\tex\bin"], winver="win98",
         setup=read_only_file(r"C:\AUTOEXEC.BAT", AUTOEXEC)),
    Case("autoexec-read-only-remove", ["-path", r"C:\TEX\BIN"], winver="win98",
         env={"Path": r"C:\WINDOWS"}, setup=read_only_file(r"C:\AUTOEXEC.BAT", AUTOEXEC)),
    Case("config-read-only", ["-env-size", "4096"], winver="win98",
         setup=read_only_file(r"C:\CONFIG.SYS", CONFIG)),
    # Registration files that are not what they claim.
    Case("import-binary-junk", ["+regf", r"C:\junk.reg"], setup=reg_file(r"C:\junk.reg", junk_bytes())),
    Case("removal-binary-junk", ["-regf", r"C:\junk.reg"],
         setup=reg_file(r"C:\junk.reg", junk_bytes())),
    Case("import-invalid-utf16-first-key", ["+regf", r"C:\bad16.reg"],
         setup=reg_file(r"C:\bad16.reg", BAD_UTF16_FIRST)),
    Case("import-invalid-utf16-middle", ["+regf", r"C:\bad16.reg"],
         setup=reg_file(r"C:\bad16.reg", BAD_UTF16_MIDDLE), keep_state=False,
         check=middle_utf16_check),
    Case("import-100mb-line", ["+regf", r"C:\big.reg"], setup=big_line_file, keep_state=False,
         check=big_line_check),
    # Arguments over every limit.
    Case("path-directory-264", ["-user", "+path", LONG_DIR], setup=seed_keep),
    Case("path-remove-directory-264", ["-user", "-path", LONG_DIR], setup=seed_keep),
    Case("regp-directory-264", ["+regp", KEEP_KEY, "list", LONG_DIR], setup=seed_keep),
    Case("path-several-one-too-long", ["-user", "+path", r"C:\tex\bin;" + LONG_DIR],
         setup=seed_keep),
    Case("path-list-over-limit", ["-user", "-end", "+path", r"C:\tex\bin"], setup=list_near_limit),
    Case("regp-value-over-read-capacity", ["+regp", KEEP_KEY, "huge", r"C:\tex\bin"],
         setup=long_list_value),
    Case("create-subkey-32777", ["+regk", "HKEY_CURRENT_USER\\" + LONG_SUBKEY], setup=seed_keep),
    Case("delete-subkey-32777", ["-regk", "HKEY_CURRENT_USER\\" + LONG_SUBKEY], setup=seed_keep),
    Case("write-subkey-32777", ["+regv", "HKEY_CURRENT_USER\\" + LONG_SUBKEY, "v", "x"],
         setup=seed_keep),
    Case("read-subkey-32777", ["-read-reg", "HKEY_CURRENT_USER\\" + LONG_SUBKEY, "v"],
         setup=seed_keep),
    Case("md5-value-name-513", ["-md5", "C:\\s\\" + md5_file(MAX_VALUE_NAME - 4 + 1)],
         setup=md5_setup(md5_file(MAX_VALUE_NAME - 4 + 1))),
    Case("md5-value-name-512", ["-md5", "C:\\s\\" + md5_file(MAX_VALUE_NAME - 4)],
         setup=md5_setup(md5_file(MAX_VALUE_NAME - 4)), expect="succeeded", keep_state=False),
    Case("run-line-780", ["-run"] + command_words(MAX_COMMAND_LINE + 1),
         setup=recording_interpreter, expect="exit", check=ran(False)),
    Case("run-line-779", ["-run"] + command_words(MAX_COMMAND_LINE),
         setup=recording_interpreter, expect="exit0", keep_state=False, check=ran(True)),
    Case("read-value-over-capacity", ["-read-reg", KEEP_KEY, "huge"], setup=long_list_value),
    Case("autoexec-set-line-over-263", ["+path", "C:\\" + "t" * 260], winver="win98",
         setup=reg_file(r"C:\AUTOEXEC.BAT", AUTOEXEC)),
    Case("config-first-line-over-260", ["-env-size", "4096"], winver="win98",
         setup=reg_file(r"C:\CONFIG.SYS", b"REM " + b"c" * 300 + b"\r\nFILES=40\r\n")),
    Case("write-value-40000", ["+regv", KEEP_KEY, "long", "v" * 40000], setup=seed_keep,
         expect="any", keep_state=False, check=value_stored_whole(KEEP_KEY, "long", 40000)),
    Case("env-value-40000", ["-user", "=env", "LONGVAR", "v" * 40000], setup=seed_keep,
         expect="any", keep_state=False,
         check=value_stored_whole(r"HKEY_CURRENT_USER\Environment", "LONGVAR", 40000)),
]


def run_case(case, bin_dir, keep):
    root = tempfile.mkdtemp(prefix=f"qmfault-{case.name}-")
    m = Machine(root, bin_dir)
    problems = []
    try:
        if case.winver:
            m.env["QUILLMARK_WINVER"] = case.winver
        m.env.update(case.env)
        if case.setup:
            case.setup(m)
        os.makedirs(m.root, exist_ok=True)
        before = m.snapshot()
        args = case.args(m) if callable(case.args) else case.args
        p = m.quillmark(args)
        after = m.snapshot()

        if p.returncode < 0 or p.returncode >= 128:
            problems.append(f"crashed (exit {p.returncode})")
        if b"Sanitizer" in p.stderr or b"runtime error:" in p.stderr:
            problems.append("sanitizer report: " + p.stderr.decode("latin-1")[-2000:])

        said_failed = FAILED in p.stdout and SUCCEEDED not in p.stdout
        if case.expect == "failed":
            ok = said_failed
            want = "a failure line"
        elif case.expect == "exit":
            ok = p.returncode != 0
            want = "a nonzero exit code"
        elif case.expect == "exit0":
            ok = p.returncode == 0
            want = "exit code 0"
        elif case.expect == "succeeded":
            ok = SUCCEEDED in p.stdout and FAILED not in p.stdout
            want = "a success line"
        else:
            ok, want = True, ""
        if not ok:
            problems.append(f"expected {want}; exit {p.returncode}, output {p.stdout[:300]!r}")

        if case.keep_state:
            for rel in sorted(set(before["files"]) | set(after["files"])):
                b, a = before["files"].get(rel), after["files"].get(rel)
                if b is None and rel in SKELETON and a[0] == stat.S_IFDIR:
                    continue
                if b != a:
                    what = "appeared" if b is None else "disappeared" if a is None else "changed"
                    problems.append(f"{rel} {what}")
            if before["registry"] != after["registry"]:
                problems.append("the registry changed")
        if case.check:
            problems.extend(case.check(m, p))
    except Exception as e:  # a broken setup is a failed case, not a crash of the table
        problems.append(f"{type(e).__name__}: {e}")
    finally:
        # Directories made read-only for the case must be writable to go.
        for top, dirs, _ in os.walk(root):
            for d in dirs:
                try:
                    os.chmod(os.path.join(top, d), 0o755)
                except OSError:
                    pass
        os.chmod(root, 0o755)
        if problems and keep:
            print(f"  kept: {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--keep", action="store_true", help="keep the machine of a failed case")
    ap.add_argument("--case", action="append", help="run only this case (repeatable)")
    ap.add_argument("--list", action="store_true")
    opts = ap.parse_args()
    if opts.list:
        for c in CASES:
            print(c.name)
        return 0
    bin_dir = os.path.abspath(opts.bin_dir)
    failed = 0
    for case in CASES:
        if opts.case and case.name not in opts.case:
            continue
        problems = run_case(case, bin_dir, opts.keep)
        if problems:
            failed += 1
            print(f"FAIL {case.name}")
            for p in problems:
                print(f"  {p}")
        else:
            print(f"ok   {case.name}")
    total = len(opts.case) if opts.case else len(CASES)
    print(f"{total} cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
