#!/usr/bin/env python3
"""Imports every real registration file under Wine twice -- with Wine's own
`regedit /s` and with `quillmark.exe +regf` -- exports both trees with
`regedit /e` and lists where they differ; then `-regf` of every file, none of
which marks anything, must change and create nothing. The list (and which
runs report a failure) must be expected.txt exactly; exit 77 when Wine or the
.exe is not there. Beside the real files runs a REGEDIT4 file of hex(2)/hex(7)
8-bit text, which both tools must import alike.
"""

import argparse
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import winerun  # noqa: E402

PEER_KEY = r"HKEY_CURRENT_USER\Software\QmPeer"
ROOTS = {"HKEY_CLASSES_ROOT": "CR", "HKEY_CURRENT_USER": "CU", "HKEY_LOCAL_MACHINE": "LM",
         "HKEY_USERS": "U", "HKEY_CURRENT_CONFIG": "CC"}
SUCCESS = b"Succeeded in doing speicified operation(s)!"
REGEDIT4_TEXT = (b"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Text]\r\n"
                 b'"Expand"=hex(2):25,50,41,54,48,25,3b,43,3a,5c,62,69,6e,00\r\n'
                 b'"List"=hex(7):61,00,62,63,00,00\r\n')


def moved(raw, side, nn):
    """The file with every key line's root moved under the peer key."""
    utf16 = raw[:2] == b"\xff\xfe"
    text = raw[2:].decode("utf-16-le", "surrogatepass") if utf16 else raw.decode("latin-1")
    text = re.sub(r"^([ \t]*\[-?)([A-Z_a-z]+)\\",
                  lambda m: m[0] if m[2] not in ROOTS else
                  f"{m[1]}{PEER_KEY}\\{side}\\{nn}\\{ROOTS[m[2]]}\\", text, flags=re.M)
    return b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass") if utf16 else text.encode("latin-1")


def parse_export(raw):
    """{key: {value name: data}} of a regedit /e file (UTF-16)."""
    tree, current = {}, None
    text = raw.decode("utf-16", "replace").replace("\r\n", "\n") if raw else ""
    for line in re.sub(r"\\\n[ \t]*", "", text).split("\n"):  # hex data goes on after a "\"
        if line.startswith("["):
            current = tree.setdefault(line[1:line.rindex("]")], {})
        elif current is not None and line[:1] in ('"', "@"):
            m = re.match(r'@|"((?:[^"\\]|\\.)*)"', line)
            current[re.sub(r"\\(.)", r"\1", m[1] or "")] = line[m.end() + 1:]
    return tree


def files_of(tree, side):
    """{nn: {key relative to the file's own key: values}}."""
    out = {}
    for key, values in tree.items():
        m = re.match(re.escape(PEER_KEY) + r"\\" + side + r"\\(\w+)\\(.*)", key, re.I)
        if m:
            out.setdefault(m[1], {})[m[2]] = values
    return out


def differences(nn, w, q):
    if not w and q:
        return [f"{nn} regedit-imports-nothing"]
    out = [f"{nn} key-only-{'regedit' if k in w else 'quillmark'} [{k}]"
           for k in set(w) ^ set(q)]
    for k in set(w) & set(q):
        for name in set(w[k]) | set(q[k]):
            if w[k].get(name) != q[k].get(name):
                kind = "only-regedit" if name not in q[k] else "only-quillmark" if name not in w[k] else "differs"
                out.append(f'{nn} {kind} [{k}] "{name}"')
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--reg-dir", required=True)
    ap.add_argument("--wine-prefix", required=True)
    opts = ap.parse_args()
    exe, prefix = os.path.abspath(opts.exe), os.path.abspath(opts.wine_prefix)
    if not winerun.available() or not os.path.exists(exe) or not os.path.isdir(prefix):
        print("skipped: Wine, the prefix or the .exe is not there")
        return winerun.SKIP
    # The regedit of the exe's own bitness: both see the registry through one view.
    wow64 = ["syswow64"] if winerun.bits(exe) == 32 else []
    regedit = os.path.join(prefix, "drive_c", "windows", *wow64, "regedit.exe")
    work = os.path.join(prefix, "drive_c", "peer")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    def run(program, *args):  # an import or an export made twice leaves what it left once
        return winerun.run_exe(prefix, program, args, codepage=936, timeout=300, repeatable=True)

    def export(side):
        run(regedit, "/e", rf"C:\peer\{side}.out", rf"{PEER_KEY}\{side}")
        path = os.path.join(work, f"{side}.out")
        return open(path, "rb").read() if os.path.exists(path) else b""

    sources = {f[:2]: open(os.path.join(opts.reg_dir, f), "rb").read()
               for f in sorted(os.listdir(opts.reg_dir)) if f.endswith(".reg")}
    sources["R4"] = REGEDIT4_TEXT
    found = []
    open(os.path.join(work, "clean.reg"), "wb").write(
        f"REGEDIT4\r\n\r\n[-{PEER_KEY}]\r\n".encode())
    run(regedit, "/s", r"C:\peer\clean.reg")
    for nn, raw in sources.items():
        for side in "WQR":
            open(os.path.join(work, f"{nn}{side}.reg"), "wb").write(moved(raw, side, nn))
        run(regedit, "/s", rf"C:\peer\{nn}W.reg")
        if SUCCESS not in run(exe, "+regf", rf"C:\peer\{nn}Q.reg").stdout:
            found.append(f"{nn} +regf fails")
    imported = export("Q")
    trees_w, trees_q = files_of(parse_export(export("W")), "W"), files_of(parse_export(imported), "Q")
    for nn in sources:
        found += differences(nn, trees_w.get(nn, {}), trees_q.get(nn, {}))
    # Nothing in these files is marked for removal: -regf changes nothing,
    # over what was imported (Q) and over nothing at all (R).
    for nn in sources:
        for side in "QR":
            if SUCCESS not in run(exe, "-regf", rf"C:\peer\{nn}{side}.reg").stdout:
                found.append(f"{nn} -regf fails")
    if export("Q") != imported:
        found.append("-regf changed what +regf imported")
    if parse_export(export("R")):
        found.append("-regf created keys")
    run(regedit, "/s", r"C:\peer\clean.reg")

    found = set(found)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "expected.txt"), encoding="utf-8") as f:
        expected = {line.split("  #")[0] for line in f.read().splitlines() if line[:1] not in "#"}
    for line in sorted(found - expected):
        print("UNEXPECTED " + line)
    for line in sorted(expected - found):
        print("GONE       " + line)
    print(f"{len(sources)} files, {len(found)} differences, {len(found ^ expected)} not as expected")
    return 0 if found == expected else 1


if __name__ == "__main__":
    sys.exit(main())
