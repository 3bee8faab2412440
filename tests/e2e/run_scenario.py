#!/usr/bin/env python3
"""Runs one end-to-end scenario file on one backend (native, x86, x64), in one
code page; README.md here describes the backends and the format. Exit code 0
all passed, 1 a case failed, 77 no case could run here."""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from types import SimpleNamespace

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winerun  # noqa: E402

ACP = {936: "gbk", 1252: "cp1252"}
ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
         "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}
TYPES = {"REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7}
SETUP = ("dir", "file", "file-utf16", "reg-add", "reg-delete")
CHECKS = ("reg-query", "reg-missing", "file-exists", "file-absent", "file-content")
RESULTS = {"ok": "Succeeded in doing speicified operation(s)!",
           "fail": "Error: Failed to do speicified operation(s)!"}


def unescape(text):
    r"""\t \n \r \\ \" \0 \xHH (a byte, or U+00HH in a str); any other backslash stays."""
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


def full_key(key):
    root, _, rest = key.partition("\\")
    return ROOTS.get(root.upper(), root) + ("\\" + rest if rest else "")


def parse(path):
    stem, cases, common = os.path.splitext(os.path.basename(path))[0], [], []
    for n, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if not line.strip() or line.startswith("#"):
            continue
        key, _, value = line.partition(": ")
        key = key.rstrip(":")
        case = cases[-1] if cases else None
        run = case.runs[-1] if case and case.runs else None
        if key == "case":
            cases.append(SimpleNamespace(name=f"{stem}.{value}", backends="", codepages="", cwd="{DIR}",
                                         winver=None, env={}, setup=list(common), runs=[], checks=[], broadcasts=0))
        elif key in SETUP:  # before the first case: every case's first steps
            (case.setup if case else common).append((key, value))
        elif key in ("backends", "codepages", "cwd", "winver"):
            setattr(case, key, value)
        elif key == "env":
            case.env.update([value.split("=", 1)])
        elif key == "args":
            case.runs.append(SimpleNamespace(args=split_args(value), out=[], any=False, exit=0))
        elif key in ("stdout", "stdout-esc", "stdout-file"):
            run.out.append((key, value))
        elif key == "results":
            run.out += [("stdout", RESULTS[w]) for w in value.split()]
        elif key in ("stdout-any", "exit"):
            setattr(run, key.replace("stdout-", ""), int(value) if value else True)
        elif key == "reg-out":
            case.checks[-1][2].append(value)
        elif key in CHECKS:
            case.checks.append([key, value, [], n])
        elif key == "reg-value":  # ARGS = TYPE DATA: reg query ARGS shows that one value
            query, _, shown = value.partition(" = ")
            args = split_args(query)
            name = args[args.index("/v") + 1] if "/v" in args else "(Default)"
            kind, _, data = shown.partition(" ")
            case.checks.append(["reg-query", query, [full_key(args[0]), f"    {name}    {kind}    {data}"], n])
        elif key == "broadcasts":
            case.broadcasts = int(value)
        else:
            sys.exit(f"{path}:{n}: unknown directive '{key}'")
    return cases


def reg_value(args):
    """reg add's arguments as (key, name, type, data); name None (no /v, no
    /ve) only makes the key. Texts stay str: each backend encodes them."""
    opts, rest = {"/v": None, "/t": "REG_SZ", "/d": ""}, args[1:]
    while rest:
        flag = rest.pop(0).lower()
        opts["/v" if flag == "/ve" else flag] = "" if flag == "/ve" else rest.pop(0)
    kind, data = opts["/t"], opts["/d"]
    data = (int(data, 0).to_bytes(4, "little") if kind == "REG_DWORD" else bytes.fromhex(data)
            if kind == "REG_BINARY" else data.replace("\\0", "\0") + "\0\0"
            if kind == "REG_MULTI_SZ" else data + "\0")
    return full_key(args[0]), opts["/v"], TYPES[kind], data


class Native:
    def __init__(self, opts):
        self.bin, self.work, self.cp, self.enc = os.path.abspath(opts.bin_dir), opts.work, opts.codepage, ACP[opts.codepage]

    def begin(self, case):
        self.case, self.prefix = case, os.path.join(os.path.abspath(self.work), case.name)
        self.drive_c, self.lost = os.path.join(self.prefix, "drive_c"), 0
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.drive_c)
        shutil.copy(os.path.join(HERE, "cmd.sh"), self.drive_c)  # the machine's stand-in for cmd.exe

    def end(self, passed):
        shutil.rmtree(self.prefix, ignore_errors=True) if passed else print(f"  kept {self.prefix}")

    def run(self, args, cwd=None, extra={}, name="quillmark"):
        env = {"PATH": "/usr/bin:/bin", "HOME": self.prefix, "LANG": "C", "QUILLMARK_PREFIX": self.prefix,
               "QUILLMARK_ACP": str(self.cp), "ComSpec": "C:\\cmd.sh", **extra}
        env.update({"QUILLMARK_WINVER": self.case.winver} if self.case.winver else {})
        return subprocess.run([os.path.join(self.bin, name)] + [a.encode(self.enc) for a in args], env=env,
                              capture_output=True, timeout=120, cwd=cwd)

    def import_setup(self, dos):
        # A new machine: nothing to delete; the import is the program's own.
        r = self.run(["+regf", dos])
        return "" if RESULTS["ok"].encode() in r.stdout else f"printed {r.stdout!r}"

    def query(self, queries):
        return [(self.run(["query"] + q, name="quillmark-reg"), self.enc) for q in queries]

    def broadcasts(self):
        path = os.path.join(self.prefix, "broadcast.log")
        return open(path).read().splitlines() if os.path.exists(path) else []


class Wine:
    def __init__(self, opts):
        self.bits, self.enc = 32 if opts.backend == "x86" else 64, "utf-8"
        self.exe = os.path.join(os.path.abspath(opts.exe_dir), "quillmark.exe")
        self.prefix, self.cp = os.path.abspath(opts.wine_prefix), opts.codepage
        self.drive_c = os.path.join(self.prefix, "drive_c")

    def begin(self, case):
        # The shared prefix: what a case changes outside its key, its directory
        # and the startup files stays (cases set what they read).
        self.case, self.lost = case, 0
        for name in ("autoexec.bat", "config.sys", "config.sys.bak"):
            if os.path.exists(os.path.join(self.drive_c, name)):
                os.chmod(os.path.join(self.drive_c, name), 0o644)
                os.remove(os.path.join(self.drive_c, name))
        self.reg(["delete", "HKCU\\Software\\QuillmarkE2E\\" + case.name, "/f"])
        if case.winver:  # Wine shows a 32-bit program Windows 98 by its per-program setting
            self.reg(["add", r"HKCU\Software\Wine\AppDefaults\quillmark.exe", "/v", "Version", "/d",
                      case.winver, "/f"])

    def end(self, passed):
        if self.case.winver:
            self.reg(["delete", r"HKCU\Software\Wine\AppDefaults\quillmark.exe", "/f"])

    def run(self, args, cwd, extra):
        # Wine builds a program's PATH from the registry and WINEPATH.
        extra = {("WINEPATH" if k == "PATH" else k): v for k, v in extra.items()}
        r = winerun.run_exe(self.prefix, self.exe, args, cwd=cwd, codepage=self.cp, env=extra)
        self.lost += winerun.loader_fault(r)
        return r

    def reg(self, args):
        return winerun.run_reg(self.prefix, self.bits, args, codepage=self.cp)

    def import_setup(self, dos):
        r = self.reg(["import", dos])
        return r.returncode and f"exit {r.returncode}: {r.stdout + r.stderr!r}"

    def query(self, queries):
        # reg.exe writes in the console's (OEM) code page and the locale's language.
        with ThreadPoolExecutor(max_workers=8) as pool:  # each Wine process mostly waits
            return [(r, winerun.OEM[self.cp]) for r in pool.map(lambda q: self.reg(["query"] + q), queries)]

    def broadcasts(self):
        return None  # a real machine's broadcast is proven by tests/wine


def setup_file(values, deletions):
    """The registry setup as one .reg file (UTF-16, any text). Deleting a value
    through it makes its key, as reg.exe would not."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines += [f"[-{k}]" if n is None else f"[{k}]\r\n{reg_name(n)}=-" for k, n in deletions]
    for key, name, kind, data in values:
        raw = data.encode("utf-16-le") if isinstance(data, str) else data
        lines += [f"[{key}]"] + ([] if name is None else [f"{reg_name(name)}=" + (
            '"' + data[:-1].replace("\\", "\\\\").replace('"', '\\"') + '"' if kind == 1 else
            f"dword:{int.from_bytes(raw, 'little'):08x}" if kind == 4 else
            f"hex({kind:x}):" if kind != 3 else "hex:") + ("" if kind in (1, 4) else ",".join(f"{b:02x}" for b in raw))])
    return "\r\n".join(lines + [""])


def reg_name(name):
    return "@" if name == "" else '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


def host_path(backend, dos):
    """C:\\a\\b as the backend names it on the host (the emulated machine:
    code-page bytes; Wine: UTF-8), each component found without regard to case."""
    host = backend.drive_c.encode()
    for part in [p.encode(backend.enc) for p in dos[2:].split("\\") if p]:
        found = [e for e in (os.listdir(host) if os.path.isdir(host) else [])
                 if e.decode(backend.enc, "surrogateescape").lower() == part.decode(backend.enc).lower()]
        host = os.path.join(host, part if part in found or not found else found[0])
    return host


def reg_blocks(text):
    """Blank lines and trailing blanks aside; a key's value lines a set (Wine sorts them)."""
    blocks = [b.split("\n") for b in re.split(r"\n\s*\n", text.replace("\r", "").strip()) if b]
    return [[ln.rstrip() for ln in b[:1]] + sorted(ln.rstrip() for ln in b[1:]) for b in blocks]


def run_case(case, backend, opts):
    acp = ACP[opts.codepage]
    names = {"CASE": case.name, "KEY": "HKEY_CURRENT_USER\\Software\\QuillmarkE2E\\" + case.name,
             "DIR": "C:\\e2e\\" + case.name}

    def expand(text):
        return re.sub(r"\{(CASE|KEY|DIR)\}", lambda m: names[m[1]], text)

    def text_bytes(text):  # code-page text with escapes; placeholders after them
        return re.sub(rb"\{(CASE|KEY|DIR)\}", lambda m: names[m[1].decode()].encode(acp),
                      unescape(text.encode(acp)))

    failures, values, deletions = [], [], []
    shutil.rmtree(host_path(backend, names["DIR"]), ignore_errors=True)
    os.makedirs(host_path(backend, names["DIR"]))
    for kind, value in case.setup:
        args = [expand(a) for a in split_args(value)]
        if kind == "reg-add":
            values.append(reg_value(args))
        elif kind == "reg-delete":
            deletions.append((full_key(args[0]), args[2] if "/v" in args else "" if "/ve" in args else None))
        elif kind == "dir":
            os.makedirs(host_path(backend, expand(value)), exist_ok=True)
        else:
            target, _, content = value.partition(" :: ")
            path = host_path(backend, expand(target))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").write(b"\xff\xfe" + expand(unescape(content)).encode("utf-16-le")
                                   if kind == "file-utf16" else text_bytes(content))
    if values or deletions:
        text = setup_file(values, deletions)
        open(os.path.join(backend.drive_c, "qm-e2e-setup.reg"), "wb").write(text.encode("utf-16"))
        if failed := backend.import_setup(r"C:\qm-e2e-setup.reg"):
            raise RuntimeError(f"the setup's import failed: {failed}\n{text}")

    for i, run in enumerate(case.runs, 1):
        args = [expand(a) for a in run.args]
        r = backend.run(args, host_path(backend, expand(case.cwd)), {k: expand(v) for k, v in case.env.items()})
        got = r.stdout.replace(b"\r\n", b"\n")
        want = b"".join(expand(v).encode(acp) + b"\n" if k == "stdout" else text_bytes(v) if k == "stdout-esc"
                        else open(os.path.join(HERE, "golden", v), "rb").read() for k, v in run.out)
        what = f"run {i} (quillmark {' '.join(args)})"
        if r.returncode != run.exit:
            failures.append(f"{what}: exit code {r.returncode}, expected {run.exit}")
        if not run.any and got != want.replace(b"\r\n", b"\n"):
            failures.append(f"{what}: standard output\n  expected: {want!r}\n  got:      {got!r}")
        if failures and r.stderr:
            failures.append(f"{what}: standard error {r.stderr[-1500:]!r}")

    answers = iter(backend.query([[expand(a) for a in split_args(c[1])] for c in case.checks
                                  if c[0].startswith("reg")]))
    for kind, value, lines, n in case.checks:
        target, _, content = value.partition(" :: ")
        if kind.startswith("reg"):
            r, enc = next(answers)
            text = r.stdout.decode(enc, "replace").replace("(默认)", "(Default)")
            want = "\n".join(expand(x) for x in lines)
            if kind == "reg-missing" and r.returncode == 0:
                failures.append(f"line {n}: reg query {expand(value)} found:\n{text}")
            elif kind == "reg-query" and (r.returncode or reg_blocks(text) != reg_blocks(want)):
                failures.append(f"line {n}: reg query {expand(value)}\n  expected:\n{want}\n  got ({r.returncode}):\n{text}")
            continue
        path = host_path(backend, expand(target))
        got = open(path, "rb").read() if kind == "file-content" and os.path.isfile(path) else None
        if (kind == "file-exists") != os.path.lexists(path) and kind != "file-content" or \
                kind == "file-content" and got != text_bytes(content):
            failures.append(f"line {n}: {kind} {expand(target)}" + (f": {got!r}" if got else ""))
    got = backend.broadcasts()
    if got is not None and got != ["WM_SETTINGCHANGE Environment"] * case.broadcasts:
        failures.append(f"broadcast.log: {got}, expected {case.broadcasts} announcement(s)")
    return failures


def main():
    ap = argparse.ArgumentParser()
    for flag in ("--bin-dir", "--exe-dir", "--wine-prefix", "--case"):
        ap.add_argument(flag)
    ap.add_argument("--backend", choices=("native", "x86", "x64"), required=True)
    ap.add_argument("--codepage", type=int, choices=sorted(ACP), default=936)
    ap.add_argument("--work", default="e2e-work")
    ap.add_argument("scenario")
    opts = ap.parse_args()
    if opts.backend != "native" and not (winerun.available() and os.path.isfile(
            os.path.join(opts.exe_dir or "", "quillmark.exe"))):
        print("skipped: Wine or quillmark.exe is not there")
        return winerun.SKIP
    backend, ran, failed = Native(opts) if opts.backend == "native" else Wine(opts), 0, 0
    for case in parse(opts.scenario):
        if (opts.case and not case.name.endswith("." + opts.case) or case.winver and opts.backend == "x64"
                or case.backends and opts.backend not in case.backends.split()
                or case.codepages and str(opts.codepage) not in case.codepages.split()):
            continue
        ran += 1
        for attempt in (1, 2):
            try:
                backend.begin(case)
                failures = run_case(case, backend, opts)
            except (RuntimeError, OSError, ValueError, subprocess.TimeoutExpired) as e:
                failures = [f"could not run: {e!r}"]
            backend.end(not failures)
            # A case starts from a clean key and directory: one whose result
            # Wine's loader lost is made once more.
            if not failures or not backend.lost:
                break
        failed += bool(failures)
        print(f"{'FAIL' if failures else 'ok  '} {case.name} [{opts.backend} {opts.codepage}]"
              + "".join(f"\n  {f}" for f in failures))
    return 1 if failed else 0 if ran else winerun.SKIP


if __name__ == "__main__":
    sys.exit(main())
