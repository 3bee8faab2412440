#!/usr/bin/env python3
"""Imports every real-world registration file under Wine twice -- with Wine's
own `regedit /s` and with `quillmark.exe +regf` -- and compares the results.

Each file is rewritten so that its roots become sibling keys under
HKEY_CURRENT_USER\\Software\\QmPeer: ...\\W\\<nn>\\<root> for regedit and
...\\Q\\<nn>\\<root> for quillmark. Both trees are exported with regedit /e,
the key prefixes are normalised, and every difference must be explained by
one of the RULES below: each names a way in which quillmark reads a file
differently from the Registry Editor, and is matched against the very line
of the source file that produced the difference. Any other difference fails
the test.

Then `quillmark.exe -regf` runs over every file: the files carry no removal
markers, so the imported tree must stay exactly as it was, and the same
removal over a fresh sibling key must create nothing.

    peer_compare.py --exe QUILLMARK_EXE --reg-dir DIR --work DIR [--wine-prefix P]

With --wine-prefix the files and keys go into that running prefix (and its
QmPeer key is removed before and after); without it a prefix of its own is
booted under the work directory. Exit 0: all differences explained; 1: unexplained differences; 77: Wine or the
executable is not available (skipped).
"""

import argparse
import collections
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winerun  # noqa: E402

SKIP = 77
PEER_KEY = r"HKEY_CURRENT_USER\Software\QmPeer"
# Short names for the rewritten roots keep the paths under Wine's 260-character
# limit for the registry's ANSI calls.
ROOTS = {
    "HKEY_LOCAL_MACHINE": "LM",
    "HKEY_CURRENT_USER": "CU",
    "HKEY_CLASSES_ROOT": "CR",
    "HKEY_USERS": "U",
    "HKEY_CURRENT_CONFIG": "CC",
}
# quillmark's default locale is chinese-simplified (code page 936); a Wine
# process gets the same ANSI code page from this locale, so the text that
# quillmark converts and the text the registry converts back agree.
WINE_LOCALE = {"LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"}
CODE_PAGE = "gbk"
SUCCESS_LINE = b"Succeeded in doing speicified operation(s)!"

# ---- The rules: every kind of difference that is expected ---------------------

RULES = {
    "wine-rejects-file":
        "regedit refuses the file (a UTF-8 byte-order mark or an unknown header) and "
        "imports nothing; quillmark does not check the header",
    "unconvertible-line-ends-file":
        "a UTF-16 line holding a character the code page cannot represent ends "
        "quillmark's processing there; regedit reads on",
    "ctrl-z-ends-file":
        "a 0x1A byte (in a UTF-16 file the code unit U+001A) ends the data of a "
        "text stream; regedit reads on",
    "kind-not-imported":
        "hex(n) data other than hex:, hex(2): and hex(7): is not imported",
    "spaces-around-equals":
        "a value line with white space before or after '=' is not a value line",
    "indented-line":
        "a line that does not begin with '[', '\"' or '@' is ignored, also when only "
        "white space comes first",
    "value-deletion-not-honoured":
        "\"name\"=- is ignored, so a value the file sets earlier stays",
    "key-deletion-not-honoured":
        "[-path] neither deletes nor opens a key, so a key the file creates earlier stays",
    "dword-over-eight-digits":
        "dword: data is read as its first eight hex digits; regedit refuses more",
    "hex-list-starts-on-next-line":
        "a hex list must have its first byte on the value line; 'hex:\\' alone fails",
    "hex-text-is-utf16":
        "hex(2)/hex(7) bytes are UTF-16 text under the 5.00 header even in an ANSI "
        "file, as Windows reads them; Wine's regedit takes them as 8-bit text in "
        "every file without the UTF-16 byte-order mark",
    "unconvertible-hex-text":
        "hex(2)/hex(7) bytes, or a continuation line, that the code page cannot "
        "represent fail that value",
}

# What makes quillmark say that a file was not carried out whole, where
# regedit may say nothing. Every file without one of these must succeed, and
# every file with one must print the failure line.
FAILURE_REASONS = {
    "unconvertible-line-ends-file": "a line the code page cannot hold ends the reading",
    "data-after-ctrl-z": "the file goes on after the 0x1A that ends its data",
    "unconvertible-hex-text": "(import) a hex(2)/hex(7) value the code page cannot hold",
    "key-under-no-root": "(import) a key line whose path starts with no root",
}


# ---- Reading the files -----------------------------------------------------------


def decode_source(raw):
    """(text, utf16) of a registration file as regedit and quillmark see it."""
    if raw[:2] == b"\xff\xfe":
        return raw[2:].decode("utf-16-le", errors="replace"), True
    return raw.decode(CODE_PAGE, errors="replace"), False


def rewrite_roots(raw, side, nn):
    """The file with the root of every key line moved under the peer key."""
    utf16 = raw[:2] == b"\xff\xfe"
    text = raw[2:].decode("utf-16-le", errors="surrogatepass") if utf16 else raw.decode("latin-1")

    def repl(m):
        root = m.group(3)
        if root not in ROOTS:
            return m.group(0)  # not a root either reader knows: leave it failing
        return f"{m.group(1)}{m.group(2)}{PEER_KEY}\\{side}\\{nn}\\{ROOTS[root]}\\"

    text = re.sub(r"^([ \t]*\[)(-?)([A-Z_a-z]+)\\", repl, text, flags=re.M)
    if utf16:
        return b"\xff\xfe" + text.encode("utf-16-le", errors="surrogatepass")
    return text.encode("latin-1")


def split_lines(text):
    return text.replace("\r\n", "\n").split("\n")


def parse_quoted(s):
    """(name, rest) of a quoted name with \\\\ and \\" escapes, or None."""
    if not s.startswith('"'):
        return None
    out, i = [], 1
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            out.append(s[i + 1])
            i += 2
            continue
        if c == '"':
            return "".join(out), s[i + 1:]
        out.append(c)
        i += 1
    return None


Line = collections.namedtuple("Line", "index text key name data first spaced indented")


def lenient_parse(text):
    """Every key and value line of a file as the Registry Editor would take
    it (white space allowed around '=' and before a line), with its line
    index: (keys, values). keys: [(index, path, deletion, indented)];
    values: [Line]. Continuation lines are joined to their value."""
    keys, values = [], []
    lines = split_lines(text)
    key = None
    i = 0
    while i < len(lines):
        raw = lines[i]
        stripped = raw.lstrip(" \t")
        indented = stripped != raw
        if stripped.startswith("["):
            end = stripped.find("]")
            if end > 0:
                path = stripped[1:end]
                deletion = path.startswith("-")
                key = path[1:] if deletion else path
                keys.append((i, key, deletion, indented))
                if deletion:
                    key = None
        elif stripped.startswith('"') or stripped.startswith("@"):
            if stripped.startswith("@"):
                name, rest = "", stripped[1:]
            else:
                parsed = parse_quoted(stripped)
                if parsed is None:
                    i += 1
                    continue
                name, rest = parsed
            spaced = not rest.startswith("=")
            rest = rest.lstrip(" \t")
            if rest.startswith("="):
                data = rest[1:]
                spaced = spaced or data[:1] in (" ", "\t")
                data = data.lstrip(" \t")
                first, start = data, i
                while data.rstrip().endswith("\\") and i + 1 < len(lines):
                    i += 1
                    data = data.rstrip()[:-1] + lines[i].strip()
                values.append(Line(start, raw, key, name, data, first, spaced, indented))
        i += 1
    return keys, values


def first_unconvertible_line(text, values):
    """Index of the first line (not inside a hex list) that the code page
    cannot hold, or None."""
    continuation = set()
    lines = split_lines(text)
    for v in values:
        j = v.index
        while lines[j].rstrip().endswith("\\") and j + 1 < len(lines):
            j += 1
            continuation.add(j)
    for i, line in enumerate(lines):
        try:
            line.encode(CODE_PAGE)
        except UnicodeEncodeError:
            if i not in continuation:
                return i
    return None


def data_after_ctrl_z(raw, utf16):
    """Whether anything but more end marks follows the mark that ends the data."""
    if utf16:
        pos = next((i for i in range(2, len(raw) - 1, 2) if raw[i:i + 2] == b"\x1a\x00"), -1)
        rest = raw[pos:len(raw) - (len(raw) - pos) % 2] if pos >= 0 else b""
        return pos >= 0 and rest != b"\x1a\x00" * (len(rest) // 2)
    pos = raw.find(b"\x1a")
    return pos >= 0 and raw[pos:].strip(b"\x1a") != b""


def ctrl_z_line(raw, utf16):
    if utf16:
        # Only the whole code unit U+001A ends a UTF-16 file's data.
        pos = next((i for i in range(2, len(raw) - 1, 2) if raw[i:i + 2] == b"\x1a\x00"), -1)
    else:
        pos = raw.find(b"\x1a")
    if pos < 0:
        return None
    head = raw[2:pos] if utf16 else raw[:pos]
    text = head.decode("utf-16-le", errors="replace") if utf16 else head.decode("latin-1")
    return text.replace("\r\n", "\n").count("\n")


# ---- Reading an export -------------------------------------------------------------


def parse_export(raw):
    """{key path: {value name: data text}} of a regedit /e file."""
    text, _ = decode_source(raw)
    tree = {}
    current = None
    lines = split_lines(text)
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("["):
            current = tree.setdefault(line[1:line.rindex("]")], {})
        elif current is not None and (line.startswith('"') or line.startswith("@")):
            data = line
            while data.endswith("\\") and i + 1 < len(lines):
                i += 1
                data = data[:-1] + lines[i].strip()
            if data.startswith("@="):
                current[""] = data[2:]
            else:
                name, rest = parse_quoted(data)
                current[name] = rest[1:]
        i += 1
    return tree


def subtree(tree, side, nn):
    """The keys under one file's sibling key, relative to it."""
    prefix = f"{PEER_KEY}\\{side}\\{nn}"
    out = {}
    for path, vals in tree.items():
        if path == prefix:
            continue
        if path.lower().startswith(prefix.lower() + "\\"):
            out[path[len(prefix) + 1:]] = vals
    return out


def relative(path, side, nn):
    prefix = f"{PEER_KEY}\\{side}\\{nn}\\"
    return path[len(prefix):] if path and path.lower().startswith(prefix.lower()) else None


def hex_bytes(listing):
    return bytes(int(b, 16) for b in listing.replace("\\", "").split(",") if b.strip())


def result_as_predicted(name, option, r, reasons):
    """The run's result line is the failure line exactly when the file gives
    a reason for it; the exit code is 0 either way (one option's failure
    does not end a run)."""
    failed = SUCCESS_LINE not in r.stdout
    if r.returncode == 0 and failed == bool(reasons):
        if reasons:
            print(f"{name}: {option} reports a failure: " + ", ".join(sorted(reasons)))
        return True
    want = "the failure line (" + ", ".join(sorted(reasons)) + ")" if reasons else "success"
    print(f"{name}: quillmark {option} gave {r.returncode}, {r.stdout!r}; expected {want}")
    return False


def text_of(export_data):
    """The UTF-16 text of an exported hex(2)/hex(7) value."""
    return hex_bytes(export_data[7:]).decode("utf-16-le", errors="replace")


# ---- Explaining the differences ------------------------------------------------------


class Source:
    def __init__(self, raw):
        self.raw = raw
        self.text, self.utf16 = decode_source(raw)
        self.keys, self.values = lenient_parse(self.text)
        self.stop = first_unconvertible_line(self.text, self.values) if self.utf16 else None
        self.ctrl_z = ctrl_z_line(raw, self.utf16)
        self.data_after_ctrl_z = data_after_ctrl_z(raw, self.utf16)
        header = split_lines(self.text)[0] if self.text else ""
        self.wine_rejects = raw[:3] == b"\xef\xbb\xbf" or header.strip() not in (
            "REGEDIT4", "Windows Registry Editor Version 5.00")

    def unread(self, index):
        """The rule by which quillmark never reads line `index`, or None."""
        if self.stop is not None and index >= self.stop:
            return "unconvertible-line-ends-file"
        if self.ctrl_z is not None and index >= self.ctrl_z:
            return "ctrl-z-ends-file"
        return None

    def failure_reasons(self, removal):
        """Why quillmark must report that it did not carry the file out whole."""
        reasons = set()
        if self.stop is not None:
            reasons.add("unconvertible-line-ends-file")
        if self.data_after_ctrl_z:
            reasons.add("data-after-ctrl-z")
        if removal:
            return reasons
        for index, path, deletion, indented in self.keys:
            if not deletion and not indented and self.unread(index) is None \
                    and not path.startswith(PEER_KEY + "\\"):
                reasons.add("key-under-no-root")
        for v in self.values:
            if v.key is not None and not v.indented and not v.spaced \
                    and self.unread(v.index) is None and self.hex_text_unconvertible(v):
                reasons.add("unconvertible-hex-text")
        return reasons

    def value_lines(self, key, name):
        return [v for v in self.values
                if v.key is not None and v.key.lower() == key.lower()
                and v.name.lower() == name.lower()]

    def missing_value_rule(self, key, name):
        """Why quillmark has no value that regedit imported."""
        lines = self.value_lines(key, name)
        if not lines:
            return None
        rules = set()
        for v in lines:
            rule = self.unread(v.index)
            if rule is None and v.indented:
                rule = "indented-line"
            if rule is None and v.spaced:
                rule = "spaces-around-equals"
            kind = re.match(r"hex\(([0-9a-fA-F]+)\):", v.data)
            if rule is None and kind and kind.group(1) not in ("2", "7"):
                rule = "kind-not-imported"
            if rule is None and re.fullmatch(r"hex(\([0-9a-fA-F]+\))?:\\", v.first.strip()):
                rule = "hex-list-starts-on-next-line"
            if rule is None and self.hex_text_unconvertible(v):
                rule = "unconvertible-hex-text"
            if rule is None:
                return None
            rules.add(rule)
        return sorted(rules)[0]

    def hex_text_unconvertible(self, v):
        kind = re.match(r"hex\(([27])\):", v.data)
        if kind is None:
            return False
        try:
            units = bytes(int(b, 16) for b in v.data[7:].split(",") if b.strip())
            texts = units.decode("utf-16-le").split("\0")
            for t in texts:
                t.encode(CODE_PAGE)
        except (ValueError, UnicodeError):
            return True
        return False

    def hex_text_rule(self, key, name, w_data, q_data):
        """hex(2)/hex(7) in an ANSI file: quillmark stored the list's bytes as
        UTF-16 text, regedit stored each byte as a character of its own."""
        lines = self.value_lines(key, name)
        if self.utf16 or not lines:
            return None
        kind = re.match(r"hex\(([27])\):", lines[-1].data)
        if kind is None:
            return None
        source = hex_bytes(lines[-1].data[7:])
        as_utf16 = source.decode("utf-16-le", errors="replace")
        as_bytes = source.decode("latin-1")
        if (text_of(q_data).rstrip("\0") == as_utf16.rstrip("\0")
                and text_of(w_data).rstrip("\0") == as_bytes.rstrip("\0")):
            return "hex-text-is-utf16"
        return None

    def extra_value_rule(self, key, name):
        """Why quillmark has a value that regedit does not."""
        lines = self.value_lines(key, name)
        for v in lines:
            if v.data.strip() == "-":
                return "value-deletion-not-honoured"
            if re.match(r"dword:[0-9a-fA-F]{9,}", v.data):
                return "dword-over-eight-digits"
        return self.deleted_key_rule(key)

    def deleted_key_rule(self, key):
        for index, path, deletion, _ in self.keys:
            if deletion and (key.lower() == path.lower()
                             or key.lower().startswith(path.lower() + "\\")):
                return "key-deletion-not-honoured"
        return None

    def missing_key_rule(self, key):
        """Why quillmark lacks a key that regedit created: every key line that
        names it (or a key below it) went unread."""
        lines = [(i, ind) for i, path, deletion, ind in self.keys
                 if not deletion and (path.lower() == key.lower()
                                      or path.lower().startswith(key.lower() + "\\"))]
        if not lines:
            return None
        rules = set()
        for i, indented in lines:
            rule = self.unread(i) or ("indented-line" if indented else None)
            if rule is None:
                return None
            rules.add(rule)
        return sorted(rules)[0]


def explain(source, side_w, side_q, nn, counts, unexplained, name):
    """Compares one file's two trees; counts explained differences by rule."""
    w, q = side_w, side_q
    if source.wine_rejects and not w:
        if q:
            counts["wine-rejects-file"] += 1
        return

    def to_source_key(rel):
        root, _, rest = rel.partition("\\")
        return f"{PEER_KEY}\\Q\\{nn}\\{root}" + (f"\\{rest}" if rest else "")

    for rel in sorted(set(w) | set(q)):
        key = to_source_key(rel)
        if rel not in q:
            rule = source.missing_key_rule(key)
            if rule:
                counts[rule] += 1
            else:
                unexplained.append(f"{name}: key [{rel}] only in regedit's import")
            continue
        if rel not in w:
            rule = source.deleted_key_rule(key)
            if rule:
                counts[rule] += 1
            else:
                unexplained.append(f"{name}: key [{rel}] only in quillmark's import")
            continue
        wv, qv = w[rel], q[rel]
        for vname in sorted(set(wv) | set(qv)):
            shown = f"[{rel}] \"{vname}\""
            if vname not in qv:
                rule = source.missing_value_rule(key, vname)
                what = f"only in regedit's import: {wv[vname][:60]}"
            elif vname not in wv:
                rule = source.extra_value_rule(key, vname)
                what = f"only in quillmark's import: {qv[vname][:60]}"
            elif wv[vname] != qv[vname]:
                rule = source.extra_value_rule(key, vname)
                if rule != "dword-over-eight-digits":
                    rule = source.hex_text_rule(key, vname, wv[vname], qv[vname])
                what = f"differs: regedit {wv[vname][:60]} / quillmark {qv[vname][:60]}"
            else:
                continue
            if rule:
                counts[rule] += 1
            else:
                unexplained.append(f"{name}: {shown} {what}")


# ---- Running ----------------------------------------------------------------------------


def run(prefix, exe, args):
    # An import or a marked removal made twice leaves what it left once.
    r = winerun.run_exe(prefix, exe, args, codepage=936, timeout=300, repeatable=True)
    return r


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--reg-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--wine-prefix")
    args = parser.parse_args(argv[1:])
    exe = os.path.abspath(args.exe)
    reg_dir = os.path.abspath(args.reg_dir)
    if not winerun.available() or not os.path.exists(exe):
        print(f"skipped: Wine or {exe} is not available")
        return SKIP
    if args.wine_prefix and not os.path.isdir(args.wine_prefix):
        print(f"skipped: no Wine prefix at {args.wine_prefix}")
        return SKIP
    files = sorted(f for f in os.listdir(reg_dir) if f.lower().endswith(".reg"))
    own_prefix = not args.wine_prefix
    prefix = os.path.join(os.path.abspath(args.work), "wineprefix") if own_prefix \
        else os.path.abspath(args.wine_prefix)
    if own_prefix:
        os.makedirs(args.work, exist_ok=True)
        winerun.start(prefix)
    peer_dir = os.path.join(prefix, "drive_c", "peer")
    # The regedit of the exe's own bitness, so that both tools see the
    # registry through the same view: a file that creates Wow6432Node keys
    # makes Wine redirect a 32-bit program's access below the key it was
    # created in.
    wow64 = ["syswow64"] if winerun.pe_machine(exe) == 0x14C else []
    regedit = os.path.join(prefix, "drive_c", "windows", *wow64, "regedit.exe")

    def remove_peer_key():
        with open(os.path.join(peer_dir, "remove.reg"), "wb") as out:
            out.write(b"REGEDIT4\r\n\r\n[-" + PEER_KEY.encode() + b"]\r\n")
        run(prefix, regedit, ["/s", "C:\\peer\\remove.reg"])

    shutil.rmtree(peer_dir, ignore_errors=True)
    os.makedirs(peer_dir)
    try:
        remove_peer_key()
        return compare(prefix, peer_dir, regedit, exe, reg_dir, files)
    finally:
        if own_prefix:
            winerun.stop(prefix)
        else:
            remove_peer_key()
            shutil.rmtree(peer_dir, ignore_errors=True)


def compare(prefix, peer_dir, regedit, exe, reg_dir, files):
    """Imports, exports, compares; 0 when every difference is explained."""
    sources = {}
    for f in files:
        nn = f[:2]
        raw = open(os.path.join(reg_dir, f), "rb").read()
        for side in ("W", "Q", "R"):
            with open(os.path.join(peer_dir, f"{nn}{side}.reg"), "wb") as out:
                out.write(rewrite_roots(raw, side, nn))
        sources[nn] = (f, Source(rewrite_roots(raw, "Q", nn)))
        run(prefix, regedit, ["/s", f"C:\\peer\\{nn}W.reg"])
        r = run(prefix, exe, ["+regf", f"C:\\peer\\{nn}Q.reg"])
        if not result_as_predicted(f, "+regf", r, sources[nn][1].failure_reasons(False)):
            return 1

    def export(side, tag):
        path = os.path.join(peer_dir, f"export-{side}{tag}.reg")
        run(prefix, regedit, ["/e", f"C:\\peer\\export-{side}{tag}.reg", f"{PEER_KEY}\\{side}"])
        return open(path, "rb").read() if os.path.exists(path) else b""

    tree_w = parse_export(export("W", ""))
    export_q = export("Q", "")
    tree_q = parse_export(export_q)

    if not tree_w or not tree_q:
        print("an export is empty: regedit /e or the imports failed")
        return 1
    counts = collections.Counter()
    unexplained = []
    identical = 0
    for nn, (name, source) in sorted(sources.items()):
        found = collections.Counter()
        before = len(unexplained)
        explain(source, subtree(tree_w, "W", nn), subtree(tree_q, "Q", nn), nn, found,
                unexplained, name)
        counts.update(found)
        if not found and len(unexplained) == before:
            identical += 1
        elif found:
            print(f"{name}: " + ", ".join(f"{n} x {rule}" for rule, n in sorted(found.items())))

    # Removal: nothing is marked, so nothing may change or appear.
    for f in files:
        nn = f[:2]
        for side in ("Q", "R"):
            r = run(prefix, exe, ["-regf", f"C:\\peer\\{nn}{side}.reg"])
            if not result_as_predicted(f, "-regf", r, sources[nn][1].failure_reasons(True)):
                return 1
    if export("Q", "-after-removal") != export_q:
        unexplained.append("-regf of unmarked files changed the imported tree")
    if parse_export(export("R", "")):
        unexplained.append("-regf of unmarked files created keys that were missing")

    print(f"{len(files)} files; {identical} imported identically by regedit and quillmark")
    print(f"{sum(len(v) for v in tree_q.values())} values and {len(tree_q)} keys imported by "
          f"quillmark, {sum(len(v) for v in tree_w.values())} and {len(tree_w)} by regedit")
    for rule, n in sorted(counts.items()):
        print(f"  {n:4d} x {rule}: {RULES[rule]}")
    for line in unexplained:
        print("UNEXPLAINED " + line)
    print(f"{len(unexplained)} unexplained differences")
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
