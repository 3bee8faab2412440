#!/usr/bin/env python3
"""Runs one end-to-end scenario file against one backend.

    run_scenario.py --backend native --bin-dir DIR [--work DIR] FILE
    run_scenario.py --backend x86|x64 --exe-dir DIR --wine-prefix DIR FILE

native runs the POSIX build (quillmark, regconform) on a fresh emulated
machine per case and inspects it with quillmark-reg; its registry is preset
with qmreg-setup. x86 and x64 run quillmark.exe (or regconform.exe) under Wine
in the test run's shared prefix (see ../wine/winerun.py), preset and inspect
its registry with the prefix's own reg.exe: the 32-bit one (syswow64) for
x86, so that both see the same WOW64 view of HKLM\\SOFTWARE.

The file format is described in README.md beside this script. Exit code: 0
when every case passed, 1 when one failed, 77 when no case could run on this
backend (ctest reports the test as skipped).
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

SKIP = winerun.SKIP
BACKENDS = ("native", "x86", "x64")
RUN_TIMEOUT_SECONDS = 120
# Windows versions the Wine prefix cannot pretend to be: cases that ask for
# them run on the emulated machine only.
WIN9X = ("win95", "win98", "winme")

# The two environment keys every machine has and many scenarios change. In
# the shared Wine prefix they are put back before each case; the emulated
# machine is fresh for each case anyway.
SHARED_KEYS = (
    r"HKEY_CURRENT_USER\Environment",
    r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment",
)


class ScenarioError(Exception):
    """A malformed scenario file."""


# ---------------------------------------------------------------------------
# Parsing


def unescape(text):
    r"""C escapes of the scenario format: \t \n \r \\ \" \0 \xHH; any other
    backslash stays as it is."""
    out = bytearray()
    i = 0
    raw = text.encode("utf-8")
    simple = {ord("t"): 9, ord("n"): 10, ord("r"): 13, ord("\\"): 92, ord('"'): 34, ord("0"): 0}
    while i < len(raw):
        c = raw[i]
        if c == 92 and i + 1 < len(raw):
            n = raw[i + 1]
            if n in simple:
                out.append(simple[n])
                i += 2
                continue
            if n == ord("x") and re.fullmatch(rb"[0-9a-fA-F]{2}", raw[i + 2:i + 4]):
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
        out.append(c)
        i += 1
    return bytes(out)


def split_args(text):
    """Splits like a shell, but a backslash is an ordinary character (DOS
    paths): double or single quotes group, nothing else is special."""
    lex = shlex.shlex(text, posix=True)
    lex.whitespace_split = True
    lex.escape = ""
    lex.commenters = ""
    return list(lex)


class Step:
    def __init__(self, args, line):
        self.args = args
        self.line = line
        self.stdout = b""
        self.stdout_given = False
        self.stdout_any = False
        self.exit = 0


class Case:
    def __init__(self, name, line):
        self.name = name
        self.line = line
        self.backends = None
        self.program = "quillmark"
        self.cwd = None
        self.env = {}
        self.winver = None
        self.acp = None
        self.setup = []  # (kind, payload)
        self.steps = []
        self.checks = []  # (kind, payload, line)
        self.broadcast = None  # list of lines, or None when not checked


KNOWN_PROGRAMS = ("quillmark", "regconform")


def parse(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    file_backends = None
    cases = []
    case = None
    last_query = None
    stem = os.path.splitext(os.path.basename(path))[0]

    def need_case(n, key):
        if case is None:
            raise ScenarioError(f"{path}:{n}: '{key}' before the first 'case:'")

    def need_step(n, key):
        need_case(n, key)
        if not case.steps:
            raise ScenarioError(f"{path}:{n}: '{key}' before the case's first 'args:'")
        return case.steps[-1]

    for n, raw in enumerate(lines, 1):
        line = raw.rstrip("\r")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        m = re.match(r"([a-z][a-z0-9-]*)(:(?: ?)(.*))?$", line)
        if not m:
            raise ScenarioError(f"{path}:{n}: not a directive: {line!r}")
        key, rest = m.group(1), m.group(3) if m.group(2) else None
        if rest is None and key not in ("args", "stdout-any", "broadcast-none"):
            raise ScenarioError(f"{path}:{n}: '{key}' needs ': value'")
        if key == "case":
            if not re.fullmatch(r"[A-Za-z0-9_.-]+", rest):
                raise ScenarioError(f"{path}:{n}: case names use letters, digits, '.', '_', '-'")
            case = Case(f"{stem}.{rest}", n)
            case.backends = file_backends
            cases.append(case)
            last_query = None
        elif key == "backends":
            names = rest.split()
            bad = [b for b in names if b not in BACKENDS]
            if bad or not names:
                raise ScenarioError(f"{path}:{n}: backends are {', '.join(BACKENDS)}")
            if case is None:
                file_backends = names
            else:
                case.backends = names
        elif key == "program":
            need_case(n, key)
            if rest not in KNOWN_PROGRAMS:
                raise ScenarioError(f"{path}:{n}: program is one of {', '.join(KNOWN_PROGRAMS)}")
            case.program = rest
        elif key == "cwd":
            need_case(n, key)
            case.cwd = rest
        elif key == "env":
            need_case(n, key)
            name, eq, value = rest.partition("=")
            if not eq or not name:
                raise ScenarioError(f"{path}:{n}: env: NAME=VALUE")
            case.env[name] = value
        elif key == "winver":
            need_case(n, key)
            case.winver = rest
        elif key == "acp":
            need_case(n, key)
            case.acp = rest
        elif key == "dir":
            need_case(n, key)
            case.setup.append(("dir", rest))
        elif key in ("file", "file-from"):
            need_case(n, key)
            target, sep, content = rest.partition(" :: ")
            if key == "file-from" and not sep:
                raise ScenarioError(f"{path}:{n}: file-from: C:\\PATH :: TESTDATA-PATH")
            case.setup.append((key, (target, content if key == "file-from" else unescape(content))))
        elif key in ("reg-add", "reg-delete"):
            need_case(n, key)
            case.setup.append((key, split_args(rest)))
        elif key == "args":
            need_case(n, key)
            case.steps.append(Step(split_args(rest or ""), n))
        elif key == "arg":
            need_step(n, key).args.append(rest)
        elif key == "stdout":
            step = need_step(n, key)
            step.stdout += rest.encode("utf-8") + b"\n"
            step.stdout_given = True
        elif key == "stdout-esc":
            step = need_step(n, key)
            step.stdout += unescape(rest)
            step.stdout_given = True
        elif key == "stdout-any":
            need_step(n, key).stdout_any = True
        elif key == "exit":
            need_step(n, key).exit = int(rest)
        elif key == "reg-query":
            need_case(n, key)
            last_query = ["reg-query", split_args(rest), [], n]
            case.checks.append(last_query)
        elif key == "reg-out":
            if last_query is None or last_query[0] != "reg-query":
                raise ScenarioError(f"{path}:{n}: 'reg-out' must follow 'reg-query'")
            last_query[2].append(rest)
        elif key == "reg-missing":
            need_case(n, key)
            case.checks.append(["reg-missing", split_args(rest), None, n])
            last_query = None
        elif key in ("file-exists", "file-absent"):
            need_case(n, key)
            case.checks.append([key, rest, None, n])
        elif key == "file-content":
            need_case(n, key)
            target, sep, content = rest.partition(" :: ")
            if not sep:
                raise ScenarioError(f"{path}:{n}: file-content: C:\\PATH :: TEXT")
            case.checks.append([key, target, unescape(content), n])
        elif key == "broadcast":
            need_case(n, key)
            case.broadcast = (case.broadcast or []) + [rest]
        elif key == "broadcast-none":
            need_case(n, key)
            case.broadcast = []
        else:
            raise ScenarioError(f"{path}:{n}: unknown directive '{key}'")
    if not cases:
        raise ScenarioError(f"{path}: no 'case:'")
    names = [c.name for c in cases]
    if len(set(n.lower() for n in names)) != len(names):
        raise ScenarioError(f"{path}: two cases with one name")
    return cases


# ---------------------------------------------------------------------------
# Placeholders


def expander(case):
    values = {
        "CASE": case.name,
        "KEY": "HKEY_CURRENT_USER\\Software\\QuillmarkE2E\\" + case.name,
        "DIR": "C:\\e2e\\" + case.name,
    }

    def expand(text):
        return re.sub(r"\{(CASE|KEY|DIR)\}", lambda m: values[m.group(1)], text)

    def expand_bytes(data):
        return re.sub(rb"\{(CASE|KEY|DIR)\}", lambda m: values[m.group(1).decode()].encode(), data)

    return expand, expand_bytes


# ---------------------------------------------------------------------------
# Comparison helpers


def normalize_lines(data):
    """CR LF to LF: the emulated machine's stdout and a Windows console
    program's differ only there, and the scenario is written once."""
    return data.replace(b"\r\n", b"\n")


def reg_blocks(text):
    """`reg query` output as comparable blocks: line ends and trailing blanks
    ignored, and the value lines of a key compared as a set (Wine lists a
    key's values sorted, Windows and the emulated machine in the order they
    were written)."""
    lines = [ln.rstrip() for ln in text.replace("\r\n", "\n").split("\n")]
    blocks, cur = [], []
    for ln in lines + [""]:
        if ln:
            cur.append(ln)
        elif cur:
            blocks.append(cur)
            cur = []
    out = []
    for b in blocks:
        if len(b) > 1 and b[1].startswith(" ") and not b[0].startswith(" "):
            out.append([b[0]] + sorted(b[1:]))
        else:
            out.append(sorted(b))
    return out


def show(data):
    if isinstance(data, bytes):
        data = data.decode("utf-8", errors="backslashreplace")
    return "\n".join("    | " + ln for ln in data.split("\n"))


def dos_to_host(drive_c, dos_path, create_parents=False):
    r"""Host path of C:\a\b under `drive_c`, each existing component found
    without regard to letter case, as Windows and the emulation look it up."""
    p = dos_path
    if len(p) >= 2 and p[1] == ":":
        if p[0].upper() != "C":
            raise ScenarioError(f"{dos_path}: only drive C: can be used by a scenario")
        p = p[2:]
    parts = [x for x in p.replace("/", "\\").split("\\") if x]
    host = drive_c
    for part in parts:
        found = None
        if os.path.isdir(host):
            exact = os.path.join(host, part)
            if os.path.lexists(exact):
                found = exact
            else:
                for entry in os.listdir(host):
                    if entry.lower() == part.lower():
                        found = os.path.join(host, entry)
                        break
        host = found or os.path.join(host, part)
    return host


# ---------------------------------------------------------------------------
# Registry setup


def setup_one_by_one(backend, steps):
    """reg add / reg delete, one process each. Deleting what is not there is
    no error: a case says what must not be there, whatever ran before it."""
    for verb, args in steps:
        args = list(args)
        if "/f" not in (a.lower() for a in args):
            args.append("/f")
        r = backend.reg(verb, args)
        if r.returncode == 0:
            continue
        if verb == "delete" and "/va" not in (a.lower() for a in args):
            target = [a for a in args if a.lower() != "/f"]
            if backend.reg("query", target).returncode != 0:
                continue
        raise RuntimeError(f"setup 'reg {verb} {' '.join(args)}' failed "
                           f"({r.returncode}):\n{show(r.stdout + r.stderr)}")


def reg_add_options(args):
    """reg add's arguments as a dict, or None when they are not understood."""
    opts = {"key": args[0] if args else None, "type": "REG_SZ", "sep": "\\0"}
    i = 1
    while i < len(args):
        a = args[i].lower()
        if a == "/f":
            i += 1
        elif a == "/ve":
            opts["name"] = ""
            i += 1
        elif a in ("/v", "/t", "/s", "/d") and i + 1 < len(args):
            opts[{"/v": "name", "/t": "type", "/s": "sep", "/d": "data"}[a]] = args[i + 1]
            i += 2
        else:
            return None
    return opts if opts["key"] else None


def reg_text(value):
    return value.replace("\\", "\\\\").replace('"', '\\"')


def reg_hex(data):
    return ",".join(f"{b:02x}" for b in data)


def reg_file_lines(steps):
    """The setup as the lines of one REGEDIT4 file, in the same order, or
    None when a step has no exact .reg form (then reg.exe runs each)."""
    lines = ["REGEDIT4", ""]
    for verb, args in steps:
        if any(ord(ch) > 126 or ord(ch) < 32 for a in args for ch in a):
            return None  # the file's code page would have to be decided
        if verb == "delete":
            low = [a.lower() for a in args]
            rest = [a for a in args[1:] if a.lower() != "/f"]
            if not args or "/va" in low:
                return None
            if not rest:
                lines += [f"[-{args[0]}]", ""]
            elif rest == ["/ve"] or [r.lower() for r in rest] == ["/ve"]:
                lines += [f"[{args[0]}]", "@=-", ""]
            elif len(rest) == 2 and rest[0].lower() == "/v":
                lines += [f"[{args[0]}]", f'"{reg_text(rest[1])}"=-', ""]
            else:
                return None
            continue
        o = reg_add_options(args)
        if o is None:
            return None
        name = o.get("name")
        # reg add without a value name gives the key an empty default value.
        target = "@" if not name else f'"{reg_text(name)}"'
        data = o.get("data", "")
        kind = o["type"].upper()
        if kind == "REG_SZ":
            value = f'"{reg_text(data)}"'
        elif kind == "REG_EXPAND_SZ":
            value = "hex(2):" + reg_hex(data.encode() + b"\0")
        elif kind == "REG_MULTI_SZ":
            parts = data.split(o["sep"]) if data else []
            if any(not p for p in parts):
                return None
            value = "hex(7):" + reg_hex(b"".join(p.encode() + b"\0" for p in parts) + b"\0")
        elif kind == "REG_DWORD":
            try:
                n = int(data[2:], 16) if data.lower().startswith("0x") else int(data, 10)
            except ValueError:
                return None
            if not 0 <= n <= 0xFFFFFFFF or (not data.lower().startswith("0x") and
                                             not data.isdigit()):
                return None
            value = f"dword:{n:08x}"
        elif kind in ("REG_BINARY", "REG_NONE"):
            try:
                raw = bytes.fromhex(data) if len(data) % 2 == 0 and " " not in data else None
            except ValueError:
                raw = None
            if raw is None:
                return None
            value = ("hex:" if kind == "REG_BINARY" else "hex(0):") + reg_hex(raw)
        else:
            return None
        lines += [f"[{o['key']}]", f"{target}={value}", ""]
    return lines


# ---------------------------------------------------------------------------
# Backends


class Native:
    name = "native"

    def __init__(self, opts):
        self.bin_dir = os.path.abspath(opts.bin_dir)
        self.work = os.path.abspath(opts.work)
        self.programs = {p: os.path.join(self.bin_dir, p) for p in KNOWN_PROGRAMS}
        self.reg_tool = os.path.join(self.bin_dir, "quillmark-reg")
        self.setup_tool = os.path.join(self.bin_dir, "qmreg-setup")
        self.prefix = None

    def unavailable(self, case):
        exe = self.programs[case.program]
        return None if os.access(exe, os.X_OK) else f"{exe} is not built"

    def begin(self, case):
        self.prefix = os.path.join(self.work, "native", case.name)
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(os.path.join(self.prefix, "drive_c"))
        self.case = case

    def end(self, passed):
        if passed:
            shutil.rmtree(self.prefix, ignore_errors=True)
        else:
            print(f"  kept the emulated machine of the failed case: {self.prefix}")

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def _env(self, extra=None):
        env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": self.prefix,
            "LANG": "C",
            "QUILLMARK_PREFIX": self.prefix,
        }
        if self.case.winver:
            env["QUILLMARK_WINVER"] = self.case.winver
        if self.case.acp:
            env["QUILLMARK_ACP"] = self.case.acp
        env.update(extra or {})
        return env

    def _tool(self, argv):
        return subprocess.run(argv, env=self._env(), capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=RUN_TIMEOUT_SECONDS)

    def run(self, program, args, cwd_host, env):
        return subprocess.run([self.programs[program]] + args, cwd=cwd_host, env=self._env(env),
                              capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=RUN_TIMEOUT_SECONDS)

    def reg(self, verb, args):
        tool = self.reg_tool if verb == "query" else self.setup_tool
        return self._tool([tool, verb] + args)

    def reg_many(self, calls):
        return [self.reg(verb, args) for verb, args in calls]

    def setup_registry(self, steps):
        setup_one_by_one(self, steps)

    def clean_key(self, key):
        pass  # a fresh machine has no scenario keys

    def broadcast_log(self):
        path = os.path.join(self.prefix, "broadcast.log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return normalize_lines(f.read()).decode("utf-8", "replace").splitlines()


class Wine:
    def __init__(self, opts, bits):
        self.name = "x86" if bits == 32 else "x64"
        self.bits = bits
        self.exe_dir = os.path.abspath(opts.exe_dir)
        self.prefix = os.path.abspath(opts.wine_prefix)
        self.programs = {p: os.path.join(self.exe_dir, p + ".exe") for p in KNOWN_PROGRAMS}
        self.case = None

    def unavailable(self, case):
        if not winerun.available():
            return "Wine is not installed"
        if not os.path.exists(os.path.join(self.prefix, "drive_c", "windows")):
            return f"no Wine prefix at {self.prefix} (the wine.prefix.start test makes it)"
        exe = self.programs[case.program]
        if not os.path.exists(exe):
            return f"{exe} is not built"
        if case.winver and case.winver in WIN9X:
            return f"Wine cannot show Windows {case.winver}"
        if case.acp:
            return "the Wine prefix's code page is fixed"
        return None

    def begin(self, case):
        self.case = case
        self.loader_faults = 0
        self._restore_shared_keys(expander(case)[0]("{KEY}"))

    def end(self, passed):
        pass

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def run(self, program, args, cwd_host, env):
        extra = dict(env)
        r = winerun.run_exe(self.prefix, self.programs[program], args, cwd=cwd_host,
                            env_extra=extra, base_env=winerun.minimal_host_env(),
                            timeout=RUN_TIMEOUT_SECONDS)
        if winerun.loader_fault(r):
            self.loader_faults += 1
        return r

    def reg(self, verb, args):
        return winerun.run_reg(self.prefix, self.bits, [verb] + args)

    def reg_many(self, calls):
        """Runs independent reg.exe calls at once: each Wine process costs
        a few tenths of a second, mostly waiting."""
        with ThreadPoolExecutor(max_workers=len(calls) or 1) as pool:
            return list(pool.map(lambda c: self.reg(*c), calls))

    def clean_key(self, key):
        pass  # done by begin(), together with the shared keys

    def setup_registry(self, steps):
        """All steps in one `reg import` when they can be written as a .reg
        file: every Wine process costs a few tenths of a second."""
        lines = reg_file_lines(steps)
        if lines is None:
            setup_one_by_one(self, steps)
            return
        path = os.path.join(self.prefix, "qm-e2e-setup.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        r = self.reg("import", [winerun_dos(self.prefix, path)])
        if r.returncode != 0:
            raise RuntimeError(f"setup: reg import failed ({r.returncode}):\n"
                               f"{show(r.stdout + r.stderr)}\n  the file:\n{show(chr(10).join(lines))}")

    def broadcast_log(self):
        return None  # a real machine's broadcast cannot be observed

    def _restore_shared_keys(self, case_key):
        """Puts the environment keys back as the prefix had them after boot,
        so that no case sees what an earlier one changed, and removes the
        case's own key (the other Windows build may have run the case)."""
        calls = [("query", [key]) for key in SHARED_KEYS] + [("delete", [case_key, "/f"])]
        shown_now = [r.stdout for r in self.reg_many(calls)[:len(SHARED_KEYS)]]
        restore = []
        for i, key in enumerate(SHARED_KEYS):
            saved = os.path.join(self.prefix, f"qm-e2e-baseline-{i}.reg")
            shown = os.path.join(self.prefix, f"qm-e2e-baseline-{i}.txt")
            now = shown_now[i]
            if not os.path.exists(saved):
                # The first case of the run records the prefix's own state.
                r = self.reg("export", [key, winerun_dos(self.prefix, saved), "/y"])
                if r.returncode != 0:
                    raise RuntimeError(f"reg export {key} failed: {r.stdout!r}")
                with open(shown, "wb") as f:
                    f.write(now)
                continue
            with open(shown, "rb") as f:
                if f.read() == now:
                    continue
            with open(saved, "rb") as f:
                text = f.read().decode("utf-16")
            # The export's own header goes; each key is removed, then written
            # back as it was, all in one import.
            body = text.split("\n", 1)[1] if text.startswith("Windows Registry") else text
            restore.append(f"\r\n[-{key}]\r\n" + body)
        if restore:
            path = os.path.join(self.prefix, "qm-e2e-restore.reg")
            with open(path, "wb") as f:
                f.write(("Windows Registry Editor Version 5.00\r\n" + "".join(restore))
                        .encode("utf-16"))
            r = self.reg("import", [winerun_dos(self.prefix, path)])
            if r.returncode != 0:
                raise RuntimeError(f"putting the environment keys back failed: {r.stdout!r}")


def winerun_dos(prefix, host_path):
    r"""The DOS name of a host file inside the prefix (C:\...) or elsewhere (Z:\...)."""
    drive_c = os.path.join(prefix, "drive_c")
    rel = os.path.relpath(host_path, drive_c)
    if not rel.startswith(".."):
        return "C:\\" + rel.replace("/", "\\")
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


# ---------------------------------------------------------------------------
# Running a case


def run_case(case, backend, testdata):
    expand, expand_bytes = expander(case)
    failures = []
    drive_c = backend.drive_c()
    case_dir = dos_to_host(drive_c, expand("{DIR}"))
    shutil.rmtree(case_dir, ignore_errors=True)
    os.makedirs(case_dir)
    backend.clean_key(expand("{KEY}"))

    registry_setup = []
    for kind, payload in case.setup:
        if kind == "dir":
            os.makedirs(dos_to_host(drive_c, expand(payload)), exist_ok=True)
        elif kind in ("file", "file-from"):
            target, content = payload
            host = dos_to_host(drive_c, expand(target))
            os.makedirs(os.path.dirname(host), exist_ok=True)
            if kind == "file":
                data = expand_bytes(content)
            else:
                with open(os.path.join(testdata, content), "rb") as f:
                    data = f.read()
            with open(host, "wb") as f:
                f.write(data)
        else:
            verb = "add" if kind == "reg-add" else "delete"
            registry_setup.append((verb, [expand(a) for a in payload]))
    # Files and the registry do not meet, so the registry steps can go
    # together, in their own order.
    if registry_setup:
        backend.setup_registry(registry_setup)

    cwd_host = dos_to_host(drive_c, expand(case.cwd or "{DIR}"))
    if not os.path.isdir(cwd_host):
        raise ScenarioError(f"case {case.name}: the current directory {case.cwd} does not exist")
    env = {k: expand(v) for k, v in case.env.items()}

    for i, step in enumerate(case.steps, 1):
        args = [expand(a) for a in step.args]
        r = backend.run(case.program, args, cwd_host, env)
        what = f"run {i} ({case.program} {' '.join(args)})"
        if r.returncode != step.exit:
            failures.append(f"{what}: exit code {r.returncode}, expected {step.exit}")
        if not step.stdout_any:
            got = normalize_lines(r.stdout)
            want = normalize_lines(expand_bytes(step.stdout))
            if got != want:
                failures.append(f"{what}: standard output differs\n  expected:\n{show(want)}\n"
                                f"  got:\n{show(got)}")
        if failures and r.stderr:
            failures.append(f"{what}: standard error:\n{show(r.stderr)}")

    queries = [("query", [expand(a) for a in payload])
               for kind, payload, _, _ in case.checks if kind in ("reg-query", "reg-missing")]
    answers = iter(backend.reg_many(queries))
    for kind, payload, extra, n in case.checks:
        if kind in ("reg-query", "reg-missing"):
            args = [expand(a) for a in payload]
            r = next(answers)
            text = r.stdout.decode("utf-8", "replace")
            if kind == "reg-missing":
                if r.returncode == 0:
                    failures.append(f"line {n}: reg query {' '.join(args)} found it:\n{show(text)}")
                continue
            want = [expand(x) for x in extra]
            if r.returncode != 0:
                failures.append(f"line {n}: reg query {' '.join(args)} failed ({r.returncode}):\n"
                                f"{show(text + r.stderr.decode('utf-8', 'replace'))}")
            elif reg_blocks(text) != reg_blocks("\n".join(want)):
                failures.append(f"line {n}: reg query {' '.join(args)}\n  expected:\n"
                                f"{show(chr(10).join(want))}\n  got:\n{show(text)}")
        else:
            host = dos_to_host(drive_c, expand(payload))
            if kind == "file-exists" and not os.path.exists(host):
                failures.append(f"line {n}: {expand(payload)} does not exist")
            elif kind == "file-absent" and os.path.lexists(host):
                failures.append(f"line {n}: {expand(payload)} exists")
            elif kind == "file-content":
                if not os.path.isfile(host):
                    failures.append(f"line {n}: {expand(payload)} does not exist")
                else:
                    with open(host, "rb") as f:
                        got = f.read()
                    want = expand_bytes(extra)
                    if got != want:
                        failures.append(f"line {n}: {expand(payload)} differs\n  expected:\n"
                                        f"{show(want)}\n  got:\n{show(got)}")

    if case.broadcast is not None:
        got = backend.broadcast_log()
        want = [expand(x) for x in case.broadcast]
        if got is not None and got != want:
            failures.append("broadcast.log differs\n  expected:\n" + show("\n".join(want)) +
                            "\n  got:\n" + show("\n".join(got)))
    return failures


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--backend", choices=BACKENDS, required=True)
    ap.add_argument("--bin-dir", help="native: directory of quillmark, quillmark-reg, qmreg-setup")
    ap.add_argument("--exe-dir", help="x86/x64: directory of quillmark.exe")
    ap.add_argument("--wine-prefix", help="x86/x64: the test run's Wine prefix")
    ap.add_argument("--work", default=os.path.join(os.getcwd(), "e2e-work"),
                    help="native: where the per-case machines are made")
    ap.add_argument("--testdata", default=os.path.join(HERE, "..", "..", "..", "shared",
                                                       "testdata"))
    ap.add_argument("--case", help="run only the case with this name (after the file's stem)")
    ap.add_argument("scenario")
    opts = ap.parse_args(argv[1:])

    try:
        cases = parse(opts.scenario)
    except ScenarioError as e:
        print(f"scenario error: {e}")
        return 1
    if opts.backend == "native":
        if not opts.bin_dir:
            ap.error("--bin-dir is needed for the native backend")
        backend = Native(opts)
    else:
        if not opts.exe_dir or not opts.wine_prefix:
            ap.error("--exe-dir and --wine-prefix are needed for a Wine backend")
        backend = Wine(opts, 32 if opts.backend == "x86" else 64)

    ran = failed = 0
    for case in cases:
        if opts.case and case.name.split(".", 1)[1] != opts.case:
            continue
        if case.backends and backend.name not in case.backends:
            continue
        why = backend.unavailable(case)
        if why:
            print(f"SKIP {case.name} [{backend.name}]: {why}")
            continue
        ran += 1
        for attempt in (1, 2):
            try:
                backend.begin(case)
                failures = run_case(case, backend, opts.testdata)
            except (ScenarioError, RuntimeError, OSError, subprocess.TimeoutExpired) as e:
                failures = [f"could not run: {e}"]
            # A run whose result Wine's loader lost cannot be judged; the case
            # starts from a clean key and directory, so it is made once more.
            if not failures or not getattr(backend, "loader_faults", 0) or attempt == 2:
                break
            print(f"note: {case.name} [{backend.name}]: Wine's loader failed as a run ended; "
                  "the case runs again")
        backend.end(not failures)
        if failures:
            failed += 1
            print(f"FAIL {case.name} [{backend.name}] ({os.path.basename(opts.scenario)}:"
                  f"{case.line})")
            for f in failures:
                print("  " + f)
        else:
            print(f"ok   {case.name} [{backend.name}]")
    if failed:
        return 1
    return 0 if ran else SKIP


if __name__ == "__main__":
    sys.exit(main(sys.argv))
