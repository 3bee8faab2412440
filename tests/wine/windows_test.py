#!/usr/bin/env python3
"""What quillmark.exe does to the rest of a Windows machine, under Wine.

`turns PREFIX BUILD_DIR VERSION`: the manifest and version; runs at once keep
every update; the machine's turn is taken over from a killed holder at once
and from a hung one after the bounded wait. `broadcast PREFIX BUILD_DIR`:
which runs tell running programs (under an Xvfb of its own) that the
environment changed. BUILD_DIR holds quillmark.exe and probe.exe. Exit 77 when
something is missing.
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

OK = "Succeeded in doing speicified operation(s)!\n"
HUNG = "quillmark: another run has kept the machine for 30 s; going on without waiting for it\n"
USER_ENV = r"HKCU\Environment"
SYSTEM_ENV = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
GS_KEY = r"HKLM\SOFTWARE\GPL Ghostscript"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def start(args, extra=None):
    """Starts a Windows program, its output into a file; .out is that file."""
    out = tempfile.NamedTemporaryFile()
    p = subprocess.Popen(winerun.command(args[0], args[1:]), env=winerun.wine_env(PREFIX, extra=extra),
                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    p.out = out
    return p


def start_probe(args, extra=None):
    p = start([PROBE] + args, extra)
    while b"ready" not in open(p.out.name, "rb").read():
        if p.poll() is not None:
            if winerun.start_fault(p.returncode, open(p.out.name, "rb").read()):
                return start_probe(args, extra)
            raise RuntimeError(f"probe {args} ended with {p.returncode}")
        time.sleep(0.02)
    return p


def outcome(code, out, err=b""):
    """Exit code, output, error. When Wine's loader failed as the run ended,
    the run had finished: its code is unknown (None), its output whole."""
    if code == 127 and winerun.LOADER_FAULT in out + err:
        code, out, err = (None, *(b.split(winerun.LOADER_FAULT)[0] for b in (out, err)))
    return code, *(b.decode(errors="replace").replace("\r\n", "\n") for b in (out, err))


def qm(args, extra=None):  # never made again: a lost update or a second broadcast would hide
    r = winerun.run_exe(PREFIX, EXE, args, env=extra)
    return outcome(r.returncode, r.stdout, r.stderr)


def reg(*args):
    return winerun.run_reg(PREFIX, BITS, list(args))


def values(key):
    """{name: (type, data)} as reg query shows them."""
    found = (re.match(r"^ {4}(.*?) {4}(REG_\w+)(?: {4}(.*))?$", ln)
             for ln in reg("query", key).stdout.decode(errors="replace").splitlines())
    return {m[1]: (m[2], m[3] or "") for m in found if m}


def state(key):
    """values(), with Path as a set under that name: runs at once add in any order."""
    return {("Path" if n.lower() == "path" else n): (t, frozenset(d.split(";")) if n.lower() == "path"
                                                     else d) for n, (t, d) in values(key).items()}


def restore(key, saved):
    now = values(key)
    for name in set(now) - set(saved):
        reg("delete", key, "/v", name, "/f")
    for name, (kind, data) in saved.items():
        if now.get(name) != (kind, data):
            reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")


def together(arglists):
    procs = [start([EXE] + args) for args in arglists]
    runs = [(p.wait(timeout=120), open(p.out.name, "rb").read()) for p in procs]
    # A run that Wine could not start never ran: it runs after the others.
    return [qm(args) if winerun.start_fault(*run) else outcome(*run) for args, run in zip(arglists, runs)]


def test_turns(version):
    pe = open(EXE, "rb").read()  # the manifest and version resources, as stored
    check(b'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' in pe, "manifest: asInvoker")
    for name, want in (("ProductName", "Quillmark"), ("OriginalFilename", "quillmark.exe"),
                       ("FileVersion", version), ("ProductVersion", version)):
        check(re.search(re.escape(name.encode("utf-16-le")) + b"\0\0(?:\0\0)?" +
                        re.escape(want.encode("utf-16-le")) + b"\0\0", pe), f"version: {name} {want}")
    major, minor, patch = (int(n) for n in version.split("."))
    fixed = pe.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO
    check(fixed > 0 and struct.unpack_from("<II", pe, fixed + 8) == (major << 16 | minor, patch << 16),
          f"fixed file version {version}")

    dirs = {k: [rf"C:\cc\{k}{n}" for n in range(16 if k == "a" else 8)] for k in "ar"}
    for d in sum(dirs.values(), [r"C:\cc\base"]) + [r"C:\cc\after-killed", r"C:\cc\after-hung"]:
        os.makedirs(os.path.join(PREFIX, "drive_c", *d[3:].split("\\")), exist_ok=True)
    ok = [(code, OK, "") for code in (0, None)]
    # 16 additions, 8 removals and 8 variables at once, five times: each run's
    # change is its own, so they must leave what they leave one after another.
    mix = ([["-no-refresh", "-user", "+path", d] for d in dirs["a"]] +
           [["-no-refresh", "-user", "-path", d] for d in dirs["r"]] +
           [["-no-refresh", "-user", "=env", f"QmMix{n}", f"value {n}"] for n in range(8)])
    for rep in ["one by one"] + list(range(5)):
        for n in range(8):
            reg("delete", USER_ENV, "/v", f"QmMix{n}", "/f")
        reg("add", USER_ENV, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", ";".join([r"C:\cc\base"] + dirs["r"]), "/f")
        runs = [qm(args) for args in mix] if rep == "one by one" else together(mix)
        got = state(USER_ENV)
        if rep == "one by one":
            one_by_one = got
            check(got["Path"][1] == {r"C:\cc\base", *dirs["a"]}, f"the mix one by one: {got}")
        check(all(r in ok for r in runs) and got == one_by_one, f"the mix, {rep}: {runs} {got} != {one_by_one}")

    # (the holder's end, seconds the next run may take at least and at most, its stderr)
    for how, least, most, stderr in [("killed", 0, 10, ""), ("hung", 29.5, 45, HUNG)]:
        holder = start_probe(["hold", "600"])
        if how == "killed":
            holder.kill()
            holder.wait()
        began = time.monotonic()
        code, out, err = qm(["-no-refresh", "-user", "+path", rf"C:\cc\after-{how}"])
        took = time.monotonic() - began
        holder.kill()
        holder.wait()
        check(least <= took <= most and code in (0, None) and (out, err) == (OK, stderr)
              and rf"C:\cc\after-{how}" in state(USER_ENV)["Path"][1],
              f"holder {how}: the next run took {took:.1f} s: {code} {out!r} {err!r}")


# (a run's arguments, the broadcasts that running programs receive from it)
BROADCASTS = [
    (["-user", "=env", "QmProbe", "1"], ["WM_SETTINGCHANGE Environment"]),
    (["-no-refresh", "-user", "=env", "QmProbe", "2"], []),
    (["-user", "-path", r"C:\not-there-xyz"], []),  # fails: nothing changed
    (["-user", "+path", r"C:\windows;;C:\cc"], []),  # an empty piece: nothing written
    (["+regv", r"HKEY_CURRENT_USER\Software\QuillmarkWindowsTest", "Name", "text"], []),
    (["-refresh"], ["WM_SETTINGCHANGE Environment"]),
    (["+gswin32c"], ["WM_SETTINGCHANGE Environment"]),  # on the system Path, then the run ends
]


def test_broadcast():
    os.makedirs(os.path.join(PREFIX, "drive_c", "gsqm", "bin"), exist_ok=True)
    reg("delete", GS_KEY, "/f")
    reg("add", GS_KEY + r"\99.1", "/v", "GS_DLL", "/d", r"C:\gsqm\bin\gsdll32.dll", "/f")
    system, log = values(SYSTEM_ENV), os.path.join(PREFIX, "drive_c", "qm-broadcasts.log")
    open(log, "w").close()
    read, write = os.pipe()  # Xvfb writes its display number there once it is ready
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"], pass_fds=(write,),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    display = {"DISPLAY": ":" + os.fdopen(read).readline().strip()}
    try:
        # Wine's desktop (explorer.exe), started without a display by wineboot or
        # by a run that broadcast without one, lingers a few seconds and cannot
        # show the listener's window: wait for it to end.
        def desktops():
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    cmd, env = (open(f"/proc/{pid}/{f}", "rb").read() for f in ("cmdline", "environ"))
                    yield b"explorer.exe" in cmd and f"WINEPREFIX={PREFIX}".encode() in env.split(b"\0")
                except OSError:
                    pass
        deadline = time.monotonic() + 60
        while any(desktops()) and time.monotonic() < deadline:
            time.sleep(0.1)
        listener = start_probe(["listen", r"C:\qm-broadcasts.log"], display)
        seen = 0
        for args, want in BROADCASTS:
            qm(args, display)
            lines = open(log).read().splitlines()
            check(lines[seen:] == want, f"{args} broadcast {lines[seen:]}, not {want}")
            seen = len(lines)
        check(r"C:\gsqm\bin" in state(SYSTEM_ENV)["Path"][1], "+gswin32c changed the system Path")
        listener.kill()
    finally:
        xvfb.terminate()
        restore(SYSTEM_ENV, system)
        reg("delete", GS_KEY, "/f")


def main():
    global PREFIX, EXE, PROBE, BITS
    part, PREFIX, build = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
    EXE, PROBE = (os.path.join(build, name) for name in ("quillmark.exe", "probe.exe"))
    missing = [what for what, there in (
        ("Wine", winerun.available()), (PREFIX, os.path.isdir(PREFIX)), (EXE, os.path.isfile(EXE)),
        (PROBE, os.path.isfile(PROBE)), ("Xvfb", part != "broadcast" or shutil.which("Xvfb"))) if not there]
    if missing:
        print("skipped; missing:", ", ".join(missing))
        return winerun.SKIP
    BITS = winerun.bits(EXE)
    user = values(USER_ENV)
    try:
        test_turns(sys.argv[4]) if part == "turns" else test_broadcast()
    finally:
        restore(USER_ENV, user)
    print(f"{os.path.basename(build)} {part}: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
