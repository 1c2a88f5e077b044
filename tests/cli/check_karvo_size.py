#!/usr/bin/python3
"""karvo-size run as a process, as a script would run it.

    check_karvo_size.py COMMAND...    (the program, with anything that runs it first)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

COMMAND = sys.argv[1:]
del sys.argv[1:]
VERSION = open(os.path.join(os.path.dirname(__file__), "..", "..", "VERSION")).read().strip()


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
        # capacity; FAT32 rule, what Windows shows (* where not N GB), exact; the same for NTFS
        self.assertEqual(lines[1].split(), ["1", "1024", "0.99", "GB*", "1027", "1029", "1.00", "GB", "1025"])
        self.assertEqual(lines[300].split(), ["300", "308396", "301", "GB*", "307276", "307205", "300", "GB", "307201"])
        self.assertEqual(len({len(line) for line in lines}), 1, "columns are aligned")
        code, out, _ = run("--csv")
        rows = [line.split(",") for line in out.splitlines()]
        self.assertEqual(rows[0], ["capacity_gb", "fat32_mib", "fat32_bytes", "fat32_shows", "fat32_exact_mib",
                                   "ntfs_mib", "ntfs_bytes", "ntfs_shows", "ntfs_exact_mib",
                                   "fat32_shows_capacity", "ntfs_shows_capacity"])
        self.assertEqual(rows[120], ["120", "123356", "129316552704", "120 GB", "122911",
                                     "122885", "128854257664", "120 GB", "122881", "yes", "yes"])
        self.assertEqual(rows[275][:5] + rows[275][9:], ["275", "282696", "296355856384", "276 GB", "281669", "no", "yes"])
        self.assertEqual(len(rows), 301)
        # By what Windows shows, the rule's FAT32 figure misses at 1, 2, 8, 9, 31 to 99 and 275 to 300.
        misses = [int(row[0]) for row in rows[1:] if row[9] == "no"]
        self.assertEqual(misses, [1, 2, 8, 9, *range(31, 100), *range(275, 301)])
        self.assertFalse([row for row in rows[1:] if row[10] == "no"], "NTFS misses none")
        table_misses = [int(line.split()[0]) for line in lines[1:] if line.split()[3].endswith("*")]
        self.assertEqual(table_misses, misses)

    @unittest.skipIf(COMMAND[-1].endswith(".exe"), "the README is checked once, by the Linux build")
    def test_the_readme_verdict_follows_from_the_csv(self):
        rows = {int(row[0]): row for row in (line.split(",") for line in run("--csv")[1].splitlines()[1:])}
        readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md"), encoding="utf-8").read()
        table = readme[readme.index("<!-- truth-table: begin"):readme.index("<!-- truth-table: end")]
        for line in table.splitlines():
            cells = [cell.strip() for cell in line.strip("|").split("|")]
            if not cells[0].isdigit():
                continue
            row = rows[int(cells[0])]
            self.assertEqual(cells[2].startswith("**"), row[9] == "no", line)
            self.assertEqual(cells[5].startswith("**"), row[10] == "no", line)
        misses = sum(row[9] == "no" for row in rows.values())
        self.assertIn(f"FAT32 figure misses N GB for {misses} of the 300 capacities", table)

    def test_exact_gives_the_least_size_that_reaches(self):
        # Measured with mkfs.fat and mkntfs in Windows' default layout (the truth suite).
        self.assertEqual(run("--exact", "ntfs", "1", "120", "300"), (0, "1025\n122881\n307201\n", ""))
        self.assertEqual(run("--exact", "fat32", "1", "8", "9", "300"), (0, "1027\n8201\n9226\n307276\n", ""))
        # FAT32 counts at most 2^32 sectors (2 TiB); NTFS goes on with larger clusters.
        self.assertEqual(run("--exact", "fat32", "2047"), (0, "2096640\n", ""))
        self.assertEqual(run("--exact", "ntfs", "16383", "16384", "2097151"),
                         (0, "16776193\n16777217\n2147482625\n", ""))

    def test_no_figure_for_a_size_no_volume_can_have(self):
        self.assertEqual(run("fat32", "2047"), (0, "2104312\n", ""))
        for args in (["fat32", "2048"], ["fat32", "2088991"], ["--exact", "fat32", "2048"], ["--message", "fat32", "2048"]):
            code, out, err = run(*args)
            self.assertEqual((code, out, err.count("\n")), (2, "", 1), args)
            self.assertIn("ends at 2 TiB", err)

    def test_double_dash_ends_the_options(self):
        self.assertEqual(run("ntfs", "--", "120"), (0, "122885\n", ""))
        self.assertEqual(run("--exact", "--", "fat32", "1"), (0, "1027\n", ""))
        code, out, err = run("--", "--table")
        self.assertEqual((code, out), (2, ""))
        self.assertIn('"--table"', err)

    def test_help_and_version(self):
        code, out, err = run("--help")
        self.assertEqual((code, err), (0, ""))
        self.assertIn("Usage: karvo-size", out)
        self.assertIn("MiB (mebibytes, 2^20 bytes)", out)
        self.assertIn("parted's MB is 10^6 bytes", out)
        self.assertEqual(run("--version"), (0, f"karvo-size {VERSION}\n", ""))


class Output(unittest.TestCase):
    def test_a_write_that_fails_is_a_failure(self):
        # A full disk, for the figure and for the long table alike.
        for args in (("120",), ("--table",)):
            with open("/dev/full", "wb") as full, tempfile.TemporaryFile() as err:
                code = subprocess.run(COMMAND + list(args), stdout=full, stderr=err, timeout=60).returncode
                err.seek(0)
                message = err.read().decode("utf-8")
            self.assertEqual(code, 2, args)
            self.assertEqual(message.count("\n"), 1, message)
            self.assertIn("cannot write", message)


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

    def test_each_names_what_the_user_typed(self):
        self.expect_error(["--fs", "fat32", "--fs", "ntfs", "5"], '"ntfs"', "give one")
        self.expect_error(["--table", "--fs", "fat32"], '"fat32"', "1 to 300 GB")
        self.expect_error(["--inspect", "img", "abc"], '"abc" is not a capacity', "")
        self.expect_error(["-x"], 'unknown option "-x"', "--help")
        self.expect_error(["--inspect", ""], "--inspect needs the path", "")
        self.expect_error(["--table", "--csv"], '"--csv"', "one of")
        self.expect_error(["--inspect", "a", "--inspect=b"], '"--inspect=b"', "one of")
        code, _, err = run("ntfs", "7" * 5000)
        self.assertEqual(code, 2)
        self.assertLess(len(err), 200, "a long argument is shortened")
        self.assertIn('"' + "7" * 20, err)



@unittest.skipUnless(COMMAND[-1].endswith(".exe"), "drive letters are Windows' own")
class DriveLetters(unittest.TestCase):
    def test_a_drive_letter_is_read_as_windows_reports_it(self):
        # Wine's C: is the prefix's drive_c folder: the host's own figures for it.
        host = os.statvfs(os.path.join(COMMAND[1], "drive_c"))
        for drive in ("C:", "c:\\"):
            code, out, err = run("--inspect", drive)
            self.assertEqual((code, err), (0, ""), drive)
            self.assertIn(f"\ncapacity: {host.f_blocks * host.f_frsize} bytes\n", out)
        code, out, err = run("--inspect", "Y:")
        self.assertEqual((code, out, err.count("\n")), (2, "", 1))
        self.assertIn("no volume there", err)


def boot_sector(fields, size=512):
    """A sector of zeros with the 55 AA signature and the given (offset, format, value) fields."""
    sector = bytearray(size)
    for offset, fmt, value in fields:
        struct.pack_into(fmt, sector, offset, value)
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def fat32_fields(sectors=2097152, fat_sectors=2044, sectors_per_cluster=8, reserved=32, fats=2):
    return [(11, "<H", 512), (13, "<B", sectors_per_cluster), (14, "<H", reserved), (16, "<B", fats),
            (32, "<I", sectors), (36, "<I", fat_sectors), (82, "8s", b"FAT32   ")]


def ntfs_fields(sectors=2099199, sectors_per_cluster=8):
    return [(3, "8s", b"NTFS    "), (11, "<H", 512), (13, "<B", sectors_per_cluster), (0x28, "<Q", sectors)]


class Inspect(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="karvo-inspect.")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def image(self, name, content=b"", size=None):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(content)
        if size is not None:
            os.truncate(path, size)
        return path

    def formatted(self, kind, megabytes, cluster_sectors=8):
        path = self.image(f"{kind}-{megabytes}.img", size=megabytes << 20)
        if kind == "fat32":
            subprocess.run(["mkfs.fat", "-F", "32", "-S", "512", "-s", str(cluster_sectors), "-R", "32", "-f", "2", "-a",
                            "-I", path], check=True, capture_output=True)
        else:
            subprocess.run(["mkntfs", "-F", "-Q", "-q", "-s", "512", "-c", "4096", "-p", "0", "-H", "0", "-S", "0",
                            path], check=True, capture_output=True)
        return path

    def test_reads_formatted_volumes_and_says_whether_they_reach(self):
        fat = self.formatted("fat32", 1024)
        self.assertEqual(run("--inspect", fat), (0, "file system: FAT32\ncluster size: 4096 bytes\n"
                                                    "capacity: 1071632384 bytes\nWindows shows: 0.99 GB\n", ""))
        code, out, _ = run("--inspect", fat, "1")
        self.assertEqual((code, out.splitlines()[-2:]), (1, ["reaches 1 GB: no, 2109440 bytes short",
                                                             "Windows shows 1 GB: no, it shows 0.99 GB"]))
        ntfs = self.formatted("ntfs", 1025)
        code, out, _ = run("--inspect", ntfs, "1")
        self.assertEqual((code, out.splitlines()[1:]), (0, ["cluster size: 4096 bytes", "capacity: 1074786304 bytes",
                                                            "Windows shows: 1.00 GB", "reaches 1 GB: yes",
                                                            "Windows shows 1 GB: yes"]))
        code, out, _ = run("--inspect=" + ntfs, "2")
        self.assertEqual((code, out.splitlines()[-2]), (1, "reaches 2 GB: no, 1072697344 bytes short"))
        # "-" reads the volume from standard input.
        with open(ntfs, "rb") as image, tempfile.TemporaryFile() as out:
            code = subprocess.run(COMMAND + ["--inspect", "-"], stdin=image, stdout=out, timeout=60).returncode
            out.seek(0)
            self.assertEqual((code, out.read().decode().replace("\r\n", "\n").splitlines()[2]),
                             (0, "capacity: 1074786304 bytes"))
        # The rule's FAT32 figure for 275 GB reaches 275 GiB, and Explorer shows one more.
        code, out, _ = run("--inspect", self.formatted("fat32", 282696, cluster_sectors=64), "275")
        self.assertEqual((code, out.splitlines()[-3:]), (1, ["Windows shows: 276 GB", "reaches 275 GB: yes",
                                                             "Windows shows 275 GB: no, it shows 276 GB"]))

    def test_other_fat_volumes_are_named_for_what_they_are(self):
        for name, command in (("FAT12", ["mkfs.fat", "-F", "12"]), ("FAT16", ["mkfs.fat", "-F", "16"]),
                              ("exFAT", ["mkfs.exfat"])):
            path = self.image(name + ".img", size=64 << 20)
            subprocess.run(command + [path], check=True, capture_output=True)
            self.expect_refused(["--inspect", path], f"{name} volume: karvo-size reads FAT32 and NTFS")

    def disk(self, name, script, fat32_at=None):
        """A 3 GiB disk image partitioned by sfdisk; a FAT32 volume of 1 GiB at sector `fat32_at`."""
        path = self.image(name, size=3 << 30)
        subprocess.run(["sfdisk", "-q", path], input=script, text=True, check=True, capture_output=True)
        if fat32_at is not None:
            subprocess.run(["mkfs.fat", "-F", "32", "-S", "512", "-s", "8", "-R", "32", "-f", "2", "-a", "--offset",
                            str(fat32_at), path, str(1 << 20)], check=True, capture_output=True)
        return path

    def test_whole_disks_list_their_partitions_and_inspect_each_volume(self):
        mbr = self.disk("mbr.img", "label: dos\nstart=2048, size=2097152, type=c\nstart=2099200, type=5\n"
                                   "start=2101248, size=1048576, type=83\nstart=3151872, size=204800, type=7\n",
                        fat32_at=2048)
        code, out, _ = run("--inspect", mbr)
        self.assertEqual((code, out.splitlines()), (0, [
            "partition table: MBR",
            "partition 1: start 1 MiB, size 1024 MiB, type 0x0c FAT32 (LBA)",
            "  file system: FAT32", "  cluster size: 4096 bytes", "  capacity: 1071632384 bytes",
            "  Windows shows: 0.99 GB",
            "partition 2: start 1025 MiB, size 2047 MiB, type 0x05 extended",
            "partition 5: start 1026 MiB, size 512 MiB, type 0x83 Linux",
            "  no boot sector signature: not FAT32 or NTFS",
            "partition 6: start 1539 MiB, size 100 MiB, type 0x07 NTFS or exFAT",
            "  no boot sector signature: not FAT32 or NTFS"]))
        gpt = self.disk("gpt.img", "label: gpt\nstart=2048, size=2097152, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                                   "start=2099200, size=204800, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n", fat32_at=2048)
        code, out, _ = run("--inspect", gpt)
        self.assertEqual((code, out.splitlines()[:3]), (0, ["partition table: GPT",
                                                            "partition 1: start 1 MiB, size 1024 MiB, type Microsoft basic data",
                                                            "  file system: FAT32"]))
        self.assertEqual(out.splitlines()[-2], "partition 2: start 1025 MiB, size 100 MiB, type Linux filesystem")
        self.expect_refused(["--inspect", gpt, "1"], "whole disk")
        # Damaged tables, and one that points past the end of the disk: one line, status 2.
        with open(gpt, "r+b") as f:
            f.seek(1024 + 40)
            f.write(b"\x01")
        self.expect_refused(["--inspect", gpt], "CRC does not match")
        # A partition that starts on the disk and ends past it.
        past = self.image("past.img", boot_sector([(450, "<B", 0x0C), (454, "<I", 2048), (458, "<I", 4096)]),
                          size=2 << 20)
        self.expect_refused(["--inspect", past], "points outside the disk")

    def expect_refused(self, args, mentioned):
        code, out, err = run(*args)
        self.assertEqual((code, out), (2, ""), args)
        self.assertEqual(err.count("\n"), 1, err)
        self.assertIn(mentioned, err)

    def test_bad_volumes_get_one_line_and_status_2(self):
        volume = 2097152 * 512
        cases = {
            "zero-length": (b"", None, "empty"),
            "short": (b"\xeb\x58\x90" + b"\0" * 300, None, "too short"),
            "text": (b"just some text\n" * 100, None, "signature"),
            "no-file-system": (boot_sector([(3, "8s", b"MSDOS5.0")]), volume, "not a FAT32 or NTFS"),
            "zero-cluster": (boot_sector(fat32_fields(sectors_per_cluster=0)), volume, "cluster size"),
            "odd-cluster": (boot_sector(fat32_fields(sectors_per_cluster=3)), volume, "cluster size"),
            "huge-fat": (boot_sector(fat32_fields(fat_sectors=0xFFFFFFFF)), volume, "larger than the volume"),
            "small-fat": (boot_sector(fat32_fields(fat_sectors=16)), volume, "cannot hold"),
            "no-fat": (boot_sector(fat32_fields(fats=0)), volume, "no FAT"),
            "sector-size": (boot_sector(fat32_fields() + [(11, "<H", 513)]), volume, "sector size"),
            "fat16": (boot_sector(fat32_fields() + [(17, "<H", 512), (22, "<H", 200)]), volume, "FAT16"),
            "ntfs-zero-cluster": (boot_sector(ntfs_fields(sectors_per_cluster=0)), volume, "cluster size"),
            "ntfs-overflow": (boot_sector(ntfs_fields(sectors=0xFFFFFFFFFFFFFFFF)), volume, "overflows"),
            "ntfs-no-sectors": (boot_sector(ntfs_fields(sectors=0)), volume, "no sectors"),
            "truncated": (boot_sector(fat32_fields()), 1 << 20, "truncated"),
        }
        for name, (content, size, mentioned) in cases.items():
            with self.subTest(name):
                self.expect_refused(["--inspect", self.image(name + ".img", content, size)], mentioned)
        self.expect_refused(["--inspect", self.folder], "directory")
        self.expect_refused(["--inspect", os.path.join(self.folder, "missing.img")], "missing.img")
        self.expect_refused(["--inspect"], "needs the path")
        good = self.image("good.img", boot_sector(fat32_fields()), volume)
        self.expect_refused(["--inspect", good, "ntfs"], "only a capacity")
        self.expect_refused(["--inspect", good, "0"], '"0"')
        self.expect_refused(["--inspect", good, "1", "2"], "one capacity too many")


if __name__ == "__main__":
    unittest.main()
