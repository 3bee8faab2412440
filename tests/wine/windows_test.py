#!/usr/bin/env python3
"""What quillmark.exe does to the rest of a Windows machine, under Wine.

windows_test.py turns PREFIX BUILD_DIR VERSION: its manifest and version; concurrent
runs keep every update; the machine's turn is taken over from a killed holder at once,
from a hung one after the bounded wait. windows_test.py broadcast PREFIX BUILD_DIR:
which runs tell running programs (under an Xvfb of its own) that the environment
changed. BUILD_DIR holds quillmark.exe and probe.exe. Exit 77 when something is missing.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winerun  # noqa: E402

SUCCEEDED = "Succeeded in doing speicified operation(s)!\n"
HUNG_LINE = ("quillmark: another run has kept the machine for 30 s; "
             "going on without waiting for it\n")
OK = [(code, SUCCEEDED, "") for code in (0, None)]  # the outcome of a run that succeeded
USER_ENV = r"HKCU\Environment"
SYSTEM_ENV = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
GS_KEY = r"HKLM\SOFTWARE\GPL Ghostscript"
CASE_KEY = r"HKEY_CURRENT_USER\Software\QuillmarkWindowsTest"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def text(b):
    return b.decode(errors="replace").replace("\r\n", "\n")


def start(args, out, extra=None):
    """Starts a Windows program with its output going to the file `out`."""
    loader = winerun.WINE32 if winerun.pe_machine(args[0]) == 0x14C else winerun.WINE64
    p = subprocess.Popen([loader] + args, env=winerun.wine_env(PREFIX, extra=extra),
                         stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT)
    p.stdout = out  # kept open while the program runs
    return p


def start_probe(args, extra=None):
    """Starts probe.exe and returns once it has printed "ready"."""
    p = start([PROBE] + args, tempfile.NamedTemporaryFile(), extra)
    while b"ready" not in open(p.stdout.name, "rb").read():
        if p.poll() is not None:
            output = open(p.stdout.name, "rb").read()
            raise RuntimeError(f"probe {args} ended with {p.returncode}: {output!r}")
        time.sleep(0.02)
    return p


def qm(args, extra=None, repeatable=True):
    return winerun.run_exe(PREFIX, EXE, args, env=extra, repeatable=repeatable)


def outcome(code, out, err=b""):
    """A run's exit code, standard output and standard error. When Wine's
    loader failed as the run ended, the run had finished: its exit code is
    unknown (None), its output is whole up to the loader's message."""
    if code == 127 and winerun.LOADER_FAULT in out + err:
        code, out, err = (None, *(b.split(winerun.LOADER_FAULT)[0] for b in (out, err)))
    return code, text(out), text(err)


def reg(*args):
    return winerun.run_reg(PREFIX, BITS, list(args))


def values(key):
    """{name: (type, data)} of a key's values, as reg query shows them."""
    lines = text(reg("query", key).stdout).splitlines()
    found = (re.match(r"^ {4}(.*?) {4}(REG_\w+)(?: {4}(.*))?$", s) for s in lines)
    return {m[1]: (m[2], m[3] or "") for m in found if m}


def restore(key, saved):
    """Puts back the values of `key` that `values` saw; removes the others."""
    now = values(key)
    for name in set(now) - set(saved):
        reg("delete", key, "/v", name, "/f")
    for name, (kind, data) in saved.items():
        if now.get(name) != (kind, data):
            reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")


def state(key):
    """The environment in `key`, with Path as a set (runs that add to it at
    once may add in any order) under the name "Path" whatever its case."""
    path = lambda name: name.lower() == "path"  # noqa: E731
    return {("Path" if path(n) else n): (t, frozenset(d.split(";")) if path(n) else d)
            for n, (t, d) in values(key).items()}


def together(arglists):
    """Starts every run at once; returns each one's outcome. A run that
    Wine's loader failed as it ended is not made again: that would hide an
    update it lost."""
    procs = [start([EXE] + args, tempfile.TemporaryFile()) for args in arglists]
    for p in procs:
        p.wait(timeout=120)
        p.stdout.seek(0)
    return [outcome(p.returncode, p.stdout.read()) for p in procs]


def test_resources(version):
    """The manifest and the version resource, as they stand in the exe's bytes."""
    pe = open(EXE, "rb").read()
    check(b'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' in pe, "manifest: asInvoker")
    for name, want in (("ProductName", "Quillmark"), ("OriginalFilename", "quillmark.exe"),
                       ("FileVersion", version), ("ProductVersion", version)):
        # A String of the table: its key, a terminator, padding to 4 bytes, its value.
        check(re.search(re.escape(name.encode("utf-16-le")) + b"\0\0(?:\0\0)?" +
                        re.escape(want.encode("utf-16-le")) + b"\0\0", pe), f"version: {name} {want}")
    major, minor, patch = (int(n) for n in version.split("."))
    fixed = pe.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO
    check(fixed > 0 and struct.unpack_from("<II", pe, fixed + 8) == (major << 16 | minor, patch << 16),
          f"fixed file version {version}")


def test_concurrency():
    dirs = [rf"C:\cc\d{n}" for n in range(16)] + [rf"C:\cc\{k}{n}" for k in "ar" for n in range(8)]
    for d in dirs + [r"C:\cc\base"]:
        os.makedirs(os.path.join(PREFIX, "drive_c", *d[3:].split("\\")), exist_ok=True)
    for rep in range(5):
        reg("add", USER_ENV, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", r"C:\cc\base", "/f")
        runs = together([["-no-refresh", "-user", "+path", d] for d in dirs[:16]])
        check(all(r in OK for r in runs), f"16 runs at once, rep {rep}: {runs}")
        got = state(USER_ENV)["Path"][1]
        check(got == {r"C:\cc\base", *dirs[:16]}, f"16 at once keep 16, rep {rep}: {sorted(got)}")

    # Additions, removals and variables at once: each run's change is its
    # own, so one run after another leaves the same in any order.
    mix = ([["-no-refresh", "-user", "+path", rf"C:\cc\a{n}"] for n in range(8)] +
           [["-no-refresh", "-user", "-path", rf"C:\cc\r{n}"] for n in range(8)] +
           [["-no-refresh", "-user", "=env", f"QmMix{n}", f"value {n}"] for n in range(8)])

    def reset():
        for n in range(8):
            reg("delete", USER_ENV, "/v", f"QmMix{n}", "/f")
        path = ";".join([r"C:\cc\base"] + [rf"C:\cc\r{n}" for n in range(8)])
        reg("add", USER_ENV, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", path, "/f")

    reset()
    for args in mix:
        qm(args)
    one_by_one = state(USER_ENV)
    check(one_by_one["Path"][1] == {r"C:\cc\base", *(rf"C:\cc\a{n}" for n in range(8))},
          f"the mix one after another: {one_by_one}")
    reset()
    runs = together(mix)
    check(all(r in OK for r in runs), f"the mix at once: {runs}")
    check(state(USER_ENV) == one_by_one, f"the mix at once: {state(USER_ENV)} != {one_by_one}")


def test_holders():
    # (how the holder ends, seconds the next run may take at least and at most, its stderr)
    cases = [("killed", 0, 10, ""), ("hung", 29.5, 45, HUNG_LINE)]
    for how, least, most, stderr in cases:
        mine = rf"C:\cc\after-{how}"
        os.makedirs(os.path.join(PREFIX, "drive_c", "cc", f"after-{how}"), exist_ok=True)
        holder = start_probe(["hold", "600"])
        try:
            if how == "killed":
                holder.kill()
                holder.wait()
            t0 = time.monotonic()
            # Not made again if Wine's loader fails at its end: the time it
            # took would be lost with it.
            r = qm(["-no-refresh", "-user", "+path", mine], repeatable=False)
            took = time.monotonic() - t0
        finally:
            holder.kill()
            holder.wait()
        print(f"holder {how}: the next run took {took:.1f} s")
        check(least <= took <= most, f"holder {how}: the next run took {took:.1f} s")
        code, out, err = outcome(r.returncode, r.stdout, r.stderr)
        check(code in (0, None) and (out, err) == (SUCCEEDED, stderr), f"holder {how}: {r}")
        check(mine in state(USER_ENV)["Path"][1], f"holder {how}: the run's change is kept")


# (a run's arguments, the broadcasts that running programs receive from it)
BROADCASTS = [
    (["-user", "=env", "QmProbe", "1"], ["WM_SETTINGCHANGE Environment"]),
    (["-no-refresh", "-user", "=env", "QmProbe", "2"], []),
    (["-user", "-path", r"C:\not-there-xyz"], []),  # fails: nothing changed
    (["-user", "+path", r"C:\windows;;C:\cc"], []),  # an empty piece: nothing written
    (["+regv", CASE_KEY, "Name", "text"], []),  # the registry, not the environment
    (["-refresh"], ["WM_SETTINGCHANGE Environment"]),
    (["+gswin32c"], ["WM_SETTINGCHANGE Environment"]),  # on the system Path
]


def start_xvfb():
    """Starts Xvfb on a display number it finds free; returns it and ":N"."""
    read, write = os.pipe()
    log = tempfile.TemporaryFile()
    x = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"], pass_fds=(write,),
                         stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    os.close(write)
    with os.fdopen(read, "rb") as f:  # the number, once Xvfb is ready; nothing if it failed
        number = f.readline().strip().decode()
    if not number:
        log.seek(0)
        raise RuntimeError(f"Xvfb ended with {x.wait()}: {log.read().decode(errors='replace')}")
    return x, ":" + number


def wait_for_displayless_desktop():
    """Wine's desktop is an explorer.exe process of the prefix, started for the
    first window and ended a few seconds after its last user. One started
    without a display (by wineboot, or for a run that broadcast without one)
    cannot show the listener's window: wait for it to end, so that the
    listener starts a desktop on the test's display."""
    def desktop_of_prefix(pid):
        try:
            cmd, env = (open(f"/proc/{pid}/{f}", "rb").read() for f in ("cmdline", "environ"))
        except OSError:
            return False
        return b"explorer.exe" in cmd and f"WINEPREFIX={PREFIX}".encode() in env.split(b"\0")
    deadline = time.monotonic() + 60
    while any(desktop_of_prefix(pid) for pid in os.listdir("/proc") if pid.isdigit()):
        if time.monotonic() > deadline:
            raise RuntimeError("the prefix's desktop has not ended in 60 s")
        time.sleep(0.1)


def test_broadcast():
    gs_existed = reg("query", GS_KEY).returncode == 0
    os.makedirs(os.path.join(PREFIX, "drive_c", "gsqm", "bin"), exist_ok=True)
    reg("add", GS_KEY + r"\99.1", "/v", "GS_DLL", "/d", r"C:\gsqm\bin\gsdll32.dll", "/f")
    system = values(SYSTEM_ENV)
    xvfb, display = start_xvfb()
    log = os.path.join(PREFIX, "drive_c", "qm-broadcasts.log")
    open(log, "w").close()
    try:
        wait_for_displayless_desktop()
        listener = start_probe(["listen", r"C:\qm-broadcasts.log"], {"DISPLAY": display})
        seen = 0
        for args, want in BROADCASTS:
            # Not made again if Wine's loader fails at its end: it has
            # broadcast already, and would broadcast twice.
            qm(args, {"DISPLAY": display}, repeatable=False)
            lines = open(log).read().splitlines()
            check(lines[seen:] == want, f"{args} broadcast {lines[seen:]}, not {want}")
            seen = len(lines)
        check(r"C:\gsqm\bin" in state(SYSTEM_ENV)["Path"][1], "+gswin32c changed the system Path")
        listener.stdin.close()
        listener.wait(timeout=60)
    finally:
        xvfb.terminate()
        xvfb.wait()
        restore(SYSTEM_ENV, system)
        reg("delete", GS_KEY if not gs_existed else GS_KEY + r"\99.1", "/f")
        reg("delete", CASE_KEY, "/f")


def main(argv):
    global PREFIX, EXE, PROBE, BITS
    part, PREFIX, build = argv[1:4]
    PREFIX = os.path.abspath(PREFIX)
    EXE, PROBE = (os.path.join(build, name) for name in ("quillmark.exe", "probe.exe"))
    missing = [what for what, there in (
        ("Wine", winerun.available()), (PREFIX, os.path.isdir(PREFIX)), (EXE, os.path.isfile(EXE)),
        (PROBE, os.path.isfile(PROBE)),
        ("Xvfb (package xvfb): Wine needs a display to deliver broadcasts",
         part != "broadcast" or shutil.which("Xvfb"))) if not there]
    if missing:
        print("skipped; missing:", ", ".join(missing))
        return winerun.SKIP
    BITS = 32 if winerun.pe_machine(EXE) == 0x14C else 64
    user = values(USER_ENV)
    try:
        if part == "turns":
            test_resources(argv[4])
            test_concurrency()
            test_holders()
        else:
            test_broadcast()
    finally:
        restore(USER_ENV, user)
    print(f"{os.path.basename(build)} {part}: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
