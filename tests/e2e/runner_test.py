#!/usr/bin/env python3
"""Tests of the scenario runner itself: that it parses what README.md says,
and that a wrong expectation really fails a case (a harness that cannot fail
proves nothing).

    runner_test.py BIN_DIR     (the native build: regconform, quillmark-reg,
                                qmreg-setup)
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_scenario as rs  # noqa: E402

BIN_DIR = None


class Parsing(unittest.TestCase):
    def parse_text(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".scn", delete=False) as f:
            f.write(text)
        try:
            return rs.parse(f.name)
        finally:
            os.unlink(f.name)

    def test_malformed_files_are_refused(self):
        cases = [
            ("directive before the first case", "args: -help\n"),
            ("unknown directive", "case: a\nexpect: 1\n"),
            ("reg-out without reg-query", "case: a\nreg-out: x\n"),
            ("stdout before args", "case: a\nstdout: x\n"),
            ("bad case name", "case: a b\n"),
            ("unknown backend", "backends: native wine\ncase: a\n"),
            ("unknown program", "case: a\nprogram: cmd\n"),
            ("no case at all", "# nothing\n"),
            ("two cases with one name", "case: a\ncase: A\n"),
            ("file-content without ::", "case: a\nfile-content: C:\\x\n"),
        ]
        for what, text in cases:
            with self.subTest(what):
                with self.assertRaises(rs.ScenarioError):
                    self.parse_text(text)

    def test_steps_and_expectations(self):
        cases = self.parse_text(
            "backends: native x64\n"
            "case: one\n"
            "args:\n"
            "stdout: a line\n"
            "stdout-esc: \\tx\\n\n"
            "exit: 3\n"
            "args: -x \"two words\" C:\\dir\n"
            "arg:  spaced \n"
            "arg: \n"
            "stdout-any\n"
            "case: two\n"
            "backends: native\n")
        one, two = cases
        self.assertTrue(one.name.endswith(".one"), one.name)
        self.assertEqual(one.backends, ["native", "x64"])
        self.assertEqual(two.backends, ["native"])
        self.assertEqual(len(one.steps), 2)
        self.assertEqual(one.steps[0].args, [])
        self.assertEqual(one.steps[0].stdout, b"a line\n\tx\n")
        self.assertEqual(one.steps[0].exit, 3)
        self.assertEqual(one.steps[1].args, ["-x", "two words", "C:\\dir", " spaced ", ""])
        self.assertTrue(one.steps[1].stdout_any)
        self.assertEqual(one.steps[1].exit, 0)

    def test_unescape(self):
        table = [
            ("\\t\\n\\r", b"\t\n\r"),
            ("C:\\e2e\\x", b"C:\\e2e\\x"),  # unknown escapes stay
            ("C:\\\\new", b"C:\\new"),
            ("\\x41\\x4a", b"AJ"),
            ("\\xZZ", b"\\xZZ"),
            ("\\0", b"\0"),
            ("\\\"q\\\"", b'"q"'),
            ("end\\", b"end\\"),
        ]
        for text, want in table:
            with self.subTest(text):
                self.assertEqual(rs.unescape(text), want)

    def test_split_args(self):
        table = [
            ("a b", ["a", "b"]),
            ('"C:\\Program Files\\x" y', ["C:\\Program Files\\x", "y"]),
            ("C:\\a\\b", ["C:\\a\\b"]),
            ("'single quoted' x", ["single quoted", "x"]),
            ("", []),
        ]
        for text, want in table:
            with self.subTest(text):
                self.assertEqual(rs.split_args(text), want)

    def test_setup_as_one_reg_file(self):
        table = [
            ([("add", ["HKCU\\K", "/v", "a", "/d", 'C:\\x "y"'])],
             ["[HKCU\\K]", '"a"="C:\\\\x \\"y\\""']),
            ([("add", ["HKCU\\K"])], ["[HKCU\\K]", '@=""']),
            ([("add", ["HKCU\\K", "/ve", "/d", "d"])], ["[HKCU\\K]", '@="d"']),
            ([("add", ["HKCU\\K", "/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%A%"])],
             ["[HKCU\\K]", '"e"=hex(2):25,41,25,00']),
            ([("add", ["HKCU\\K", "/v", "m", "/t", "reg_multi_sz", "/d", "a\\0b"])],
             ["[HKCU\\K]", '"m"=hex(7):61,00,62,00,00']),
            ([("add", ["HKCU\\K", "/v", "n", "/t", "REG_DWORD", "/d", "0x2A"])],
             ["[HKCU\\K]", '"n"=dword:0000002a']),
            ([("add", ["HKCU\\K", "/v", "n", "/t", "REG_DWORD", "/d", "42"])],
             ["[HKCU\\K]", '"n"=dword:0000002a']),
            ([("add", ["HKCU\\K", "/v", "b", "/t", "REG_BINARY", "/d", "0aFF"])],
             ["[HKCU\\K]", '"b"=hex:0a,ff']),
            ([("delete", ["HKCU\\K"])], ["[-HKCU\\K]"]),
            ([("delete", ["HKCU\\K", "/v", "x", "/f"])], ["[HKCU\\K]", '"x"=-']),
            ([("delete", ["HKCU\\K", "/ve"])], ["[HKCU\\K]", "@=-"]),
        ]
        for steps, want in table:
            with self.subTest(steps):
                got = rs.reg_file_lines(steps)
                self.assertEqual([ln for ln in got if ln][1:], want)

    def test_setup_without_an_exact_reg_file_form_runs_reg_exe(self):
        table = [
            [("delete", ["HKCU\\K", "/va"])],
            [("add", ["HKCU\\K", "/v", "n", "/t", "REG_DWORD", "/d", "-1"])],
            [("add", ["HKCU\\K", "/v", "n", "/t", "REG_DWORD", "/d", "0x100000000"])],
            [("add", ["HKCU\\K", "/v", "b", "/t", "REG_BINARY", "/d", "abc"])],
            [("add", ["HKCU\\K", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"])],
            [("add", ["HKCU\\K", "/v", "q", "/t", "REG_QWORD", "/d", "1"])],
            [("add", ["HKCU\\K", "/v", "u", "/d", "caf\u00e9"])],
            [("add", ["HKCU\\K", "/x"])],
        ]
        for steps in table:
            with self.subTest(steps):
                self.assertIsNone(rs.reg_file_lines(steps))

    def test_reg_blocks(self):
        wine = "\r\nHKEY_X\\k\r\n    b    REG_SZ    2\r\n    a    REG_SZ    1\r\n\r\n"
        same_other_order = "HKEY_X\\k\n    a    REG_SZ    1\n    b    REG_SZ    2\n"
        self.assertEqual(rs.reg_blocks(wine), rs.reg_blocks(same_other_order))
        for changed in ["HKEY_X\\k\n    a    REG_SZ    1\n",
                        "HKEY_X\\k\n    a    REG_SZ    1\n    b    REG_SZ    3\n",
                        "HKEY_X\\K2\n    a    REG_SZ    1\n    b    REG_SZ    2\n"]:
            with self.subTest(changed):
                self.assertNotEqual(rs.reg_blocks(wine), rs.reg_blocks(changed))


class Running(unittest.TestCase):
    """Scenarios against the native conformance program and registry tools."""

    def setUp(self):
        if not os.environ.get("QM_BIN_DIR"):
            self.skipTest("needs the native build (runner_test.py BIN_DIR)")

    def run_text(self, text):
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "t.scn")
            with open(path, "w") as f:
                f.write(text)
            r = subprocess.run([sys.executable, os.path.join(HERE, "run_scenario.py"),
                                "--backend", "native", "--bin-dir", os.environ["QM_BIN_DIR"],
                                "--work", os.path.join(work, "w"), path],
                               capture_output=True, text=True)
            return r.returncode, r.stdout

    GOOD = ("case: c\nprogram: regconform\nreg-add: {KEY} /v V /d x\n"
            "args: --key Software\\QuillmarkE2E\\{CASE}\\k close-null\n")

    def test_a_correct_scenario_passes(self):
        code, out = self.run_text(self.GOOD + "stdout: close-null: 6\n"
                                  "reg-query: {KEY} /v V\nreg-out: {KEY}\nreg-out:     V    REG_SZ    x\n")
        self.assertEqual(code, 0, out)

    def test_each_wrong_expectation_fails(self):
        wrong = [
            ("stdout", "stdout: close-null: 5\n"),
            ("missing stdout", ""),
            ("exit code", "stdout: close-null: 6\nexit: 1\n"),
            ("value data", "stdout-any\nreg-query: {KEY} /v V\nreg-out: {KEY}\n"
                           "reg-out:     V    REG_SZ    y\n"),
            ("value present", "stdout-any\nreg-missing: {KEY} /v V\n"),
            ("key absent", "stdout-any\nreg-query: {KEY}\\none\nreg-out: {KEY}\\none\n"),
            ("file", "stdout-any\nfile-exists: {DIR}\\nothing.txt\n"),
            ("deleted in setup", "stdout-any\nreg-delete: {KEY} /v V\nreg-query: {KEY} /v V\n"
                                 "reg-out: {KEY}\nreg-out:     V    REG_SZ    x\n"),
            ("broadcast", "stdout-any\nbroadcast: WM_SETTINGCHANGE Environment\n"),
        ]
        for what, tail in wrong:
            with self.subTest(what):
                code, out = self.run_text(self.GOOD + tail)
                self.assertEqual(code, 1, out)
                self.assertIn("FAIL", out)

    def test_deleting_in_setup_what_is_not_there_is_no_error(self):
        code, out = self.run_text("case: c\nreg-delete: {KEY}\\none\nreg-delete: {KEY} /v none\n"
                                  "reg-add: {KEY} /v x /d y\nreg-delete: {KEY} /v x\n"
                                  "reg-missing: {KEY} /v x\n")
        self.assertEqual(code, 0, out)

    def test_cases_for_other_backends_only_are_skipped(self):
        code, out = self.run_text("case: c\nbackends: x86 x64\nargs:\n")
        self.assertEqual(code, 77, out)


class WineLoaderFault(unittest.TestCase):
    """A run lost to Wine's loader at exit is made again only when it may be;
    any other failure is the program's and stands."""

    FAULT = "Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: Assertion failed!"

    def setUp(self):
        sys.path.insert(0, os.path.join(HERE, "..", "wine"))
        import winerun
        self.winerun = winerun
        self.dir = tempfile.mkdtemp()
        self.exe = os.path.join(self.dir, "prog.exe")
        header = bytearray(512)
        header[0:2] = b"MZ"
        header[0x3C:0x40] = (64).to_bytes(4, "little")
        header[64:70] = b"PE\0\0" + (0x14C).to_bytes(2, "little")
        with open(self.exe, "wb") as f:
            f.write(bytes(header))
        self.count = os.path.join(self.dir, "count")
        self.loader = os.path.join(self.dir, "fake-wine")
        self.saved = winerun.WINE32
        winerun.WINE32 = self.loader

    def tearDown(self):
        self.winerun.WINE32 = self.saved
        subprocess.run(["rm", "-rf", self.dir])

    def fake(self, faults, code=127, message=FAULT):
        """A loader whose first `faults` runs end with `code` and `message`."""
        with open(self.loader, "w") as f:
            f.write(f"#!/bin/sh\necho x >> '{self.count}'\n"
                    f"if [ $(wc -l < '{self.count}') -le {faults} ]; then\n"
                    f"  echo '{message}' >&2; exit {code}\nfi\necho done\n")
        os.chmod(self.loader, 0o755)

    def runs(self):
        with open(self.count) as f:
            return len(f.readlines())

    def test_cases(self):
        cases = [
            # (what, faults, exit code, message, repeatable, want exit, want runs)
            ("lost once, repeatable", 1, 127, self.FAULT, True, 0, 2),
            ("lost once, not repeatable", 1, 127, self.FAULT, False, 127, 1),
            ("lost every time", 9, 127, self.FAULT, True, 127, 3),
            ("127 without the loader's message", 1, 127, "not found", True, 127, 1),
            ("the message with the program's own code", 1, 3, self.FAULT, True, 3, 1),
        ]
        for what, faults, code, message, repeatable, want, want_runs in cases:
            with self.subTest(what):
                if os.path.exists(self.count):
                    os.unlink(self.count)
                self.fake(faults, code, message)
                r = self.winerun.run_exe(self.dir, self.exe, [], repeatable=repeatable)
                self.assertEqual(r.returncode, want)
                self.assertEqual(self.runs(), want_runs)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        os.environ["QM_BIN_DIR"] = sys.argv.pop(1)
    unittest.main()
