#!/usr/bin/python3
"""karvo-size run as a process, as a script would run it.

    check_karvo_size.py COMMAND...    (the program, with anything that runs it first)
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

COMMAND = sys.argv[1:]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "truth"))
import truth_suite  # noqa: E402  the file systems' own checkers, as the truth suite asks them

# Under Wine each start of karvo-size.exe costs a quarter of a second. There the
# suite keeps what only the Windows program shows (its arguments, output and
# status, files opened by name, at large offsets, as standard input, drive
# letters); what the readers and the arithmetic make of the bytes is the same
# code in both builds, proved here by the Linux build and, in process under
# Wine, by disk_tests and karvo_size_tests.
EXE = COMMAND[-1].endswith(".exe")
linux_only = unittest.skipIf(EXE, "the same code in both builds: proved by the Linux build, and in process under Wine")

VERSION = open(os.path.join(os.path.dirname(__file__), "..", "..", "VERSION")).read().strip()


def run(*args, stdin=None, command=COMMAND, json_too=True):
    # Files, not pipes: helper processes that Wine starts keep inherited pipes
    # open long after the program itself has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(command + list(args), stdin=stdin, stdout=out, stderr=err, timeout=60).returncode
        text = lambda f: (f.seek(0), f.read())[1].decode("utf-8").replace("\r\n", "\n")
        answer = code, text(out), text(err)
    if json_too and not EXE and stdin is None and command == COMMAND:
        check_json(args, answer)
    return answer


SCHEMA = json.load(open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "karvo-size.schema.json")))


def check_json(args, answer):
    """Every request of this suite that has a JSON form is asked for it too: it refuses what the text refuses; else
    it keeps the status and what goes to standard error, fits the schema, and gives the numbers the text gives."""
    import jsonschema
    if {"--help", "-h", "--version", "--json", "--message", "--diskpart", "--", "--fs"} & set(args) or any(
            arg.startswith(("--diskpart=", "--fs=")) for arg in args):
        return
    json_args = [arg for arg in args if arg not in ("--sfdisk", "--csv", "--table")] + ["--json"]
    code, out, err = answer
    json_code, json_out, json_err = run(*json_args, json_too=False)
    if (code, out) == (2, ""):
        assert (json_code, json_out) == (2, ""), (json_args, json_code, json_err)
        return
    assert (json_code, json_err) == (code, err), (json_args, json_code, json_err)
    answer = json.loads(json_out)
    jsonschema.Draft202012Validator(SCHEMA).validate(answer)
    if "figures" in answer:
        assert [figure["mib"] for figure in answer["figures"]] == [int(line) for line in out.split()], json_args
    elif "volume" in answer:
        assert f"capacity: {answer['volume']['capacity_bytes']} bytes\n" in out, json_args
    elif "--sfdisk" in args:
        planned = [(p["start"], p["size"], p["type"].zfill(2).lower(), p.get("bootable", False), p.get("attrs", ""))
                   for p in answer["partitiontable"]["partitions"]]
        assert planned == sfdisk_layout(out), json_args


class Answers(unittest.TestCase):
    """What a script sees: figures on stdout, notes and refusals on stderr, the status.
    Each argument's checks are tested in process (karvo_size_tests)."""

    def test_one_figure_a_line(self):
        if not EXE:
            self.assertEqual(run("FAT32", "1", "2", "300"), (0, "1024\n2052\n308396\n", ""))
        self.assertEqual(run("--message", "ntfs", "120"),
                         (0, "您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.\n", ""))

    @linux_only
    def test_from_1000_gb_the_figure_comes_with_what_windows_shows(self):
        self.assertEqual(run("ntfs", "1000"), (0, "1024005\n", "karvo-size: from 1000 GB Windows shows a size in TB, "
                                                                 "never as N GB: 1000 GB as 0.97 TB\n"))

    @linux_only
    def test_a_bad_argument_is_one_line_and_status_2(self):
        self.assertEqual(run("fat32", "2041"), (2, "", 'karvo-size: "2041" is too large: give whole gigabytes from 1 to '
                                                       "2040 for FAT32 (FAT32 on 512-byte sectors ends at 2 TiB, and "
                                                       "Karvo's figure for more is past it; --exact goes to 2047)\n"))

    @linux_only
    def test_table_lists_1_to_300_aligned_with_its_misses_marked(self):
        code, out, _ = run("--table")
        self.assertEqual([line for line in out.splitlines() if line != line.rstrip()], [], "no line ends in a blank")
        lines = out.splitlines()
        self.assertEqual((code, len(lines)), (0, 301))
        # capacity; FAT32 rule, what Windows shows (* where not N GB), exact; the same for NTFS;
        # exFAT's figure (its exact one) and what Windows shows
        self.assertEqual(lines[1].split(), ["1", "1024", "0.99", "GB*", "1027", "1029", "1.00", "GB", "1025", "1026",
                                            "1.00", "GB"])
        self.assertEqual(lines[300].split(), ["300", "308396", "301", "GB*", "307276", "307205", "300", "GB", "307201",
                                              "307211", "300", "GB"])
        # Aligned: a line ends in its "*" or, where there is none, a column short.
        self.assertEqual(len({len(line) + (line[-1] != "*" and line != lines[0]) for line in lines}), 1,
                         "columns are aligned")
        misses = [int(row[0]) for row in csv_rows()[1:] if row[9] == "no"]
        table_misses = [int(line.split()[0]) for line in lines[1:] if line.split()[3].endswith("*")]
        self.assertEqual(table_misses, misses)

    def test_csv_lists_1_to_300(self):
        rows = csv_rows()
        self.assertEqual(rows[0], ["capacity_gb", "fat32_mib", "fat32_bytes", "fat32_shows", "fat32_exact_mib",
                                   "ntfs_mib", "ntfs_bytes", "ntfs_shows", "ntfs_exact_mib",
                                   "fat32_shows_capacity", "ntfs_shows_capacity",
                                   "exfat_mib", "exfat_bytes", "exfat_shows", "exfat_shows_capacity"])
        self.assertEqual(rows[275][:5] + rows[275][9:], ["275", "282696", "296355856384", "276 GB", "281669", "no", "yes",
                                                         "281610", "295279001600", "275 GB", "yes"])
        self.assertEqual(len(rows), 301)
        # By what Windows shows, the rule's FAT32 figure misses at 1, 2, 8, 9, 31 to 99 and 275 to 300.
        misses = [int(row[0]) for row in rows[1:] if row[9] == "no"]
        self.assertEqual(misses, [1, 2, 8, 9, *range(31, 100), *range(275, 301)])
        self.assertFalse([row for row in rows[1:] if row[10] == "no" or row[14] == "no"], "NTFS and exFAT miss none")

    @unittest.skipIf(EXE, "the documents are checked once, by the Linux build")
    def test_the_measured_verdict_follows_from_the_csv(self):
        rows = {int(row[0]): row for row in csv_rows()[1:]}
        root = os.path.join(os.path.dirname(__file__), "..", "..")
        with open(os.path.join(root, "docs", "truth-table.md"), encoding="utf-8") as f:
            document = f.read()
        table = document[document.index("<!-- truth-table: begin"):document.index("<!-- truth-table: end")]
        for line in table.splitlines():
            cells = [cell.strip() for cell in line.strip("|").split("|")]
            if not cells[0].isdigit():
                continue
            row = rows[int(cells[0])]
            self.assertEqual(cells[2].startswith("**"), row[9] == "no", line)
            self.assertEqual(cells[5].startswith("**"), row[10] == "no", line)
        misses = sum(row[9] == "no" for row in rows.values())
        self.assertIn(f"FAT32 figure misses N GB for {misses} of the 300 capacities", table)
        # The README's sentence of it.
        with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
            self.assertIn(f"FAT32 figure misses for\n{misses} of the 300 capacities", f.read())

    @linux_only
    def test_help_and_version(self):
        code, out, err = run("--help")
        self.assertEqual((code, err), (0, ""))
        for text in ("Usage: karvo-size", "MiB (mebibytes, 2^20 bytes)", "parted's MB is 10^6 bytes", "--partno N",
                     "--sector-size SIZE", "on 512-byte sectors"):
            self.assertIn(text, out)
        self.assertEqual(run("--version"), (0, f"karvo-size {VERSION}\n", ""))


_csv = []


def csv_rows():
    if not _csv:
        _csv.extend(line.split(",") for line in run("--csv")[1].splitlines())
    return _csv


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


@unittest.skipUnless(EXE, "drive letters are Windows' own")
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


def tool(*command, input=None):
    return subprocess.run(command, input=input, text=True, check=True, capture_output=True).stdout


def place(volume, disk, offset):
    """Copies the data of a sparse volume image into a disk image at `offset`, holes left as holes."""
    with open(volume, "rb") as source, open(disk, "r+b") as target:
        end, at = os.fstat(source.fileno()).st_size, 0
        while at < end:
            try:
                data = os.lseek(source.fileno(), at, os.SEEK_DATA)
            except OSError:
                break
            at = os.lseek(source.fileno(), data, os.SEEK_HOLE)
            source.seek(data)
            target.seek(offset + data)
            target.write(source.read(at - data))


def volume_lines(kind, cluster, capacity, indent=""):
    return [f"{indent}file system: {kind}", f"{indent}cluster size: {cluster} bytes",
            f"{indent}capacity: {capacity} bytes"]


class Images(unittest.TestCase):
    """A folder of sparse images for each class of tests."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="karvo-images.")

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

    def formatted(self, kind, size, sector=512, cluster_sectors=8, name=None):
        """A volume image of `size` bytes in Windows' default layout; its capacity as its file system's checker says."""
        path = self.image(name or f"{kind}-{size}-{sector}.img", size=size)
        if kind == "fat32":
            tool("mkfs.fat", "-F", "32", "-S", str(sector), "-s", str(cluster_sectors), "-R", "32", "-f", "2", "-a",
                 "-I", path)
        elif kind == "exfat":
            tool("mkfs.exfat", path)
        else:
            tool("mkntfs", "-F", "-Q", "-q", "-s", str(sector), "-c", "4096", "-p", "0", "-H", "0", "-S", "0", path)
        return path, truth_suite.tool_capacity(kind, path)

    def disk(self, name, script, size=3 << 30, sector=512):
        """A disk image partitioned by sfdisk, or by fdisk for other sector sizes."""
        path = self.image(name, size=size)
        if sector == 512:
            tool("sfdisk", "-q", path, input=script)
        else:
            with open(path + ".sfdisk", "w") as f:
                f.write(script)
            tool("fdisk", "-b", str(sector), path, input=f"I\n{path}.sfdisk\nw\n")
        return path


class Inspect(Images):
    """Real images, as the formatters and partitioners make them."""

    def expect_refused(self, args, mentioned, stdin=None):
        code, out, err = run(*args, stdin=stdin)
        self.assertEqual((code, out), (2, ""), args)
        self.assertEqual(err.count("\n"), 1, err)
        self.assertIn(mentioned, err)

    def test_reads_formatted_volumes_and_says_whether_they_reach(self):
        fat, _ = self.formatted("fat32", 1024 << 20)
        if not EXE:
            self.assertEqual(run("--inspect", fat), (0, "file system: FAT32\ncluster size: 4096 bytes\n"
                                                        "capacity: 1071632384 bytes\nWindows shows: 0.99 GB\n", ""))
        code, out, _ = run("--inspect", fat, "1")
        self.assertEqual((code, out.splitlines()[-2:]), (1, ["reaches 1 GB: no, 2109440 bytes short",
                                                             "Windows shows 1 GB: no, it shows 0.99 GB"]))
        ntfs, _ = self.formatted("ntfs", 1025 << 20)
        if not EXE:
            code, out, _ = run("--inspect=" + ntfs, "1")
            self.assertEqual((code, out.splitlines()[1:]), (0, ["cluster size: 4096 bytes", "capacity: 1074786304 bytes",
                                                                "Windows shows: 1.00 GB", "reaches 1 GB: yes",
                                                                "Windows shows 1 GB: yes"]))
        # "-" reads the volume from standard input, a pipe as well as a file.
        with open(ntfs, "rb") as image:
            self.assertEqual(run("--inspect", "-", stdin=image)[1].splitlines()[2], "capacity: 1074786304 bytes")
        self.assertEqual(self.piped(ntfs)[1].splitlines()[2], "capacity: 1074786304 bytes")
        if EXE:
            return
        # The rule's FAT32 figure for 275 GB reaches 275 GiB, and Explorer shows one more.
        code, out, _ = run("--inspect", self.formatted("fat32", 282696 << 20, cluster_sectors=64)[0], "275")
        self.assertEqual((code, out.splitlines()[-3:]), (1, ["Windows shows: 276 GB", "reaches 275 GB: yes",
                                                             "Windows shows 275 GB: no, it shows 276 GB"]))

    @linux_only
    def test_a_small_fat32_volume_is_fat32_as_windows_reads_it(self):
        # A 100 MiB EFI partition as mkfs.fat -F 32 makes it: 4 KiB clusters, fewer than 65,525.
        path = self.image("efi.img", size=100 << 20)
        tool("mkfs.fat", "-F", "32", "-s", "8", path)
        code, out, err = run("--inspect", path)
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.splitlines()[2], "clusters: 25546, fewer than the 65525 the FAT specification asks of "
                                              "FAT32 (Windows reads it as FAT32)")
        self.assertIn(f"capacity: {truth_suite.tool_capacity('fat32', path)} bytes", out)

    def test_other_volumes_are_named_for_what_they_are(self):
        # What the bytes hold, read by the Linux build; where they cannot be read, by both.
        for name in [] if EXE else ["FAT12", "FAT16"]:
            path = self.image(name + ".img", size=64 << 20)
            tool("mkfs.fat", "-F", name[3:], path)
            self.expect_refused(["--inspect", path], f"{name} volume: karvo-size reads FAT32, NTFS and exFAT")
        if not EXE:
            self.expect_refused(["--inspect", self.image("empty.img")], "empty")
        self.expect_refused(["--inspect", self.folder], "directory")
        self.expect_refused(["--inspect", os.path.join(self.folder, "missing.img")], "missing.img")

    def piped(self, path):
        """karvo-size --inspect - reading the image through a pipe, as cat disk.img | karvo-size would."""
        cat = subprocess.Popen(["cat", path], stdout=subprocess.PIPE)
        try:
            return run("--inspect", "-", stdin=cat.stdout)
        finally:
            cat.kill()
            cat.wait()
            cat.stdout.close()

    def test_whole_disks_list_their_partitions_and_inspect_each_volume(self):
        mbr = self.disk("mbr.img", "label: dos\nstart=2048, size=2097152, type=c\nstart=2099200, type=5\n"
                                   "start=2101248, size=1048576, type=83\nstart=3151872, size=204800, type=7\n")
        tool("mkfs.fat", "-F", "32", "-S", "512", "-s", "8", "-R", "32", "-f", "2", "-a", "--offset", "2048", mbr,
             str(1 << 20))
        # An exFAT volume in the logical partition of type 0x07, as mkfs.exfat makes it.
        exfat, exfat_bytes = self.formatted("exfat", 100 << 20)
        place(exfat, mbr, 3151872 * 512)
        code, out, _ = run("--inspect", mbr)
        self.assertEqual((code, out.splitlines()), (0, [
            "partition table: MBR, 512-byte sectors",
            "partition 1: start 1 MiB, size 1024 MiB, type 0x0c FAT32 (LBA)",
            *volume_lines("FAT32", 4096, 1071632384, "  "), "  Windows shows: 0.99 GB",
            "partition 2: start 1025 MiB, size 2047 MiB, type 0x05 extended",
            "partition 5: start 1026 MiB, size 512 MiB, type 0x83 Linux",
            "  no boot sector signature: not FAT32, NTFS or exFAT",
            "partition 6: start 1539 MiB, size 100 MiB, type 0x07 NTFS or exFAT",
            *volume_lines("exFAT", 4096, exfat_bytes, "  "), "  Windows shows: 98.0 MB"]))
        # With "<" standard input is the file itself; through a pipe a whole disk cannot be reached.
        with open(mbr, "rb") as image:
            self.assertEqual(run("--inspect", "-", stdin=image), (0, out, ""))
        if EXE:
            return
        code, out, err = self.piped(mbr)
        self.assertEqual((code, out, err), (2, "", "karvo-size: -: a whole disk, whose partitions cannot be read "
                                                   "through a pipe: give its image file or its device\n"))
        # The second extended boot record, in front of partition 6, loses its
        # signature: what was read stays listed, as fdisk lists it.
        with open(mbr, "r+b") as f:
            f.seek((3151872 - 2048) * 512 + 510)
            f.write(b"\0\0")
        code, broken, err = run("--inspect", mbr)
        self.assertEqual((code, broken.splitlines()[-2:], err), (2, [
            "partition 5: start 1026 MiB, size 512 MiB, type 0x83 Linux",
            "  no boot sector signature: not FAT32, NTFS or exFAT"],
            f"karvo-size: {mbr}: a damaged extended partition: its chain of logical partitions breaks after "
            "partition 5\n"))
        # A disk initialised and not partitioned, as sfdisk and Windows leave one.
        blank = self.disk("blank.img", "label: dos\n", size=1 << 30)
        self.assertEqual(run("--inspect", blank), (0, "partition table: MBR, 512-byte sectors\nno partitions\n", ""))

    @linux_only
    def test_an_exfat_volume_whose_main_boot_region_fails_is_read_from_its_backup(self):
        exfat, _ = self.formatted("exfat", 2 << 30)
        code, whole, err = run("--inspect", exfat)
        self.assertEqual((code, err), (0, ""))
        # Sectors a cluster as 2^4, not 2^6, in the main boot sector, as a hex editor leaves it.
        with open(exfat, "r+b") as f:
            f.seek(109)
            f.write(b"\x04")
        self.assertEqual(run("--inspect", exfat), (0, whole, f"karvo-size: {exfat}: exFAT boot region whose checksum "
                                                               "does not match: read from its backup, which is whole\n"))
        with open(exfat, "r+b") as f:
            f.seek(12 * 512 + 109)
            f.write(b"\x04")
        self.expect_refused(["--inspect", exfat], "exFAT boot region whose checksum does not match, and no whole backup")

    def test_a_damaged_primary_gpt_gives_way_to_the_backup(self):
        gpt = self.disk("gpt.img", f"label: gpt\nstart=2048, size=2097152, type={BASIC_DATA}\n"
                                   "start=2099200, size=204800, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n")
        tool("mkfs.fat", "-F", "32", "-S", "512", "-s", "8", "-R", "32", "-f", "2", "-a", "--offset", "2048", gpt,
             str(1 << 20))
        healthy = None if EXE else run("--inspect", gpt)
        # The primary header's CRC broken, as sfdisk finds it: the backup at the disk's end, past 2 GiB, is listed.
        with open(gpt, "r+b") as f:
            f.seek(512 + 40)
            f.write(b"\x01")
        code, listed, err = run("--inspect", gpt)
        self.assertEqual(code, 0)
        self.assertTrue(err.startswith(f"karvo-size: {gpt}: a damaged GPT header") and
                        err.endswith("; the backup GPT at the disk's end is whole and is listed\n"), err)
        self.assertEqual(listed.splitlines()[:3], ["partition table: GPT, 512-byte sectors", "partition 1: start 1 MiB, "
                                                   "size 1024 MiB, type Microsoft basic data", "  file system: FAT32"])
        self.assertEqual(listed.splitlines()[-2], "partition 2: start 1025 MiB, size 100 MiB, type Linux filesystem")
        if EXE:
            return
        self.assertEqual(healthy, (0, listed, ""))
        if EXE:
            return
        with open(gpt, "r+b") as f:
            f.seek((3 << 30) - 512 + 40)
            f.write(b"\x01")
        self.expect_refused(["--inspect", gpt], f"{gpt}: a damaged GPT header")

    @linux_only
    def test_a_windows_mbr_disk_as_windows_lays_it_out(self):
        # System Reserved, active; C:; an extended partition of type 0x0F whose
        # last logical drive fills it; sizes not in whole MiB.
        disk = self.disk("windows.img", "label: dos\nstart=2048, size=204800, type=7, bootable\n"
                                        "start=206848, size=2097152, type=7\nstart=2304000, type=f\n"
                                        "start=2306048, size=1000000, type=c\nstart=3308544, type=7\n")
        reserved, reserved_bytes = self.formatted("ntfs", 204800 * 512, name="reserved.img")
        fat, fat_bytes = self.formatted("fat32", 1000000 * 512, cluster_sectors=8, name="logical-fat.img")
        last, last_bytes = self.formatted("ntfs", (6291456 - 3308544) * 512, name="logical-ntfs.img")
        for volume, sector in ((reserved, 2048), (fat, 2306048), (last, 3308544)):
            place(volume, disk, sector * 512)
        code, out, err = run("--inspect", disk)
        lines = out.splitlines()
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(lines[:4], ["partition table: MBR, 512-byte sectors",
                                     "partition 1: start 1 MiB, size 100 MiB, type 0x07 NTFS or exFAT, active",
                                     *volume_lines("NTFS", 4096, reserved_bytes, "  ")[:2]])
        self.assertEqual(lines[4], f"  capacity: {reserved_bytes} bytes")
        self.assertEqual(lines[6:8], ["partition 2: start 101 MiB, size 1024 MiB, type 0x07 NTFS or exFAT",
                                      "  no boot sector signature: not FAT32, NTFS or exFAT"])
        self.assertEqual(lines[8:10], ["partition 3: start 1125 MiB, size 1947 MiB, type 0x0f extended",
                                       "partition 5: start 1126 MiB, size 488.28 MiB, type 0x0c FAT32 (LBA)"])
        self.assertEqual(lines[12], f"  capacity: {fat_bytes} bytes")
        self.assertEqual(lines[14:16], ["partition 6: start 1615.50 MiB, size 1456.50 MiB, type 0x07 NTFS or exFAT",
                                        "  file system: NTFS"])
        self.assertEqual(lines[17], f"  capacity: {last_bytes} bytes")

    @linux_only
    def test_4k_sector_disks_as_fdisk_makes_them(self):
        # 4096-byte sectors throughout: the table, and both volumes (mkfs.fat -S 4096, mkntfs -s 4096).
        fat, fat_bytes = self.formatted("fat32", 1 << 30, sector=4096, cluster_sectors=1, name="fat-4k.img")
        ntfs, ntfs_bytes = self.formatted("ntfs", 1 << 30, sector=4096, name="ntfs-4k.img")
        for scheme, script in (("GPT", f"label: gpt\nstart=256, size=262144, type={BASIC_DATA}\n"
                                       f"start=262400, size=262144, type={BASIC_DATA}\n"),
                               ("MBR", "label: dos\nstart=256, size=262144, type=c\nstart=262400, size=262144, type=7\n")):
            disk = self.disk(f"4k-{scheme}.img", script, size=3 << 30, sector=4096)
            place(fat, disk, 256 * 4096)
            place(ntfs, disk, 262400 * 4096)
            code, out, err = run("--inspect", disk)
            lines = out.splitlines()
            self.assertEqual((code, err), (0, ""), scheme)
            self.assertEqual(lines[0], f"partition table: {scheme}, 4096-byte sectors")
            self.assertEqual(lines[1].split(", type")[0], "partition 1: start 1 MiB, size 1024 MiB")
            self.assertEqual(lines[2:5], volume_lines("FAT32", 4096, fat_bytes, "  "), scheme)
            self.assertEqual(lines[6].split(", type")[0], "partition 2: start 1025 MiB, size 1024 MiB")
            self.assertEqual(lines[7:10], volume_lines("NTFS", 4096, ntfs_bytes, "  "), scheme)


BASIC_DATA = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"
RECOVERY = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"


@unittest.skipUnless(EXE, "the Windows program against the Linux one")
class JsonOfBothPrograms(Images):
    def test_each_form_is_the_same_bytes_from_the_windows_and_the_linux_program(self):
        linux = os.environ.get("KARVO_LINUX_PROGRAM", "")
        if not os.path.exists(linux):
            self.skipTest("no Linux program to compare with: make test builds it first")
        volume, _ = self.formatted("fat32", 64 << 20)
        disk = self.disk("gpt.img", 'label: gpt\nstart=2048, size=8192, name="Data"\n', size=64 << 20)
        for args in (["ntfs", "120", "2000"], [], ["--inspect", volume, "1"], ["--inspect", disk],
                     ["--plan", "1TB", "--mbr", "--windows", "ntfs", "100", "rest"]):
            self.assertEqual(run(*args, "--json"), run(*args, "--json", command=[linux]), args)


@linux_only
class Catalogue(unittest.TestCase):
    def test_every_partition_kind_is_one_sfdisk_knows_by_the_same_type(self):
        """The catalogue's GUIDs and MBR codes, checked against sfdisk's own lists (their names differ from Windows')."""
        root = os.path.join(os.path.dirname(__file__), "..", "..", "disk")
        with open(os.path.join(root, "on_disk.h")) as f:
            named = {f"{space}::{name}": value
                     for space, body in re.findall(r"^namespace (\w+) \{(.*?)^\}", f.read(), re.M | re.S)
                     for name, value in re.findall(r'(k\w+Type) = "?(0x[0-9A-F]{2}|[0-9A-F-]{36})', body)}
        with open(os.path.join(root, "partition_kind.cpp")) as f:
            rows = re.findall(r'^ *(?:Required\()?(Gpt|Mbr|Extended)\(((?:gpt|mbr)::k\w+|"[^"]+"|0x[0-9A-F]{2})',
                              f.read(), re.M)
        self.assertGreater(len(rows), 20)
        for label, gpt in (("gpt", True), ("dos", False)):
            known = {line.split()[0].lower() for line in tool("sfdisk", "--label", label, "-T").splitlines()[1:] if line}
            for scheme, value in rows:
                if (scheme == "Gpt") == gpt:
                    value = named.get(value, value).strip('"').lower()
                    self.assertIn(value[2:].lstrip("0") if value.startswith("0x") else value, known, value)


# The recovery partition's GPT attributes, as sfdisk names them and as diskpart sets them.
RECOVERY_ATTRS = "RequiredPartition GUID:63"


def sfdisk_layout(script):
    """(start, size, type, bootable, attrs) of each partition of an sfdisk script, in sectors."""
    return [(int(m[1]), int(m[2]), m[3].lower(), bool(m[4]), m[5] or "")
            for m in re.finditer(r'^start=(\d+), size=(\d+), type=(\w+(?:-\w+)*)(?:, name="[^"]*")?(, bootable)?'
                                 r'(?:, attrs="([^"]*)")?$', script, re.M)]


def sfdisk_members(table):
    """What sfdisk's JSON of a table holds that a plan or a reading knows too: not the disk's name nor the UUIDs."""
    return ({key: table[key] for key in ("label", "unit", "firstlba", "lastlba", "sectorsize") if key in table},
            [{key: p[key] for key in ("start", "size", "type", "name", "bootable", "attrs") if key in p}
             for p in table["partitions"]])


def diskpart_layout(script, disk, sector, gpt, cleaned):
    """What diskpart would make of a script, by its documented rules: one command a line, no empty line, rem
    for comments; the disk selected by number before anything else; clean and convert only when asked; each
    partition at its offset (KB) and of its size (MB, which diskpart means as MiB). As (start, size, type)."""
    commands = script.split("\n")
    assert commands.pop() == "", "the script ends its last line"
    assert all(line.strip() == line and line for line in commands), "no empty lines, no blanks around a command"
    commands = [line for line in commands if not line.startswith("rem ")]
    assert commands[0] == f"select disk {disk}", commands[0]
    erasing = commands[1:3] == ["clean", "convert " + ("gpt" if gpt else "mbr")]
    assert erasing == cleaned and "clean" not in commands[3 if erasing else 1:], commands
    types = {"efi": "c12a7328-f81f-11d2-ba4b-00a0c93ec93b", "msr": "e3c9e316-0b5c-4db8-817d-f92df00215ae",
             "primary": BASIC_DATA.lower() if gpt else "07", "logical": "07", "extended": "0f"}
    layout = []
    for line in commands[3 if erasing else 1:]:
        created = re.fullmatch(r"create partition (efi|msr|primary|extended|logical) size=(\d+) offset=(\d+)", line)
        if created:
            layout.append([int(created[3]) * 1024 // sector, int(created[2]) * (1 << 20) // sector, types[created[1]],
                           False, ""])
        elif re.fullmatch(r"format quick fs=(fat32|ntfs|exfat) label=\"[^\"]{1,11}\"", line) or line == "set id=0c":
            if ("fs=fat32" in line or "id=0c" in line) and not gpt:
                layout[-1][2] = "0c"
        elif line == f"set id={RECOVERY}" and gpt or line == "set id=27" and not gpt:
            layout[-1][2] = RECOVERY.lower() if gpt else "27"
        elif line == "active" and not gpt:
            layout[-1][3] = True
        elif line == "gpt attributes=0x8000000000000001" and gpt:
            layout[-1][4] = RECOVERY_ATTRS
        else:
            assert line == "assign", line
    return [tuple(p) for p in layout]


@linux_only
class Plan(Images):
    """The plan's scripts given to the real sfdisk on a sparse image of the disk's exact size, read back by sfdisk
    and karvo-size, each data volume formatted at its size; the diskpart script read by its documented rules."""

    def test_sfdisk_makes_the_plan_and_each_volume_shows_its_gb(self):
        # A 4096-byte GPT disk, planned on the sectors its table gives.
        k4 = self.disk("k4.img", "label: gpt\nstart=256, size=2560\n", size=8 << 30, sector=4096)
        cases = (("gpt", ["1TB", "--windows", "ntfs", "120", "300", "exfat", "rest"], 1000204886016, True),
                 ("mbr", ["64GiB", "--mbr", "--windows", "ntfs", "1", "fat32", "2", "exfat", "3", "ntfs", "rest"],
                  64 << 30, True),
                 # SFF-8447's 16 TB drive, and the most partitions an MBR numbers (59 beside the extended one).
                 ("16tb", ["16TB", "--windows", "ntfs", "200", "rest"], 31251759104 * 512, False),
                 ("mbr-59", ["256GB", "--mbr", "ntfs", *["1"] * 59], 500118192 * 512, False),
                 ("k4", [k4, "--windows", "fat32", "1", "ntfs", "rest"], None, False))
        for name, args, size, format_volumes in cases:
            gpt = "--mbr" not in args
            sector = 512 if size else 4096
            code, script, err = run("--plan", *args, "--sfdisk")
            self.assertEqual((code, err), (0, ""), name)
            self.assertIn(f"\nsector-size: {sector}\n", script, name)
            if size:
                image = self.image(name + ".img", size=size)
                tool("sfdisk", "--no-act", image, input=script)  # fails on anything it would not do as told
                tool("sfdisk", "-q", image, input=script)
                # sfdisk's dump of what it made, flags and attributes too.
                table = json.loads(tool("sfdisk", "--json", image))["partitiontable"]
                made = [(p["start"], p["size"], p["type"].lower().zfill(2), p.get("bootable", False),
                         p.get("attrs", "")) for p in table["partitions"]]
                self.assertEqual(made, sfdisk_layout(script), name)
                # The plan's JSON, and karvo-size's of the disk, give the table as sfdisk's JSON gives what it made.
                for asked in (["--plan", *args], ["--inspect", image]):
                    given = json.loads(run(*asked, "--json")[1])["partitiontable"]
                    self.assertEqual(sfdisk_members(given), sfdisk_members(table), (name, asked[0]))
            else:  # sfdisk takes an image's sectors as 512 bytes: fdisk is told them
                image = self.disk(name + "-planned.img", script, size=os.path.getsize(args[0]), sector=sector)
            # diskpart's script, laid out by its rules, makes the same partitions.
            for clean in (False, True):
                code, diskpart, _ = run("--plan", *args, "--diskpart", "3", *(["--clean"] if clean else []))
                self.assertEqual(diskpart_layout(diskpart, 3, sector, gpt, clean), sfdisk_layout(script), name)
            # karvo-size reads every partition where the plan put it.
            code, csv, _ = run("--plan", *args, "--csv")
            rows = [row.split(",") for row in csv.splitlines()[1:]]
            code, listing, err = run("--inspect", image)
            self.assertEqual(err, "", name)
            for row in rows:
                self.assertIn(f"partition {row[0]}: start {row[4]} MiB, size {row[5]} MiB", listing, name)
            if not format_volumes:
                continue
            # Each data volume, formatted at its size, holds its GB and shows it.
            for row in rows:
                if row[7] in ("", "rest"):
                    continue
                volume = self.image("volume.img", size=int(row[3]) * 512)
                kind = row[6].lower()
                if kind == "fat32":
                    tool("mkfs.fat", "-F", "32", "-S", "512", "-s", str(truth_suite.fat32_sectors_per_cluster(int(row[5]))),
                         "-R", "32", "-f", "2", "-a", "-I", volume)
                elif kind == "exfat":
                    tool("mkfs.exfat", volume)
                else:
                    tool("mkntfs", "-F", "-Q", "-q", "-s", "512", "-c", "4096", "-p", "0", "-H", "0", "-S", "0", volume)
                self.assertEqual(run("--inspect", volume, row[7])[0], 0, (name, row))
                os.unlink(volume)


if __name__ == "__main__":
    unittest.main()
