#!/usr/bin/env python3
"""Faults and bad input, end to end, on fresh emulated machines.

    bad_input.py BIN_DIR [--case NAME]

Each case sets up a machine, runs quillmark once and checks that it did not
crash (no signal, no sanitizer report), that its result line (or exit code)
says what the table says, and -- unless the case says otherwise -- that every
file under the machine and every row of its registry store is as before:
nothing lost, cut, half-written or left behind. Controls just inside a limit
must succeed, so that a check which never fails shows up.
"""

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
MAX_DIRECTORY, MAX_VALUE_NAME, VALUE_CAPACITY = 263, 512, 32767
KEEP = r"HKEY_CURRENT_USER\Software\Keep"
SKELETON = {"prefix", "prefix/drive_c", "prefix/drive_c/windows", "prefix/drive_c/windows/system32"}
BIN = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""


class Machine:
    def __init__(self, root):
        self.root, self.prefix = root, os.path.join(root, "prefix")
        self.env = {"PATH": "/usr/bin:/bin", "LANG": "C", "HOME": root, "QUILLMARK_PREFIX": self.prefix}
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        self.as_nobody = False

    def host(self, dos):
        return os.path.join(self.prefix, "drive_c", *[p for p in dos[3:].split("\\") if p])

    def write(self, dos, data):
        os.makedirs(os.path.dirname(self.host(dos)), exist_ok=True)
        open(self.host(dos), "wb").write(data)

    def run(self, args, tool="quillmark"):
        cmd = [os.path.join(BIN, tool)] + args
        if self.as_nobody:  # root writes anywhere: read-only cases run as nobody
            cmd = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + cmd
        drive = os.path.join(self.prefix, "drive_c")
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            child = subprocess.Popen(cmd, env=self.env, cwd=drive if os.path.isdir(drive) else self.root,
                                     stdout=out, stderr=err)
            _, status, usage = os.wait4(child.pid, 0)  # the child's own peak memory
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(cmd, os.waitstatus_to_exitcode(status), out.read(),
                                               err.read()), usage.ru_maxrss

    def setup(self, *commands):
        for args in commands:
            if SUCCEEDED not in self.run(list(args))[0].stdout:
                raise RuntimeError(f"setup {args} failed")

    def snapshot(self):
        files = {}
        for top, dirs, names in os.walk(self.root):
            for n in dirs + names:
                path = os.path.join(top, n)
                if n.startswith("registry.db") and os.path.isfile(path):
                    continue  # compared by its rows below
                st = os.lstat(path)
                data = hashlib.file_digest(open(path, "rb"), "sha256").hexdigest() \
                    if stat.S_ISREG(st.st_mode) else ""  # in blocks: the child's memory starts as ours
                files[os.path.relpath(path, self.root)] = (st.st_mode, data)
        db = os.path.join(self.prefix, "registry.db")
        try:
            con = sqlite3.connect(f"file:{db}?mode=ro", uri=True)
            rows = sorted(repr((t, r)) for (t,) in con.execute("SELECT name FROM sqlite_master WHERE type='table'")
                          for r in con.execute(f'SELECT * FROM "{t}"'))
        except sqlite3.DatabaseError:  # not a store: its bytes are what the user has
            rows = [open(db, "rb").read() if os.path.isfile(db) else os.path.exists(db)]
        return files, rows

    def query(self, key):
        return self.run(["query", key], "quillmark-reg")[0].stdout.decode("latin-1")


# ---- Setups: functions of the machine ----------------------------------------------

def keep(m):
    m.setup(["+regv", KEEP, "list", r"C:\a;C:\b"], ["+regv", KEEP, "other", "value"],
            ["-user", "=env", "Path", r"C:\a"])
    os.makedirs(m.host(r"C:\tex\bin"))


def then(*steps):
    return lambda m: [s(m) for s in (keep,) + steps]


def nobody(m):
    m.as_nobody = os.geteuid() == 0
    d = m.root
    while m.as_nobody and d != "/":
        os.chmod(d, stat.S_IMODE(os.stat(d).st_mode) | 0o005)
        d = os.path.dirname(d)


def fold_wal(m):
    con = sqlite3.connect(os.path.join(m.prefix, "registry.db"))
    con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    con.execute("PRAGMA journal_mode=DELETE")
    con.close()


def read_only_prefix(m):
    fold_wal(m)
    for top, dirs, names in os.walk(m.prefix):
        for n in names + dirs:
            os.chmod(os.path.join(top, n), 0o444 if n in names else 0o555)
    os.chmod(m.prefix, 0o555)
    nobody(m)


def store(data):
    def setup(m):
        os.makedirs(os.path.join(m.prefix, "drive_c"))
        open(os.path.join(m.prefix, "registry.db"), "wb").write(data)
    return setup


def damage(how):
    def setup(m):
        fold_wal(m)
        db = os.path.join(m.prefix, "registry.db")
        with open(db, "r+b") as f:
            f.truncate(os.path.getsize(db) // 2) if how == "cut" else f.write(b"\0" * 32)
    return then(setup)


def foreign_store(m):
    os.makedirs(os.path.join(m.prefix, "drive_c"))
    con = sqlite3.connect(os.path.join(m.prefix, "registry.db"))
    con.execute("CREATE TABLE t(x)")
    con.commit()
    con.close()
    m.foreign = open(os.path.join(m.prefix, "registry.db"), "rb").read()


def foreign_kept(m, p, rss):
    """Refused with its reason before a byte was written: no WAL, no header change."""
    db = os.path.join(m.prefix, "registry.db")
    return told("registry.db cannot be used: another program's database")(m, p, rss) + (
        [] if open(db, "rb").read() == m.foreign and not os.path.exists(db + "-wal") else ["the file was changed"])


def prefix_under_file(m):
    os.makedirs(m.root, exist_ok=True)
    open(os.path.join(m.root, "afile"), "wb").write(b"a file\n")
    m.env["QUILLMARK_PREFIX"] = os.path.join(m.root, "afile", "prefix")


def unwritable_prefix(m):
    os.makedirs(m.prefix)
    os.chmod(m.prefix, 0o555)
    nobody(m)


def a_dir(dos):
    return then(lambda m: m.write(dos + r"\inside.txt", b"kept\r\n"))


def a_file(dos, data):
    return then(lambda m: m.write(dos, data))


def big_line(m):
    with open(m.host(r"C:\big.reg"), "wb") as f:
        f.write(b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep\\Big]\r\n"before"="1"\r\n"big"="')
        for _ in range(100):
            f.write(b"x" * (1 << 20))
        f.write(b'"\r\n"after"="2"\r\n')


def md5_name(length):  # one base name to the program, directories to the host
    return ("a" * 100 + "/") * (length // 101) + "a" * (length % 101)


def md5_file(length):
    return then(lambda m: m.write("C:\\s\\" + md5_name(length).replace("/", "\\"), b"stamp me\r\n"))


# ---- Checks: functions of the machine, the run and its peak memory -------------------

def told(*words):
    """One line on standard error names what cannot be used, and why."""
    def check(m, p, rss):
        err = p.stderr.decode("latin-1")
        return [] if all(w in err for w in words) and err.count("\n") == 1 else [f"stderr {err!r}"]
    return check


def holds(key, *present, absent=()):
    def check(m, p, rss):
        out = m.query(key)
        return [f"{key}: {w!r} missing" for w in present if w not in out] + \
               [f"{key}: {w!r} there" for w in absent if w in out]
    return check


def big_line_check(m, p, rss):
    return (holds(KEEP + r"\Big", "    before    ", "    after    ", absent=("    big    ",))(m, p, rss)
            + ([f"a 100 MB line took {rss} kB"] if rss > 64 * 1024 else []))


def stored_whole(key, name, n):
    return lambda m, p, rss: [] if SUCCEEDED not in p.stdout or "v" * n in m.query(key) \
        else [f"success, but {name} is not whole"]


def utf16(text):
    return text.encode("utf-16-le")


HEAD16 = b"\xff\xfe" + utf16("Windows Registry Editor Version 5.00\r\n\r\n")
BAD_FIRST = HEAD16 + utf16("[HKEY_CURRENT_USER\\Software\\Keep\\U") + b"\x00\xd8" + utf16(']\r\n"a"="x"\r\n')
BAD_MIDDLE = (HEAD16 + utf16('[HKEY_CURRENT_USER\\Software\\Keep\\M]\r\n"a"="x"\r\n"b"="') + b"\x00\xdc"
              + utf16('"\r\n"c"="after"\r\n'))
JUNK = bytes(random.Random(1).randrange(256) for _ in range(65536))
LONG_DIR = "C:\\" + "d" * (MAX_DIRECTORY - 2)
W98 = {"QUILLMARK_WINVER": "win98"}


def case(name, args, setup, expect="failed", check=None, unchanged=True, env=None):
    """expect: "failed" (the failure line), "succeeded", "any";
    unchanged: every file and registry row must be as before."""
    return name, args, setup, expect, check, unchanged, env


HUGE = then(lambda m: m.setup(["+regv", KEEP, "huge", "C:\\" + "h" * (VALUE_CAPACITY + 3000)]))
NOT_A_DB = told("registry.db cannot be used: file is not a database")
CASES = [
    case("prefix-under-a-file", ["+regk", KEEP + r"\New"], prefix_under_file,
         check=told("cannot be used: Not a directory")),
    case("prefix-unwritable", ["+regk", KEEP + r"\New"], unwritable_prefix),
    case("store-read-only", ["-user", "=env", "NEWVAR", "x"], then(read_only_prefix)),
    case("store-random-bytes", ["+regv", KEEP, "v", "x"], store(JUNK[:16384]), check=NOT_A_DB),
    case("store-random-bytes-read", ["-read-reg", KEEP, "list"], store(JUNK[:16384]), check=NOT_A_DB),
    case("store-foreign", ["+regk", KEEP], foreign_store, check=foreign_kept),
    case("store-truncated", ["+regv", KEEP, "v", "x"], damage("cut")),
    case("store-header-damaged", ["-regk", KEEP], damage("header")),
    case("store-is-a-directory", ["+regk", KEEP], lambda m: os.makedirs(os.path.join(m.prefix, "registry.db")),
         check=told("registry.db cannot be used:")),
    case("import-a-directory", ["+regf", r"C:\dir"], a_dir(r"C:\dir")),
    case("autoexec-is-a-directory-add", ["+path", r"C:\tex\bin"], a_dir(r"C:\autoexec.bat"), env=W98),
    case("autoexec-is-a-directory-remove", ["-path", r"C:\tex\bin"], a_dir(r"C:\autoexec.bat"),
         env={**W98, "Path": r"C:\WINDOWS"}),
    case("config-is-a-directory", ["-env-size", "4096"], a_dir(r"C:\CONFIG.SYS"), env=W98),
    case("import-binary-junk", ["+regf", r"C:\junk.reg"], a_file(r"C:\junk.reg", JUNK)),
    case("import-invalid-utf16-first-key", ["+regf", r"C:\bad16.reg"], a_file(r"C:\bad16.reg", BAD_FIRST)),
    case("import-invalid-utf16-middle", ["+regf", r"C:\bad16.reg"], a_file(r"C:\bad16.reg", BAD_MIDDLE),
         check=holds(KEEP + r"\M", "    a    REG_SZ    x", absent=("    b    ",)), unchanged=False),
    case("import-100mb-line", ["+regf", r"C:\big.reg"], then(big_line), check=big_line_check, unchanged=False),
    case("path-several-one-too-long", ["-user", "+path", r"C:\tex\bin;" + LONG_DIR], keep),
    case("regp-value-over-read-capacity", ["+regp", KEEP, "huge", r"C:\tex\bin"], HUGE),
    case("read-value-over-capacity", ["-read-reg", KEEP, "huge"], HUGE),
    case("md5-value-name-513", ["-md5", "C:\\s\\" + md5_name(MAX_VALUE_NAME - 3)], md5_file(MAX_VALUE_NAME - 3)),
    case("md5-value-name-512", ["-md5", "C:\\s\\" + md5_name(MAX_VALUE_NAME - 4)], md5_file(MAX_VALUE_NAME - 4),
         expect="succeeded", unchanged=False),
    case("write-value-40000", ["+regv", KEEP, "long", "v" * 40000], keep, expect="any",
         check=stored_whole(KEEP, "long", 40000), unchanged=False),
    case("env-value-40000", ["-user", "=env", "LONGVAR", "v" * 40000], keep, expect="any",
         check=stored_whole(r"HKEY_CURRENT_USER\Environment", "LONGVAR", 40000), unchanged=False),
]


def run_case(name, args, setup, expect, check, unchanged, env):
    root = tempfile.mkdtemp(prefix=f"qmfault-{name}-")
    m, problems = Machine(root), []
    try:
        m.env.update(env or {})
        setup(m)
        os.makedirs(m.root, exist_ok=True)
        before = m.snapshot()
        p, rss = m.run(args)
        if not 0 <= p.returncode < 128 or b"Sanitizer" in p.stderr or b"runtime error:" in p.stderr:
            problems.append(f"crashed (exit {p.returncode}): {p.stderr[-2000:]!r}")
        ok = {"failed": FAILED in p.stdout and SUCCEEDED not in p.stdout, "any": True,
              "succeeded": SUCCEEDED in p.stdout and FAILED not in p.stdout}[expect]
        if not ok:
            problems.append(f"expected {expect}: exit {p.returncode}, output {p.stdout[:300]!r}")
        after = m.snapshot()
        if unchanged:
            problems += ["the registry changed"] * (before[1] != after[1]) + [
                f"{rel} changed" for rel in set(before[0]) | set(after[0])
                if before[0].get(rel) != after[0].get(rel) and not (rel in SKELETON and rel not in before[0])]
        problems += check(m, p, rss) if check else []
    except Exception as e:  # a broken setup is a failed case, not a crash of the table
        problems.append(f"{type(e).__name__}: {e}")
    finally:
        for top, dirs, _ in os.walk(root):
            for d in dirs:
                os.chmod(os.path.join(top, d), 0o755)
        os.chmod(root, 0o755)
        shutil.rmtree(root, ignore_errors=True)
    return problems


def main():
    only = sys.argv[sys.argv.index("--case") + 1] if "--case" in sys.argv else None
    failed = 0
    for case in CASES:
        if only and case[0] != only:
            continue
        problems = run_case(*case)
        failed += bool(problems)
        print(("FAIL " if problems else "ok   ") + case[0] + "".join(f"\n  {p}" for p in problems))
    print(f"{len(CASES)} cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
