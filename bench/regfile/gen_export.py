#!/usr/bin/env python3
"""Writes a registration file in the layout of a Registry Editor export.

    gen_export.py OUT KEYS VALUES_PER_KEY [--ansi] [--root PATH]

Each key gets a mix of strings (some with escaped backslashes and quotes),
dwords, hex: binary data long enough to run over continuation lines, and
hex(2) text, in the proportions of real exports. UTF-16LE with a byte-order
mark (what the Registry Editor writes) unless --ansi.
"""

import argparse


def hex_list(data, first_line_used):
    """A hex list broken as the Registry Editor breaks it: lines of at most 80
    characters, continued with a backslash and two spaces of indentation."""
    out, width = [], first_line_used
    for i, byte in enumerate(data):
        item = f"{byte:02x}" + ("," if i + 1 < len(data) else "")
        if width + len(item) > 77 and i + 1 < len(data):
            out.append("\\\r\n  ")
            width = 2
        out.append(item)
        width += len(item)
    return "".join(out)


def value_lines(k, v):
    name = f"Value{v:02d}"
    kind = v % 10
    if kind < 4:
        text = f"C:\\\\Program Files\\\\Bench {k}\\\\item{v}.dll" if kind == 0 else \
            f"Setting \\\"{k}.{v}\\\" of the benchmark" if kind == 1 else f"plain text {k} {v}"
        return f'"{name}"="{text}"'
    if kind < 7:
        return f'"{name}"=dword:{(k * 131 + v) & 0xFFFFFFFF:08x}'
    if kind < 9:
        data = bytes((k + v + i) & 0xFF for i in range(40 + (k % 60)))
        head = f'"{name}"=hex:'
        return head + hex_list(data, len(head))
    text = f"%SystemRoot%\\system32\\bench{k}.exe".encode("utf-16-le") + b"\0\0"
    head = f'"{name}"=hex(2):'
    return head + hex_list(text, len(head))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("keys", type=int)
    p.add_argument("values_per_key", type=int)
    p.add_argument("--ansi", action="store_true")
    p.add_argument("--root", default=r"HKEY_CURRENT_USER\Software\QmBench")
    a = p.parse_args()
    parts = ["Windows Registry Editor Version 5.00\r\n\r\n"]
    for k in range(a.keys):
        group = k // 100
        parts.append(f"[{a.root}\\Group{group:04d}\\Key{k:06d}]\r\n")
        for v in range(a.values_per_key):
            parts.append(value_lines(k, v) + "\r\n")
        parts.append("\r\n")
    text = "".join(parts)
    data = text.encode("ascii") if a.ansi else b"\xff\xfe" + text.encode("utf-16-le")
    with open(a.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
