#!/usr/bin/python3
"""scripts/windows-build, which picks the Windows build that the tests and
`make run` use, with Wine's 32-bit loader stood in for by files that start and
by files that the kernel refuses, as it refuses every 32-bit program where
IA-32 emulation is off.

    check_windows_build.py
"""
import os
import shutil
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "windows-build")


def pick(loader, *args):
    run = subprocess.run([SCRIPT, *args], env=dict(os.environ, KARVO_WINE32_LOADER=loader),
                         capture_output=True, text=True)
    return run.returncode, run.stdout.strip(), run.stderr.strip()


class WindowsBuild(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="karvo-windows-build.")
        cls.starts = os.path.join(cls.folder, "starts")
        with open(cls.starts, "w") as f:
            f.write("#!/bin/sh\necho wine-8.0\n")
        os.chmod(cls.starts, 0o755)
        # A real program for another processor (ARM): the kernel answers
        # "Exec format error", as it does to i386 where it runs no 32-bit code.
        cls.refused = os.path.join(cls.folder, "refused")
        shutil.copy("/bin/true", cls.refused)
        with open(cls.refused, "r+b") as f:
            f.seek(18)
            f.write(b"\x28\x00")
        cls.fails = os.path.join(cls.folder, "fails")
        with open(cls.fails, "w") as f:
            f.write("#!/bin/sh\necho 'wine: error while loading shared libraries: libc.so.6' >&2\nexit 127\n")
        os.chmod(cls.fails, 0o755)
        cls.missing = os.path.join(cls.folder, "missing")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_auto_and_both_take_the_32_bit_build_only_where_the_loader_starts(self):
        self.assertEqual(pick(self.starts), (0, "windows", "Windows build: 32-bit, what ships: this machine runs 32-bit programs"))
        self.assertEqual(pick(self.starts, "both"),
                         (0, "windows windows64", "Windows build: 32-bit and 64-bit, as asked (WINDOWS=both)"))
        self.assertEqual(pick(self.starts, "--one", "both")[:2], (0, "windows"))
        for loader, why in ((self.refused, "Exec format error"), (self.fails, "libc.so.6"),
                            (self.missing, "no 32-bit Wine installed")):
            for choice in ("auto", "both"):
                code, presets, line = pick(loader, choice)
                self.assertEqual((code, presets), (0, "windows64"), (loader, choice))
                self.assertEqual(line, "Windows build: 64-bit: this machine runs no 32-bit programs "
                                       f"(Wine's 32-bit loader: {why})")

    def test_a_forced_choice_holds_whatever_the_machine_runs(self):
        for loader in (self.starts, self.refused):
            self.assertEqual(pick(loader, "32")[:2], (0, "windows"))
            self.assertEqual(pick(loader, "64")[:2], (0, "windows64"))
            self.assertEqual(pick(loader, "--one", "64")[:2], (0, "windows64"))
        code, presets, line = pick(self.starts, "65")
        self.assertEqual((code, presets), (2, ""))
        self.assertIn("not '65'", line)


if __name__ == "__main__":
    unittest.main()
