#!/usr/bin/python3
"""Karvo's figures against real file systems.

For a spread of capacities N and both file systems, this formats sparse image
files with Debian's own formatters (mkfs.fat from dosfstools, mkntfs from
ntfs-3g) in Windows' default layout, never mounts anything, and reads each
volume's capacity (data clusters times cluster size, what Windows reports as
the total size) from its boot sector, cross-checked with fsck.fat and
ntfsinfo. For each N it checks that karvo-size's exact figure reaches N GiB
and that one MiB less does not, that the core's own layout arithmetic (the
"Windows shows" column of --table) agrees with what the formatter made, and
that --inspect reads each volume right. It records what Karvo's rule gives.

    truth_suite.py KARVO-SIZE OUTPUT-FOLDER [--random COUNT] [--seed SEED] [--update DOCUMENT]

Writes OUTPUT-FOLDER/truth.csv and OUTPUT-FOLDER/truth-table.md, and with
--update puts the table into DOCUMENT between its two markers (make
truth-table: docs/truth-table.md).
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile
import time

GIB = 1 << 30
MIB = 1 << 20
# 1 to 4, the FAT32 cluster-size steps (8, 16 and 32 GiB) with their
# neighbours, both ends of each range where the rule's FAT32 figure does not
# show N GB (1 and 2, 8 and 9, 31 to 99, 275 to 300) with their neighbours, and 120.
FIXED = [1, 2, 3, 4, 7, 8, 9, 10, 15, 16, 17, 30, 31, 32, 33, 99, 100, 120, 274, 275, 300]
# exFAT's steps that FIXED does not cross: its FAT past 2 MiB at 64 GiB moves the heap a MiB on.
EXFAT_ONLY = [63, 64, 65]
NAMES = {"fat32": "FAT32", "ntfs": "NTFS", "exfat": "exFAT"}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def fat32_sectors_per_cluster(megabytes):
    # Microsoft's defaults: 4 KiB up to 8 GiB, 8 KiB to 16, 16 KiB to 32, then 32 KiB.
    return 64 if megabytes > 32768 else 32 if megabytes > 16384 else 16 if megabytes > 8192 else 8


def format_volume(kind, megabytes, folder, ntfs_cluster=4096, sector=512):
    """Formats a sparse image of `megabytes` MiB on sectors of `sector` bytes; returns its path, which for
    exFAT on 4096-byte sectors is a loop device of them (mkfs.exfat takes the device's), and the image."""
    fd, image = tempfile.mkstemp(suffix=".img", dir=folder)
    os.close(fd)
    os.truncate(image, megabytes * MIB)
    path = image
    if kind == "fat32":
        cluster_sectors = fat32_sectors_per_cluster(megabytes) * 512 // sector
        run("mkfs.fat", "-F", "32", "-S", str(sector), "-s", str(cluster_sectors), "-R", "32",
            "-f", "2", "-a", "-I", "--invariant", path)
    elif kind == "exfat":
        if sector != 512:
            path = run("losetup", "-b", str(sector), "-f", "--show", image).strip()
        run("mkfs.exfat", path)  # its own defaults: Microsoft's cluster sizes
    else:
        run("mkntfs", "-F", "-Q", "-q", "-s", str(sector), "-c", str(ntfs_cluster), "-p", "0", "-H", "0", "-S", "0",
            path)
    return path, image


def loop_devices_of_4096_bytes():
    """Whether this machine makes loop devices of 4096-byte sectors (root, and loop devices)."""
    try:
        with tempfile.NamedTemporaryFile() as f:
            os.truncate(f.name, MIB)
            run("losetup", "-d", run("losetup", "-b", "4096", "-f", "--show", f.name).strip())
        return True
    except (subprocess.CalledProcessError, FileNotFoundError):
        return False


def checker_reading(kind, path):
    """Capacity in bytes, cluster size and, for FAT32, the sizes of its layout
    (sectors, sectors a cluster, sectors a FAT), as the file system's own checker reports them."""
    if kind == "fat32":
        report = subprocess.run(["fsck.fat", "-n", "-v", path], capture_output=True, text=True).stdout
        number = lambda pattern: int(re.search(pattern, report).group(1))
        cluster = number(r"(\d+) bytes per cluster")
        layout = (number(r"(\d+) sectors total"), cluster // number(r"(\d+) bytes per logical sector"),
                  number(r"bytes per FAT \(= (\d+) sectors\)"))
        return number(r"\d+ data clusters \((\d+) bytes\)"), cluster, layout
    if kind == "exfat":
        report = run("dump.exfat", path)
        cluster = int(re.search(r"Cluster size:\s+(\d+)", report).group(1))
        return cluster * int(re.search(r"Total Clusters:\s+(\d+)", report).group(1)), cluster, None
    report = run("ntfsinfo", "-m", path)
    cluster = int(re.search(r"Cluster Size: (\d+)", report).group(1))
    clusters = int(re.search(r"Volume Size in Clusters: (\d+)", report).group(1))
    return cluster * clusters, cluster, None


def tool_capacity(kind, path):
    """The capacity as the file system's own checker reports it."""
    return checker_reading(kind, path)[0]


def microsoft_fat_sectors(sectors, sectors_per_cluster):
    """The FAT size by Microsoft's published formula (FAT32 white paper, version 1.03)."""
    rest = sectors - 32
    per_fat_sector = (256 * sectors_per_cluster + 2) // 2
    return (rest + per_fat_sector - 1) // per_fat_sector


class Measure:
    def __init__(self, karvo_size, folder):
        self.karvo_size = karvo_size
        self.folder = folder

    def volume(self, kind, megabytes, ntfs_cluster=4096, sector=512):
        """Formats, reads with the file system's checker and with karvo-size, and checks that they agree;
        the capacity, what karvo-size says Windows shows of it, and the FAT's layout."""
        path, image = format_volume(kind, megabytes, self.folder, ntfs_cluster, sector)
        try:
            capacity, cluster, fat = checker_reading(kind, path)
            inspected = subprocess.run([self.karvo_size, "--inspect", path], capture_output=True, text=True)
        finally:
            if path != image:
                run("losetup", "-d", path)
            os.unlink(image)
        problems = []
        expected = f"file system: {NAMES[kind]}\ncluster size: {cluster} bytes\ncapacity: {capacity} bytes\n"
        lines = inspected.stdout.splitlines()
        if inspected.returncode != 0 or len(lines) != 4 or not inspected.stdout.startswith(expected):
            problems.append(f"{kind} {megabytes} MiB: --inspect said {inspected.stdout!r}{inspected.stderr!r}")
        shown = lines[-1].removeprefix("Windows shows: ") if lines else ""
        return capacity, shown, fat, problems


def check(measure, kind, n, table_row):
    karvo = measure.karvo_size
    rule = int(run(karvo, kind, str(n)))
    exact = int(run(karvo, "--exact", kind, str(n)))
    problems = []
    exact_capacity, exact_shows, fat, found = measure.volume(kind, exact)
    problems += found
    below_capacity, _, _, found = measure.volume(kind, exact - 1)
    problems += found
    if kind == "exfat":  # no rule: its figure is the exact one
        if rule != exact:
            problems.append(f"exfat {n} GB: karvo-size exfat gives {rule} MiB, --exact {exact}")
        rule_capacity, rule_shows = exact_capacity, exact_shows
    else:
        rule_capacity, rule_shows, _, found = measure.volume(kind, rule)
        problems += found
    if exact_capacity < n * GIB:
        problems.append(f"{kind} {n} GB: the exact figure {exact} MiB gives only {exact_capacity} bytes")
    if below_capacity >= n * GIB:
        problems.append(f"{kind} {n} GB: {exact - 1} MiB already gives {below_capacity} bytes")
    # The core's prediction for the rule's figure, from --csv, against the formatter.
    if table_row is not None and table_row["bytes"] != str(rule_capacity):
        problems.append(f"{kind} {n} GB: --csv predicts {table_row['bytes']} bytes for {rule} MiB, the volume "
                        f"holds {rule_capacity}")
    if table_row is not None and table_row["shows"] != rule_shows:
        problems.append(f"{kind} {n} GB: --table says {table_row['shows']!r}, the volume shows {rule_shows!r}")
    shows_n = rule_shows in (f"{n} GB", f"{n}.0 GB", f"{n}.00 GB")
    if table_row is not None and table_row["verdict"] != ("yes" if shows_n else "no"):
        problems.append(f"{kind} {n} GB: --csv says {table_row['verdict']!r} to showing {n} GB, the volume shows "
                        f"{rule_shows!r}")
    if table_row is not None and table_row["exact"] != str(exact):
        problems.append(f"{kind} {n} GB: --table's exact figure {table_row['exact']} differs from --exact {exact}")
    microsoft = None
    if fat is not None:
        sectors, sectors_per_cluster, fat_sectors = fat
        microsoft = microsoft_fat_sectors(sectors, sectors_per_cluster) - fat_sectors
    return {
        "n": n, "fs": kind, "rule_mb": rule, "rule_bytes": rule_capacity, "rule_shows": rule_shows,
        "rule_shows_n": shows_n,
        "exact_mb": exact, "exact_bytes": exact_capacity, "microsoft_fat_extra_sectors": microsoft,
        "problems": problems,
    }


def check_large_sectors(measure, kind, n):
    """4096-byte sectors: the exact figure for them reaches N GiB, one MiB less does not, and Windows shows N GB."""
    exact = int(run(measure.karvo_size, "--exact", "--sector-size", "4096", kind, str(n)))
    capacity, shows, _, problems = measure.volume(kind, exact, sector=4096)
    below, _, _, found = measure.volume(kind, exact - 1, sector=4096)
    problems += found
    if capacity < n * GIB or below >= n * GIB:
        problems.append(f"{kind} {n} GB on 4096-byte sectors: {exact} MiB holds {capacity} bytes, one MiB less "
                        f"{below}")
    if n < 1000 and shows not in (f"{n} GB", f"{n}.0 GB", f"{n}.00 GB"):
        problems.append(f"{kind} {n} GB on 4096-byte sectors: {exact} MiB shows {shows!r}")
    return problems


def check_large_ntfs(karvo_size, folder):
    """Beyond 16 TiB, where no sparse file here can go: the cluster size that
    mkntfs picks by itself (-n writes nothing) for each size, and from it the
    least size that reaches N GiB, against karvo-size --exact."""
    image = os.path.join(folder, "mkntfs-n.img")
    with open(image, "wb") as f:
        f.truncate(MIB)

    def cluster_bytes(megabytes):
        said = subprocess.run(["mkntfs", "-n", "-F", "-Q", "-s", "512", "-p", "0", "-H", "0", "-S", "0", image,
                               str(megabytes * MIB // 512)], capture_output=True, text=True)
        found = re.search(r"automatically set to (\d+) bytes", said.stdout + said.stderr)
        return int(found.group(1)) if found else None

    problems = []
    for n in (16383, 16384, 32768, 32769, 262144, 262145):
        megabytes = n * 1024
        while True:
            cluster = cluster_bytes(megabytes)
            if cluster is None:
                problems.append(f"mkntfs -n named no cluster size for {megabytes} MiB")
                break
            if (megabytes * MIB // 512 - 1) // (cluster // 512) * cluster >= n * GIB:
                break
            megabytes += 1
        exact = subprocess.run([karvo_size, "--exact", "ntfs", str(n)], capture_output=True, text=True).stdout.strip()
        if exact != str(megabytes):
            problems.append(f"NTFS {n} GB: karvo-size --exact says {exact} MiB, mkntfs's clusters {megabytes} MiB")
    os.remove(image)
    return problems


def table_rows(karvo_size):
    rows = {}
    lines = run(karvo_size, "--csv").splitlines()
    for line in lines[1:]:
        (n, fat_mb, fat_bytes, fat_shows, fat_exact, ntfs_mb, ntfs_bytes, ntfs_shows, ntfs_exact, fat_verdict,
         ntfs_verdict, exfat_mb, exfat_bytes, exfat_shows, exfat_verdict) = line.split(",")
        rows[("fat32", int(n))] = {"bytes": fat_bytes, "shows": fat_shows, "exact": fat_exact, "verdict": fat_verdict}
        rows[("ntfs", int(n))] = {"bytes": ntfs_bytes, "shows": ntfs_shows, "exact": ntfs_exact, "verdict": ntfs_verdict}
        rows[("exfat", int(n))] = {"bytes": exfat_bytes, "shows": exfat_shows, "exact": exfat_mb,
                                   "verdict": exfat_verdict}
    return rows


def verdict_prose(rows):
    """Where the rule's figure does not show N GB, over 1 to 300, in words: from
    --csv, whose verdict the formatted volumes of the table confirm."""
    def runs(ns):
        groups = []
        for n in ns:
            if groups and groups[-1][-1] == n - 1:
                groups[-1].append(n)
            else:
                groups.append([n])
        # Two in a row read better as two: "1 and 2".
        return [part for g in groups for part in ([g[:1], g[1:]] if len(g) == 2 else [g])]

    def listing(items):
        return items[0] if len(items) == 1 else ", ".join(items[:-1]) + " and " + items[-1]

    sentences = []
    for kind, name in NAMES.items():
        misses = [n for n in range(1, 301) if rows[(kind, n)]["verdict"] == "no"]
        if not misses:
            sentences.append(f"Its {name} figure misses none." if kind != "exfat" else
                             "exFAT's figure, its exact one, misses none.")
            continue
        ways = []
        for how in ("less", "a fraction more", "one more"):
            def is_how(n):
                shown = float(rows[(kind, n)]["shows"].split()[0])
                return {"less": shown < n, "a fraction more": n < shown < n + 1, "one more": shown >= n + 1}[how]
            groups = runs([n for n in misses if is_how(n)])
            if not groups:
                continue
            at = listing([str(g[0]) if len(g) == 1 else f"{g[0]} to {g[-1]}" for g in groups])
            seen = [rows[(kind, g[0])]["shows"] if len(g) == 1 else
                    f"{rows[(kind, g[0])]['shows']} up to {rows[(kind, g[-1])]['shows']}" for g in groups]
            ways.append(f"{how} at {at} ({', '.join(seen)})")
        sentences.append(f"By what Windows shows, the rule's {name} figure misses N GB for {len(misses)} of the 300 "
                         f"capacities: Windows shows {listing(ways)}.")
    return " ".join(sentences)


def write_outputs(results, rows, folder):
    with open(os.path.join(folder, "truth.csv"), "w") as f:
        f.write("capacity_gb,file_system,rule_mb,rule_capacity_bytes,rule_shows,exact_mb,exact_capacity_bytes\n")
        for r in results:
            f.write(f"{r['n']},{r['fs']},{r['rule_mb']},{r['rule_bytes']},{r['rule_shows']},{r['exact_mb']},"
                    f"{r['exact_bytes']}\n")
    by = {(r["fs"], r["n"]): r for r in results}
    ns = sorted({r["n"] for r in results})
    lines = ["| N (GB) | FAT32: rule (MiB) | Windows shows | exact (MiB) | NTFS: rule (MiB) | Windows shows | exact (MiB) "
             "| exFAT: exact (MiB) | Windows shows |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for n in ns:
        cells = [str(n)]
        for kind in ("fat32", "ntfs", "exfat"):
            if (kind, n) not in by:  # measured for exFAT alone
                break
            r = by[(kind, n)]
            shows = r["rule_shows"] if r["rule_shows_n"] else f"**{r['rule_shows']}**"
            cells += [str(r["rule_mb"]), shows, str(r["exact_mb"])] if kind != "exfat" else [str(r["exact_mb"]), shows]
        else:
            lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "**Bold**: Windows does not show N GB for the rule's figure. " + verdict_prose(rows)]
    with open(os.path.join(folder, "truth-table.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


BEGIN = "<!-- truth-table: begin (written by make truth-table) -->"
END = "<!-- truth-table: end -->"


def update_document(table_path, document):
    """Puts the table between the document's two markers, in place of what was there."""
    with open(document, encoding="utf-8") as f:
        text = f.read()
    if f"\n{BEGIN}\n" not in text or f"\n{END}\n" not in text:
        raise SystemExit(f"truth_suite: no markers in {document}")
    with open(table_path, encoding="utf-8") as f:
        table = f.read()
    before, rest = text.split(f"\n{BEGIN}\n", 1)
    after = rest.split(f"\n{END}\n", 1)[1]
    with open(document, "w", encoding="utf-8") as f:
        f.write(f"{before}\n{BEGIN}\n{table}{END}\n{after}")
    print(f"{document}: truth table updated")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("karvo_size")
    parser.add_argument("folder")
    parser.add_argument("--random", type=int, default=3)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--update", metavar="DOCUMENT")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else int(time.time())
    ns = list(FIXED)
    chooser = random.Random(seed)
    while len(ns) < len(FIXED) + args.random:
        n = chooser.randint(5, 300)
        if n not in ns:
            ns.append(n)
    print(f"seed {seed}; capacities {ns}")

    os.makedirs(args.folder, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="images.", dir=args.folder)
    measure = Measure(os.path.abspath(args.karvo_size), scratch)
    rows = table_rows(args.karvo_size)
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        futures = [pool.submit(check, measure, kind, n, rows.get((kind, n))) for n in ns for kind in NAMES]
        futures += [pool.submit(check, measure, "exfat", n, rows.get(("exfat", n))) for n in EXFAT_ONLY]
        # 4096-byte sectors: exFAT only where a loop device of them can be made.
        large_kinds = ["fat32", "ntfs"] + (["exfat"] if loop_devices_of_4096_bytes() else [])
        print("4096-byte sectors: " + ", ".join(large_kinds))
        large = [pool.submit(check_large_sectors, measure, kind, n) for n in ns for kind in large_kinds]
        results = [future.result() for future in futures]
        large_sector_problems = [p for future in large for p in future.result()]
    # The reader on NTFS's largest clusters: 64 KiB, the last written as a sector
    # count (0x80), and 2 MiB, written as a negative power of two (0xF4).
    large_clusters = [p for cluster in (65536, 2 * MIB) for p in measure.volume("ntfs", 4096, cluster)[3]]
    os.rmdir(scratch)

    problems = [p for r in results for p in r["problems"]] + large_clusters + large_sector_problems
    problems += check_large_ntfs(args.karvo_size, args.folder)
    print(f"{len(results) * 3} volumes formatted and read in {time.monotonic() - started:.1f} s")
    print(f"{'N':>4} {'fs':>6} {'rule MB':>8} {'rule shows':>11} {'exact MB':>9}  Microsoft's FAT formula")
    for r in results:
        extra = r["microsoft_fat_extra_sectors"]
        note = "" if extra is None else ("same FAT size" if extra == 0 else f"FAT {extra:+d} sectors")
        print(f"{r['n']:>4} {r['fs']:>6} {r['rule_mb']:>8} {r['rule_shows']:>11} {r['exact_mb']:>9}  {note}")
    write_outputs(results, rows, args.folder)
    if args.update and not problems:
        update_document(os.path.join(args.folder, "truth-table.md"), args.update)
    for problem in problems:
        print("FAIL:", problem)
    print(f"seed {seed}: " + ("all checks passed" if not problems else f"{len(problems)} problems"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
