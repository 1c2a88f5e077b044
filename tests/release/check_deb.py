#!/usr/bin/python3
"""karvo-size as a Debian package: `make deb`'s package passes lintian with no
error and no warning, and the program, its manual page and its completion work
from the unpacked package.

    check_deb.py
"""
import glob
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VERSION = open(os.path.join(ROOT, "VERSION")).read().strip()


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="karvo-deb.")
        env = dict(os.environ, DIST_DIR=cls.folder)
        subprocess.run([os.path.join(ROOT, "scripts", "make-deb")], env=env, check=True, capture_output=True)
        (cls.package,) = glob.glob(os.path.join(cls.folder, f"karvo-size_{VERSION}-1_*.deb"))
        cls.root = os.path.join(cls.folder, "root")
        subprocess.run(["dpkg-deb", "-x", cls.package, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_lintian_reports_no_error_and_no_warning(self):
        run = subprocess.run(["lintian", "--pedantic", "--fail-on", "error,warning", self.package],
                             capture_output=True, text=True)
        findings = [line for line in run.stdout.splitlines() if line[:2] in ("E:", "W:")]
        self.assertEqual(findings, [])
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def test_holds_what_a_debian_package_should(self):
        files = sorted(os.path.relpath(os.path.join(d, f), self.root)
                       for d, _, names in os.walk(self.root) for f in names)
        self.assertEqual(files, [
            "usr/bin/karvo-size",
            "usr/share/bash-completion/completions/karvo-size",
            "usr/share/doc/karvo-size/changelog.Debian.gz",
            "usr/share/doc/karvo-size/copyright",
            "usr/share/karvo-size/karvo-size.schema.json",
            "usr/share/lintian/overrides/karvo-size",
            "usr/share/man/man1/karvo-size.1.gz",
        ])
        with open(os.path.join(self.root, "usr/share/doc/karvo-size/copyright")) as f:
            copyright_text = f.read()
        self.assertTrue(copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                                  "copyright-format/1.0/"))
        self.assertIn("License: Expat", copyright_text)
        fields = subprocess.run(["dpkg-deb", "-f", self.package], capture_output=True, text=True).stdout
        self.assertIn("Package: karvo-size\n", fields)
        self.assertIn("Depends: libc6", fields)

    def test_the_program_runs_from_the_package(self):
        program = os.path.join(self.root, "usr/bin/karvo-size")
        run = subprocess.run([program, "ntfs", "120"], capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stdout), (0, "122885\n"))
        run = subprocess.run([program, "--exact", "fat32", "1"], capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stdout), (0, "1027\n"))
        run = subprocess.run([program, "--inspect", program], capture_output=True, text=True)
        self.assertEqual(run.returncode, 2)

    def test_package_program_manual_page_and_changelog_name_the_one_version(self):
        fields = subprocess.run(["dpkg-deb", "-f", self.package, "Version"], capture_output=True, text=True).stdout
        self.assertEqual(fields, f"{VERSION}-1\n")
        run = subprocess.run([os.path.join(self.root, "usr/bin/karvo-size"), "--version"], capture_output=True, text=True)
        self.assertEqual(run.stdout, f"karvo-size {VERSION}\n")
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/karvo-size.1.gz"), "rt") as f:
            self.assertIn(f'"karvo-size {VERSION}"', f.readline())
        with gzip.open(os.path.join(self.root, "usr/share/doc/karvo-size/changelog.Debian.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith(f"karvo-size ({VERSION}-1) "))

    def test_the_manual_page_covers_every_option_and_renders_cleanly(self):
        page = os.path.join(self.root, "usr/share/man/man1/karvo-size.1.gz")
        run = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                             env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
        self.assertEqual(run.stderr, "")
        text = run.stdout.replace("\u2010", "-")
        # Every option of karvo-size's table, which its help and completion are made from.
        with open(os.path.join(ROOT, "cli", "options.def")) as f:
            options = re.findall(r'^KARVO_OPTION\(\w+, "([^"]+)"', f.read(), re.M)
        self.assertIn("--sector-size", options)
        for option in options + ["EXIT STATUS"]:
            self.assertIn(option, text)
        with gzip.open(page, "rt") as f:
            self.assertIn(".SH EXIT STATUS", f.read())

    def complete(self, line):
        script = os.path.join(self.root, "usr/share/bash-completion/completions/karvo-size")
        words = line.split(" ")
        command = (f"source /usr/share/bash-completion/bash_completion; source {script}; "
                   f"COMP_LINE='{line}'; COMP_POINT=${{#COMP_LINE}}; COMP_WORDS=({' '.join(repr(w) for w in words)}); "
                   f"COMP_CWORD={len(words) - 1}; _karvo_size; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
        run = subprocess.run(["bash", "-c", command], capture_output=True, text=True)
        return sorted(filter(None, run.stdout.splitlines()))

    def test_bash_completes_options_and_file_systems(self):
        self.assertEqual(self.complete("karvo-size --e"), ["--exact"])
        self.assertEqual(self.complete("karvo-size --fs N"), ["ntfs"])
        self.assertEqual(self.complete("karvo-size f"), ["fat32"])
        self.assertEqual(self.complete("karvo-size --exact "), ["exfat", "fat32", "ntfs"])
        self.assertIn("--inspect", self.complete("karvo-size --"))
        self.assertNotIn("--partno", self.complete("karvo-size --"), "offered after --inspect")
        self.assertEqual(self.complete("karvo-size --fs="), ["exfat", "fat32", "ntfs"])
        self.assertEqual(self.complete("karvo-size --inspect img --"), ["--json", "--partno", "--sector-size"])
        self.assertEqual(self.complete("karvo-size --inspect img --sector-size "), ["4096", "512"])
        self.assertEqual(self.complete("karvo-size --plan 1TB --w"), ["--windows"])
        self.assertEqual(self.complete("karvo-size --plan 1TB ntfs 120 r"), ["rest"])
        self.assertNotIn("--mbr", self.complete("karvo-size --"), "offered after --plan")

    def test_bash_completes_only_what_the_program_accepts(self):
        for line in ("karvo-size --inspect img ", "karvo-size --inspect=img ", "karvo-size --table ",
                     "karvo-size fat32 ", "karvo-size --fs ntfs ", "karvo-size --csv --"):
            self.assertEqual(self.complete(line), [], line)
        # After the figures' words and options, each option offered is one the program takes there.
        values = {"--plan": ["1TB"], "--sector-size": ["512"], "--fs": ["ntfs"]}
        for line in ("karvo-size ntfs 120 --", "karvo-size --exact --", "karvo-size --message 1 --"):
            offered = self.complete(line)
            self.assertNotIn("--table", offered, line)
            for option in offered:
                args = line.split(" ")[1:-1] + [option] + values.get(option, []) + ["1"]
                run = subprocess.run([os.path.join(self.root, "usr/bin/karvo-size"), *args], capture_output=True)
                self.assertEqual(run.returncode, 0, (args, run.stderr))


if __name__ == "__main__":
    unittest.main()
