#!/usr/bin/env python3
"""Runs Windows programs under Wine for the tests: one WINEPREFIX per test run.

A test run creates its prefix once (`start`), every test then runs its .exe
files in it (`exec`, or `run_exe` from Python), and the run ends with `stop`.
`start` boots the prefix with both loaders present, so 32-bit and 64-bit .exe
files run in it, and leaves a persistent wineserver behind: without it every
Wine process would start (and wait for) a server of its own, which is most of
Wine's start-up cost.

    winerun.py available                 exit 0 when Wine can run both kinds
    winerun.py start PREFIX              create and boot a fresh prefix
    winerun.py stop PREFIX               stop its wineserver, remove it
    winerun.py exec PREFIX EXE [ARG...]  run EXE (loader chosen from its
                                         PE header), exit with its exit code
    winerun.py reg PREFIX 32|64 ARG...   run the prefix's reg.exe (32: the
                                         WOW64 view that a 32-bit .exe sees)

Nothing here asks the user anything: Wine's Mono and Gecko installers and the
menu builder are disabled.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

WINE32 = os.environ.get("QM_WINE32", "/usr/lib/wine/wine")
WINE64 = os.environ.get("QM_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("QM_WINESERVER", "/usr/lib/wine/wineserver")

# A test's exit code for "could not run here" (ctest SKIP_RETURN_CODE).
SKIP = 77

# The persistent wineserver ends on its own this long after the last Wine
# process, so that an interrupted test run does not leave it behind forever.
SERVER_LINGER_SECONDS = 600

AEDEBUG = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"
NO_DEBUGGER = r"C:\windows\qm-no-debugger.exe %ld %ld"


def available():
    return all(os.access(p, os.X_OK) for p in (WINE32, WINE64, WINESERVER))


def minimal_host_env():
    """The few host variables a Wine process needs, for runs whose result
    must not depend on the environment of whoever runs the tests (Wine hands
    every host variable on to the Windows program)."""
    env = {"PATH": "/usr/local/bin:/usr/bin:/bin"}
    for name in ("HOME", "USER", "LOGNAME", "TMPDIR"):
        if name in os.environ:
            env[name] = os.environ[name]
    return env


def wine_env(prefix, extra=None, base=None):
    """The environment a Wine process gets: quiet, non-interactive, `prefix`."""
    env = dict(os.environ if base is None else base)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree=;mshtml=;winemenubuilder.exe=",
        "WINEARCH": "win64",
    })
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    # Wine takes the ANSI code page of its programs from the Unix locale: pin
    # it, so that the results do not depend on the machine that runs them.
    for name in [k for k in env if k.startswith("LC_")]:
        del env[name]
    env["LANG"] = "C.UTF-8"
    if extra:
        env.update(extra)
    return env


def pe_machine(path):
    """The machine field of a PE file: 0x14c (i386), 0x8664 (x86-64), or None."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if len(head) < 64 or head[:2] != b"MZ":
        return None
    (pe_offset,) = struct.unpack_from("<I", head, 0x3C)
    if pe_offset + 6 > len(head) or head[pe_offset:pe_offset + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", head, pe_offset + 4)
    return machine


def loader_for(exe):
    machine = pe_machine(exe)
    if machine == 0x14C:
        return WINE32
    if machine == 0x8664:
        return WINE64
    raise ValueError(f"{exe}: not a 32-bit or 64-bit Windows executable")


def _run(cmd, env, cwd=None, timeout=120):
    """subprocess.run with the output captured through files, not pipes: a
    Wine process may leave services behind that hold inherited pipes open,
    and a pipe reader would wait for them. Only the process itself counts."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        r = subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(cmd, r.returncode, out.read(), err.read())


def start(prefix):
    """Creates `prefix` afresh, boots it and leaves a persistent wineserver."""
    if os.path.isdir(prefix):
        stop(prefix)
    os.makedirs(prefix)
    env = wine_env(prefix)
    t0 = time.monotonic()
    # The server outlives this process: it must not hold on to our output,
    # or whoever reads it (ctest) would wait for the server to end.
    subprocess.run([WINESERVER, f"-p{SERVER_LINGER_SECONDS}"], env=env, cwd=prefix, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    boot = _run([WINE64, "wineboot", "--init"], env=env, timeout=300)
    if loader_fault(boot):  # booting a booted prefix again changes nothing
        boot = _run([WINE64, "wineboot", "--init"], env=env, timeout=300)
    if boot.returncode != 0:
        sys.stderr.write(boot.stderr.decode(errors="replace"))
        raise RuntimeError(f"wineboot failed with {boot.returncode}")
    # wineboot returns before the server has written the new registry out;
    # both views must exist before the first test looks at them.
    for sub in ("drive_c/windows/system32/reg.exe", "drive_c/windows/syswow64/reg.exe"):
        if not os.path.exists(os.path.join(prefix, sub)):
            raise RuntimeError(f"{prefix}: {sub} missing; are wine64 and wine32 both installed?")
    # A program that crashes ends at once with its exception code instead of
    # waiting for winedbg to write a backtrace (many seconds, output mixed
    # into the program's): the debugger named here does not exist, and
    # without any Wine would start winedbg.
    for bits in (64, 32):
        run_reg(prefix, bits, ["add", AEDEBUG, "/v", "Debugger", "/d", NO_DEBUGGER, "/f"])
    return time.monotonic() - t0


def stop(prefix):
    """Stops the prefix's wineserver and removes the prefix."""
    if os.path.isdir(prefix):
        subprocess.run([WINESERVER, "-k"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


# Now and then Wine's own host-side loader trips glibc's assertion in _dl_fini
# as the Wine process ends, after the Windows program has finished: the exit
# code is then ld.so's 127, not the program's. The program's result is lost,
# not wrong, so a run that may be repeated is repeated.
LOADER_FAULT = b"Inconsistency detected by ld.so"
LOADER_FAULT_RERUNS = 2


def loader_fault(r):
    """True when `r` ended by Wine's loader failing, not by the program."""
    return r.returncode == 127 and LOADER_FAULT in r.stderr


def run_exe(prefix, exe, args, cwd=None, env_extra=None, base_env=None, timeout=120,
            repeatable=False):
    """Runs a Windows executable (host path) in `prefix`; returns CompletedProcess
    with bytes stdout/stderr. `cwd` is a host directory (inside the prefix's
    drive_c it is C:\\... to the program). `repeatable`: running it twice
    leaves what running it once does, so a run lost to Wine's loader is made
    again."""
    cmd = [loader_for(exe), exe] + list(args)
    env = wine_env(prefix, env_extra, base_env)
    r = _run(cmd, env, cwd=cwd, timeout=timeout)
    for _ in range(LOADER_FAULT_RERUNS if repeatable else 0):
        if not loader_fault(r):
            break
        sys.stderr.write(f"note: Wine's loader failed as {os.path.basename(exe)} ended; "
                         "running it again\n")
        r = _run(cmd, env, cwd=cwd, timeout=timeout)
    return r


def reg_exe(prefix, bits):
    """Host path of the prefix's reg.exe for the 32-bit or 64-bit view."""
    sub = "syswow64" if bits == 32 else "system32"
    return os.path.join(prefix, "drive_c", "windows", sub, "reg.exe")


def run_reg(prefix, bits, args, timeout=60):
    # Every verb but delete leaves the same registry when made twice; a
    # delete made again would fail on what the first one removed.
    repeatable = bool(args) and args[0].lower() != "delete"
    return run_exe(prefix, reg_exe(prefix, bits), args, timeout=timeout, repeatable=repeatable)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    cmd = argv[1]
    if cmd == "available":
        return 0 if available() else 1
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    prefix = os.path.abspath(argv[2])
    if cmd == "start":
        if not available():
            print("Wine is not installed; nothing to start")
            return 0
        seconds = start(prefix)
        print(f"wine prefix {prefix} ready in {seconds:.1f} s")
        return 0
    if cmd == "stop":
        stop(prefix)
        return 0
    if cmd in ("exec", "reg"):
        if not available() or not os.path.isdir(prefix):
            sys.stderr.write("Wine or the prefix is not there; skipped\n")
            return SKIP
        if cmd == "exec":
            r = run_exe(prefix, argv[3], argv[4:])
        else:
            r = run_reg(prefix, 32 if argv[3] == "32" else 64, argv[4:])
        sys.stdout.buffer.write(r.stdout)
        sys.stderr.buffer.write(r.stderr)
        return r.returncode
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
