#!/usr/bin/env python3
"""Runs Windows programs under Wine for the tests: one WINEPREFIX per test run.

    winerun.py start PREFIX     create and boot a fresh prefix (32- and 64-bit)
    winerun.py stop PREFIX      stop its wineserver and remove it
    winerun.py run PREFIX EXE [ARG...]   run EXE there (a run that may be
                                made twice); its exit code, 77 if it cannot

`start` leaves a persistent wineserver behind, or every Wine process would
start (and wait for) a server of its own, most of Wine's start-up cost.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SKIP = 77  # ctest SKIP_RETURN_CODE: could not run here
LANGS = {936: "zh_CN.UTF-8", 1252: "en_US.UTF-8"}  # the ANSI code page: LANG, if the locale exists
# The code page reg.exe writes to a pipe in: the console's, the OEM one.
OEM = {936: "gbk", 1252: "cp437"}
# Now and then, after the program has finished, Wine's host-side loader trips
# glibc's _dl_fini assertion: the exit code is ld.so's 127, the result lost.
LOADER_FAULT = b"Inconsistency detected by ld.so"
# Debian's Wine has no preloader: now and then (one start in ~2,000, many at once) the host
# holds the page Windows shares with every process; Wine exits 1 before the program starts.
START_FAULT = b"err:virtual:virtual_alloc_first_teb"


def available():
    return all(os.access(p, os.X_OK) for p in (WINE32, WINE64, WINESERVER))


def wine_env(prefix, codepage=1252, extra=None):  # Wine hands all it is given on to the program
    env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "WINEPREFIX": prefix, "WINEARCH": "win64",
           "LANG": LANGS[codepage], "WINEDEBUG": "-all,err+virtual",  # the channel of START_FAULT
           "WINEDLLOVERRIDES": "mscoree=;mshtml=;winemenubuilder.exe="}
    env.update({k: os.environ[k] for k in ("HOME", "USER", "TMPDIR") if k in os.environ})
    env.update(extra or {})
    return env


def bits(path):
    """32 for a PE file whose machine is i386, else 64."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 64:
        return 64
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    return 32 if head[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", head, pe + 4)[0] == 0x14C else 64


def command(exe, args):  # Wine's loader of the executable's bitness
    return [WINE32 if bits(exe) == 32 else WINE64, exe] + list(args)


def loader_fault(r):
    return r.returncode == 127 and LOADER_FAULT in r.stderr


def start_fault(code, output):
    return code == 1 and START_FAULT in output


def _run(cmd, env, cwd=None, timeout=120, repeatable=False):
    for attempt in range(3):  # again when Wine could not start it, or lost a repeatable run's result
        # Through files, not pipes: a service Wine starts may hold an inherited pipe open for long.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.run(cmd, cwd=cwd, env=env, stdout=out, stderr=err,
                                stdin=subprocess.DEVNULL, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            r = subprocess.CompletedProcess(cmd, rc, out.read(), err.read())
        if not (start_fault(r.returncode, r.stderr) or repeatable and loader_fault(r)):
            break
        sys.stderr.write(f"note: Wine lost a run of {os.path.basename(cmd[1])}\n")
    return r


def run_exe(prefix, exe, args, cwd=None, codepage=1252, env=None, timeout=120, repeatable=False):
    """Runs a Windows executable (host path); bytes stdout/stderr."""
    return _run(command(exe, args), wine_env(prefix, codepage, env), cwd, timeout, repeatable)


def reg_exe(prefix, bits):
    return os.path.join(prefix, "drive_c", "windows", "syswow64" if bits == 32 else "system32",
                        "reg.exe")


def run_reg(prefix, bits, args, codepage=1252):
    # Every verb but delete leaves the same registry when made twice.
    return run_exe(prefix, reg_exe(prefix, bits), args, codepage=codepage,
                   repeatable=args[0].lower() != "delete")


def start(prefix):
    stop(prefix)
    os.makedirs(prefix)
    env = wine_env(prefix)
    # The server outlives this process: it must not hold on to our output.
    subprocess.run([WINESERVER, "-p600"], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Booting a booted prefix again changes nothing.
    boot = _run([WINE64, "wineboot", "--init"], env, timeout=300, repeatable=True)
    if boot.returncode != 0:
        raise RuntimeError(f"wineboot failed ({boot.returncode}): {boot.stderr[-2000:]!r}")
    for bits in (32, 64):
        if not os.path.exists(reg_exe(prefix, bits)):
            raise RuntimeError(f"{reg_exe(prefix, bits)} missing: are wine64 and wine32 installed?")
        # A crashing program ends at once instead of waiting for winedbg.
        run_reg(prefix, bits, ["add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug",
                               "/v", "Debugger", "/d", r"C:\windows\no-debugger.exe", "/f"])


def stop(prefix):
    if os.path.isdir(prefix):
        for flag in ("-k", "-w"):
            subprocess.run([WINESERVER, flag], env=wine_env(prefix), capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop", "run"):
        sys.exit(__doc__)
    prefix = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "run":  # the exit code is the program's; 77 when it cannot run here
        if not available() or not os.path.isfile(sys.argv[3]) or not os.path.isdir(prefix):
            sys.exit(SKIP)
        r = run_exe(prefix, sys.argv[3], sys.argv[4:], repeatable=True)
        sys.stdout.buffer.write(r.stdout)
        sys.stderr.buffer.write(r.stderr)
        sys.exit(r.returncode)
    if sys.argv[1] == "start" and available():
        start(prefix)
    elif sys.argv[1] == "stop":
        stop(prefix)
