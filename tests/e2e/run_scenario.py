#!/usr/bin/env python3
"""Runs one end-to-end scenario file on one backend, in one code page.

    run_scenario.py --backend native --bin-dir DIR [--codepage 936|1252] FILE
    run_scenario.py --backend x86|x64 --exe-dir DIR --wine-prefix DIR [--codepage ...] FILE

native: the POSIX build on a fresh emulated machine per case (QUILLMARK_ACP
is the code page), registry preset by qmreg-setup and read by quillmark-reg.
x86/x64: quillmark.exe under Wine in the test run's shared prefix (LANG
gives the code page), registry preset by one `reg import` and read by the
prefix's reg.exe of the same bitness. The format is in README.md here.
Exit code 0 all passed, 1 a case failed, 77 no case could run here.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winerun  # noqa: E402

ACP = {936: "gbk", 1252: "cp1252"}
ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
         "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}
TYPES = {"REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7}
SETUP = ("dir", "file", "file-utf16", "file-from", "reg-add", "reg-delete")
RESULTS = {"ok": "Succeeded in doing speicified operation(s)!",
           "fail": "Error: Failed to do speicified operation(s)!"}
APPDEFAULTS = r"HKCU\Software\Wine\AppDefaults\quillmark.exe"
STARTUP_FILES = ("autoexec.bat", "autoexec.bak", "config.sys", "config.sys.bak")


def unescape(text):
    r"""\t \n \r \\ \" \0 \xHH (a byte, or U+00HH in a str); any other
    backslash stays."""
    simple = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\", '"': '"', "0": "\0"}
    raw = text.decode("latin-1") if isinstance(text, bytes) else text
    out = re.sub(r"\\(x[0-9a-fA-F]{2}|[tnr\\\"0])",
                 lambda m: chr(int(m[1][1:], 16)) if m[1][0] == "x" else simple[m[1]], raw)
    return out.encode("latin-1") if isinstance(text, bytes) else out


def split_args(text):
    """Like a shell, but a backslash is an ordinary character (DOS paths)."""
    lex = shlex.shlex(text, posix=True)
    lex.whitespace_split, lex.escape, lex.commenters = True, "", ""
    return list(lex)


class Case:
    def __init__(self, name, line, backends):
        self.name, self.line, self.backends = name, line, backends
        self.codepages, self.cwd, self.winver, self.env = None, None, None, {}
        self.interpreter = False
        self.setup, self.runs, self.checks, self.broadcast = [], [], [], None


def parse(path):
    stem = os.path.splitext(os.path.basename(path))[0]
    cases, case, backends, common = [], None, None, []
    for n, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if not line.strip() or line.startswith("#"):
            continue
        key, sep, value = line.partition(": ")
        key = key.rstrip(":")
        if key == "case":
            case = Case(f"{stem}.{value}", n, backends)
            case.setup = list(common)
            cases.append(case)
        elif key in SETUP and case is None:  # before the first case: every case's first steps
            common.append((key, value))
        elif key == "backends" and case is None:
            backends = value.split()
        elif case is None:
            sys.exit(f"{path}:{n}: '{key}' before the first case")
        elif key == "backends":
            case.backends = value.split()
        elif key == "codepages":
            case.codepages = [int(c) for c in value.split()]
        elif key in ("cwd", "winver"):
            setattr(case, key, value)
        elif key == "env":
            name, _, v = value.partition("=")
            case.env[name] = v
        elif key in SETUP:
            case.setup.append((key, value))
        elif key == "args":
            case.runs.append({"args": split_args(value), "out": [], "any": False, "exit": 0})
        elif key == "arg":
            case.runs[-1]["args"].append(value)
        elif key in ("stdout", "stdout-esc", "stdout-file"):
            case.runs[-1]["out"].append((key, value))
        elif key == "results":
            case.runs[-1]["out"] += [("stdout", RESULTS[w]) for w in value.split()]
        elif key == "stdout-any":
            case.runs[-1]["any"] = True
        elif key == "exit":
            case.runs[-1]["exit"] = int(value)
        elif key == "reg-out":
            case.checks[-1][2].append(value)
        elif key in ("reg-query", "reg-missing", "file-exists", "file-absent", "file-content"):
            case.checks.append([key, value, [], n])
        elif key == "reg-value":  # ARGS = TYPE DATA: reg query ARGS shows that one value
            query, _, shown = value.partition(" = ")
            args = split_args(query)
            name = args[args.index("/v") + 1] if "/v" in args else "(Default)"
            kind, _, data = shown.partition(" ")
            case.checks.append(["reg-query", query, [full_key(args[0]), f"    {name}    {kind}    {data}"], n])
        elif key == "broadcast":
            case.broadcast = (case.broadcast or []) + [value]
        elif key == "interpreter":
            case.interpreter = True
        elif key == "broadcast-none":
            case.broadcast = []
        else:
            sys.exit(f"{path}:{n}: unknown directive '{key}'")
    return cases


def reg_value(args):
    """reg add's arguments as (key, name, type, data); name None (no /v, no
    /ve) only makes the key. Text data stay str: each backend encodes them."""
    key, name, kind, sep, data, i = full_key(args[0]), None, "REG_SZ", "\\0", "", 1
    while i < len(args):
        flag = args[i].lower()
        if flag == "/ve":
            name, i = "", i + 1
            continue
        name, kind, sep, data = [args[i + 1] if flag == f else v for f, v in
                                 (("/v", name), ("/t", kind), ("/s", sep), ("/d", data))]
        i += 2
    if kind == "REG_DWORD":
        data = int(data, 0).to_bytes(4, "little")
    elif kind == "REG_BINARY":
        data = bytes.fromhex(data)
    elif kind == "REG_MULTI_SZ":
        data = "".join(p + "\0" for p in data.split(sep)) + "\0"
    else:
        data += "\0"
    return key, name, TYPES[kind], data


def full_key(key):
    root, _, rest = key.partition("\\")
    return ROOTS.get(root.upper(), root) + ("\\" + rest if rest else "")


class Native:
    def __init__(self, opts):
        self.bin, self.work, self.cp = os.path.abspath(opts.bin_dir), opts.work, opts.codepage
        self.enc = ACP[self.cp]

    def begin(self, case):
        self.case, self.prefix = case, os.path.join(os.path.abspath(self.work), case.name)
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(os.path.join(self.prefix, "drive_c"))

    def end(self, passed):
        if passed:
            shutil.rmtree(self.prefix, ignore_errors=True)
        else:
            print(f"  kept the emulated machine: {self.prefix}")

    def env(self, extra):
        env = {"PATH": "/usr/bin:/bin", "HOME": self.prefix, "LANG": "C",
               "QUILLMARK_PREFIX": self.prefix, "QUILLMARK_ACP": str(self.cp)}
        if self.case.winver:
            env["QUILLMARK_WINVER"] = self.case.winver
        # The launcher's interpreter: Wine has cmd.exe, the emulated machine a stand-in.
        if self.case.interpreter:
            shutil.copy(os.path.join(HERE, "cmd.sh"), os.path.join(self.drive_c(), "cmd.sh"))
            env["ComSpec"] = "C:\\cmd.sh"
        return {**env, **extra}

    def run(self, args, cwd, extra):
        args = [a.encode(ACP[self.cp]) for a in args]
        return subprocess.run([os.path.join(self.bin, "quillmark")] + args, cwd=cwd,
                              env=self.env(extra), capture_output=True, timeout=120)

    def setup_registry(self, values, deletions):
        # qmreg-setup's lines: "delete KEY [NAME]", "key KEY", "value KEY NAME TYPE HEX".
        acp = ACP[self.cp]
        lines = [b"\t".join([b"delete", k.encode(acp)] + ([] if n is None else [n.encode(acp)]))
                 for k, n in deletions]
        for key, name, kind, data in values:
            raw = data.encode(acp) if isinstance(data, str) else data
            lines.append(b"\t".join([b"key", key.encode(acp)] if name is None else
                                    [b"value", key.encode(acp), name.encode(acp),
                                     str(kind).encode(), raw.hex().encode()]))
        r = subprocess.run([os.path.join(self.bin, "qmreg-setup")], env=self.env({}),
                           input=b"\n".join(lines) + b"\n", capture_output=True)
        if r.returncode:
            raise RuntimeError(f"qmreg-setup failed: {r.stdout + r.stderr!r}")

    def query(self, queries):
        tool = os.path.join(self.bin, "quillmark-reg")
        return [subprocess.run([tool, "query"] + [a.encode(ACP[self.cp]) for a in q],
                               env=self.env({}), capture_output=True) for q in queries]

    def decode_reg(self, data):
        return data.decode(ACP[self.cp], "replace")

    def broadcasts(self):
        path = os.path.join(self.prefix, "broadcast.log")
        return open(path).read().splitlines() if os.path.exists(path) else []

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")


class Wine:
    def __init__(self, opts):
        self.bits = 32 if opts.backend == "x86" else 64
        self.exe = os.path.join(os.path.abspath(opts.exe_dir), "quillmark.exe")
        self.prefix, self.cp = os.path.abspath(opts.wine_prefix), opts.codepage
        self.enc = "utf-8"

    def begin(self, case):
        self.case, self.lost = case, 0
        # One run of the shared prefix at a time; what a case changes outside
        # its key and directory stays (cases set what they read).
        for name in STARTUP_FILES:
            p = os.path.join(self.drive_c(), name)
            if os.path.exists(p):
                os.chmod(p, 0o644)
                os.remove(p)
        self.reg(["delete", "HKCU\\Software\\QuillmarkE2E\\" + case.name, "/f"])
        # Wine shows a 32-bit program Windows 98 by its per-program setting.
        if case.winver:
            self.reg(["add", APPDEFAULTS, "/v", "Version", "/d", case.winver, "/f"])

    def end(self, passed):
        if self.case.winver:
            self.reg(["delete", APPDEFAULTS, "/f"])

    def run(self, args, cwd, extra):
        r = winerun.run_exe(self.prefix, self.exe, args, cwd=cwd, codepage=self.cp, env=extra)
        self.lost += winerun.loader_fault(r)
        return r

    def reg(self, args):
        return winerun.run_reg(self.prefix, self.bits, args, codepage=self.cp)

    def setup_registry(self, values, deletions):
        lines = ["Windows Registry Editor Version 5.00", ""]
        # Deleting a value through a .reg file makes its key, as reg.exe would not.
        lines += [f"[-{k}]" if n is None else f"[{k}]\r\n{reg_name(n)}=-" for k, n in deletions]
        for key, name, kind, data in values:
            lines.append(f"[{key}]")
            raw = data.encode("utf-16-le") if isinstance(data, str) else data
            if name is not None:
                lines.append(f"{reg_name(name)}=hex({kind:x}):" + ",".join(f"{b:02x}" for b in raw))
        path = os.path.join(self.drive_c(), "qm-e2e-setup.reg")
        with open(path, "wb") as f:
            f.write("\r\n".join(lines + [""]).encode("utf-16"))
        r = self.reg(["import", r"C:\qm-e2e-setup.reg"])
        if r.returncode:
            raise RuntimeError(f"reg import failed: {r.stdout + r.stderr!r}\n" + "\n".join(lines))

    def query(self, queries):
        with ThreadPoolExecutor(max_workers=8) as pool:  # each Wine process mostly waits
            return list(pool.map(lambda q: self.reg(["query"] + q), queries))

    def decode_reg(self, data):
        # reg.exe speaks the locale's language: Chinese names the default value.
        return data.decode(winerun.OEM[self.cp], "replace").replace("(默认)", "(Default)")

    def broadcasts(self):
        return None  # a real machine's broadcast is proven by tests/wine

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")


def reg_name(name):
    return "@" if name == "" else '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


def host_path(backend, dos):
    """C:\\a\\b under drive_c as the backend names files on the host (the
    emulated machine: code-page bytes; Wine: UTF-8), each component found
    without regard to case."""
    host = backend.drive_c().encode()
    for part in [p.encode(backend.enc) for p in dos[2:].split("\\") if p]:
        low = part.decode(backend.enc).lower()
        found = [e for e in (os.listdir(host) if os.path.isdir(host) else [])
                 if e.decode(backend.enc, "surrogateescape").lower() == low]
        host = os.path.join(host, part if part in found or not found else found[0])
    return host


def reg_blocks(text):
    """reg query output: blank lines and trailing blanks dropped, each key's
    value lines a set (Wine lists them sorted, Windows as written)."""
    blocks = [b.split("\n") for b in re.split(r"\n\s*\n", text.replace("\r", "").strip()) if b]
    return [[ln.rstrip() for ln in b[:1]] + sorted(ln.rstrip() for ln in b[1:]) for b in blocks]


def run_case(case, backend, opts):
    acp = ACP[opts.codepage]
    names = {"CASE": case.name, "KEY": r"HKEY_CURRENT_USER\Software\QuillmarkE2E" + "\\" + case.name,
             "DIR": "C:\\e2e\\" + case.name}

    def expand(text):
        return re.sub(r"\{(CASE|KEY|DIR)\}", lambda m: names[m[1]], text)

    def text_bytes(text):  # code-page text with escapes; placeholders after them
        return re.sub(rb"\{(CASE|KEY|DIR)\}", lambda m: names[m[1].decode()].encode(acp),
                      unescape(text.encode(acp)))

    def expected(parts):
        return b"".join(expand(v).encode(acp) + b"\n" if k == "stdout" else text_bytes(v)
                        if k == "stdout-esc" else open(os.path.join(HERE, "golden", v), "rb").read()
                        for k, v in parts)

    failures = []
    shutil.rmtree(host_path(backend, names["DIR"]), ignore_errors=True)
    os.makedirs(host_path(backend, names["DIR"]))
    values, deletions = [], []
    for kind, value in case.setup:
        if kind == "reg-add":
            values.append(reg_value([expand(a) for a in split_args(value)]))
        elif kind == "reg-delete":
            args = [expand(a) for a in split_args(value)]
            deletions.append((full_key(args[0]), args[2] if args[1:2] == ["/v"] else
                              "" if args[1:2] == ["/ve"] else None))
        elif kind == "dir":
            os.makedirs(host_path(backend, expand(value)), exist_ok=True)
        else:
            target, _, content = value.partition(" :: ")
            path = host_path(backend, expand(target))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            data = (open(os.path.join(opts.testdata, content), "rb").read() if kind == "file-from"
                    else b"\xff\xfe" + expand(unescape(content)).encode("utf-16-le")
                    if kind == "file-utf16" else text_bytes(content))
            open(path, "wb").write(data)
    if values or deletions:
        backend.setup_registry(values, deletions)

    cwd = host_path(backend, expand(case.cwd or "{DIR}"))
    env = {k: expand(v) for k, v in case.env.items()}
    for i, run in enumerate(case.runs, 1):
        args = [expand(a) for a in run["args"]]
        r = backend.run(args, cwd, env)
        what = f"run {i} (quillmark {' '.join(args)})"
        got, want = r.stdout.replace(b"\r\n", b"\n"), expected(run["out"]).replace(b"\r\n", b"\n")
        if r.returncode != run["exit"]:
            failures.append(f"{what}: exit code {r.returncode}, expected {run['exit']}")
        if not run["any"] and got != want:
            failures.append(f"{what}: standard output\n  expected: {want!r}\n  got:      {got!r}")
        if failures and r.stderr:
            failures.append(f"{what}: standard error {r.stderr[-1500:]!r}")

    queries = [[expand(a) for a in split_args(c[1])] for c in case.checks if c[0].startswith("reg")]
    answers = iter(backend.query(queries))
    for kind, value, lines, n in case.checks:
        if kind.startswith("reg"):
            r = next(answers)
            text = backend.decode_reg(r.stdout)
            want = "\n".join(expand(x) for x in lines)
            if kind == "reg-missing" and r.returncode == 0:
                failures.append(f"line {n}: reg query {expand(value)} found:\n{text}")
            elif kind == "reg-query" and (r.returncode or reg_blocks(text) != reg_blocks(want)):
                failures.append(f"line {n}: reg query {expand(value)}\n  expected:\n{want}\n"
                                f"  got ({r.returncode}):\n{text}")
            continue
        target, _, content = value.partition(" :: ")
        path = host_path(backend, expand(target))
        if kind == "file-exists" and not os.path.exists(path) or \
                kind == "file-absent" and os.path.lexists(path):
            failures.append(f"line {n}: {kind} {expand(target)}")
        elif kind == "file-content" and (not os.path.isfile(path) or
                                         open(path, "rb").read() != text_bytes(content)):
            got = open(path, "rb").read() if os.path.isfile(path) else None
            failures.append(f"line {n}: {expand(target)} holds {got!r}, not "
                            f"{text_bytes(content)!r}")
    got = backend.broadcasts()
    if case.broadcast is not None and got is not None and got != case.broadcast:
        failures.append(f"broadcast.log: {got}, expected {case.broadcast}")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--backend", choices=("native", "x86", "x64"), required=True)
    ap.add_argument("--bin-dir")
    ap.add_argument("--exe-dir")
    ap.add_argument("--wine-prefix")
    ap.add_argument("--codepage", type=int, choices=sorted(ACP), default=936)
    ap.add_argument("--work", default="e2e-work")
    ap.add_argument("--testdata", default=os.path.join(HERE, "..", "..", "..", "shared", "testdata"))
    ap.add_argument("--case")
    ap.add_argument("scenario")
    opts = ap.parse_args()
    if opts.backend != "native":
        if not winerun.available() or not os.path.exists(os.path.join(opts.exe_dir or "",
                                                                      "quillmark.exe")):
            print("skipped: Wine or quillmark.exe is not there")
            return winerun.SKIP
    backend = Native(opts) if opts.backend == "native" else Wine(opts)
    ran = failed = 0
    for case in parse(opts.scenario):
        if (opts.case and not case.name.endswith("." + opts.case)
                or case.backends and opts.backend not in case.backends
                or case.codepages and opts.codepage not in case.codepages
                or case.winver and opts.backend == "x64"):
            continue
        ran += 1
        for attempt in (1, 2):
            try:
                backend.begin(case)
                failures = run_case(case, backend, opts)
            except (RuntimeError, OSError, ValueError, subprocess.TimeoutExpired) as e:
                failures = [f"could not run: {e!r}"]
            backend.end(not failures)
            # Each case starts from a clean key and directory: a case whose
            # result Wine's loader lost is made once more.
            if not failures or not getattr(backend, "lost", 0):
                break
        print(f"{'FAIL' if failures else 'ok  '} {case.name} [{opts.backend} {opts.codepage}]"
              + "".join(f"\n  {f}" for f in failures))
        failed += bool(failures)
    return 1 if failed else 0 if ran else winerun.SKIP


if __name__ == "__main__":
    sys.exit(main())
