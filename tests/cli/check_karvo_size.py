#!/usr/bin/python3
"""karvo-size run as a process, as a script would run it.

    check_karvo_size.py COMMAND...    (the program, with anything that runs it first)
"""
import subprocess
import sys
import tempfile
import unittest

COMMAND = sys.argv[1:]
del sys.argv[1:]


def run(*args):
    # Files, not pipes: helper processes that Wine starts keep inherited pipes
    # open long after the program itself has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(COMMAND + list(args), stdout=out, stderr=err, timeout=60).returncode
        text = lambda f: (f.seek(0), f.read())[1].decode("utf-8").replace("\r\n", "\n")
        return code, text(out), text(err)


class Answers(unittest.TestCase):
    def test_one_figure_a_line(self):
        self.assertEqual(run("ntfs", "120"), (0, "122885\n", ""))
        self.assertEqual(run("FAT32", "1", "2", "300"), (0, "1024\n2052\n308396\n", ""))
        self.assertEqual(run("--fs", "Ntfs", "10", "100"), (0, "10245\n102405\n", ""))
        self.assertEqual(run("--fs=fat32", "+010"), (0, "10276\n", ""))
        self.assertEqual(run("120", "ntfs"), (0, "122885\n", ""))
        self.assertEqual(run("120"), (0, "122885\n", ""), "NTFS when no file system is named")

    def test_beyond_the_dialog_up_to_the_32_bit_limit(self):
        self.assertEqual(run("fat32", "2088991"), (0, "2147482744\n", ""))
        self.assertEqual(run("ntfs", "2097151"), (0, "2147482629\n", ""))

    def test_message_is_the_programs_own_text(self):
        self.assertEqual(run("--message", "ntfs", "120"),
                         (0, "您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.\n", ""))
        code, out, _ = run("fat32", "--message", "1", "2")
        self.assertEqual(out.splitlines()[1], "您选择的格式为FAT32,分区容量为2GB,实际容量应为 2052 MB.")

    def test_table_and_csv_list_1_to_300(self):
        code, out, _ = run("--table")
        lines = out.splitlines()
        self.assertEqual((code, len(lines)), (0, 301))
        self.assertEqual(lines[1].split(), ["1", "1024", "1029"])
        self.assertEqual(lines[300].split(), ["300", "308396", "307205"])
        self.assertEqual(len({len(line) for line in lines}), 1, "columns are aligned")
        code, out, _ = run("--csv")
        rows = [line.split(",") for line in out.splitlines()]
        self.assertEqual(rows[0], ["capacity_gb", "fat32_mb", "ntfs_mb"])
        self.assertEqual(rows[120], ["120", "123356", "122885"])
        self.assertEqual(len(rows), 301)

    def test_help_and_version(self):
        code, out, err = run("--help")
        self.assertEqual((code, err), (0, ""))
        self.assertIn("Usage: karvo-size", out)
        self.assertEqual(run("--version"), (0, "karvo-size 1.0.0\n", ""))


class BadArguments(unittest.TestCase):
    def expect_error(self, args, named, range_text):
        code, out, err = run(*args)
        self.assertEqual(code, 2, args)
        self.assertEqual(out, "", args)
        self.assertEqual(err.count("\n"), 1, "one line")
        self.assertIn(named, err)
        self.assertIn(range_text, err)

    def test_each_names_the_argument_and_the_accepted_range(self):
        ntfs = "1 to 2097151 for NTFS"
        self.expect_error(["ntfs", "abc"], '"abc"', "fat32 or ntfs")
        self.expect_error(["ntfs", "12abc"], '"12abc"', ntfs)
        self.expect_error(["ntfs", "0"], '"0"', ntfs)
        self.expect_error(["ntfs", "-5"], '"-5"', ntfs)
        self.expect_error(["ntfs", "2097152"], '"2097152"', ntfs)
        self.expect_error(["fat32", "2088992"], '"2088992"', "1 to 2088991 for FAT32")
        self.expect_error(["fat32", "9" * 40], '"' + "9" * 40 + '"', "1 to 2088991 for FAT32")
        self.expect_error(["exfat", "5"], '"exfat"', "fat32 or ntfs")
        self.expect_error(["--fs", "hfs", "5"], '"hfs"', "fat32 or ntfs")
        self.expect_error(["ntfs", "fat32", "5"], '"fat32"', "give one")
        self.expect_error(["--table", "5"], '"5"', "1 to 300 GB")
        self.expect_error(["ntfs"], "no capacity", ntfs)
        self.expect_error(["--frobnicate"], '"--frobnicate"', "--help")
        self.expect_error(["ntfs", "1.5"], '"1.5"', ntfs)


if __name__ == "__main__":
    unittest.main()
