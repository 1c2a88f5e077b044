#!/usr/bin/python3
"""Proves the tests: puts each deliberate fault of mutants.txt into a copy of
the tree, rebuilds what changed, runs the tests that should catch it, and
reports it killed (a test failed) or survived.

    run_mutants.py [--only NAME,...] [--windows PRESET]
                                       run them (make mutants); the Windows
                                       tests on the 64-bit build with
                                       --windows windows64
    run_mutants.py --check             only check that every fault still
                                       applies to the tree (in make test)

The copy lives in build/mutants/tree, with builds and a Wine prefix of its
own; the Windows tests run in the headless display that make mutants opens.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LIST = os.path.join(os.path.dirname(__file__), "mutants.txt")
COPY = os.path.join(ROOT, "build", "mutants", "tree")


def unescape(text):
    return text.replace("\\n", "\n")


def load():
    mutants = []
    for block in re.split(r"^## ", open(LIST, encoding="utf-8").read(), flags=re.M)[1:]:
        name, _, body = block.partition("\n")
        mutant = {"name": name.strip(), "run": []}
        for line in body.splitlines():
            key, sep, value = line.partition(": ")
            if not sep:
                key, sep, value = line.partition(":")
            if key == "run":
                preset, pattern = value.split(None, 1)
                mutant["run"].append((preset, pattern))
            elif key in ("file", "find", "replace", "why"):
                mutant[key] = unescape(value) if key in ("find", "replace") else value
        mutants.append(mutant)
    return mutants


def check(mutants, root):
    problems = []
    names = set()
    for m in mutants:
        if m["name"] in names:
            problems.append(f"{m['name']}: named twice")
        names.add(m["name"])
        missing = [key for key in ("file", "find", "replace", "why") if key not in m] + ([] if m["run"] else ["run"])
        if missing:
            problems.append(f"{m['name']}: no {', '.join(missing)}")
            continue
        path = os.path.join(root, m["file"])
        text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
        count = text.count(m["find"])
        if count != 1:
            problems.append(f"{m['name']}: its text occurs {count} times in {m['file']}, not once")
        if m["find"] == m["replace"]:
            problems.append(f"{m['name']}: changes nothing")
    return problems


def copy_tree():
    """The project's files (tracked and new, not ignored) into the copy."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT, check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        source = os.path.join(ROOT, name)
        if not os.path.isfile(source):
            continue
        target = os.path.join(COPY, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            # A fresh time stamp: a source older than the copy's last build must still be rebuilt.
            shutil.copy(source, target)


def build(preset):
    subprocess.run(["cmake", "--preset", preset], cwd=COPY, check=True, capture_output=True)
    run = subprocess.run(["cmake", "--build", "--preset", preset, "-j", str(os.cpu_count() or 2)], cwd=COPY,
                         capture_output=True, text=True)
    return run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]


def run_tests(preset, pattern):
    # One failing test is enough to kill a mutant: GoogleTest stops there.
    env = dict(os.environ, GTEST_FAIL_FAST="1")
    run = subprocess.run(["ctest", "--preset", preset, "-R", pattern, "--timeout", "180", "-j", "2"],
                         cwd=COPY, capture_output=True, text=True, errors="replace", env=env)
    ran = re.search(r"(\d+) tests? failed out of (\d+)", run.stdout)
    total = int(ran.group(2)) if ran else 0
    return run.returncode != 0, total


# The build that a test preset runs on, where its name is not the build's.
BUILD_OF = {"windows-shipped-files": "windows"}


def test_runs(preset, pattern, windows):
    """Where the Windows tests run on the 64-bit build, the 32-bit build
    keeps the checks that only read its files."""
    if preset == "windows" and windows == "windows64":
        return [("windows-shipped-files", pattern), ("windows64", pattern)]
    return [(preset, pattern)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--only", default="")
    parser.add_argument("--windows", default="windows", choices=["windows", "windows64"])
    args = parser.parse_args()
    mutants = load()
    problems = check(mutants, ROOT)
    if len(mutants) < 30:
        problems.append(f"only {len(mutants)} mutants")
    if args.check or problems:
        for problem in problems:
            print("stale:", problem)
        print(f"{len(mutants)} mutants, " + ("each applies to the tree" if not problems else "some stale"))
        return 1 if problems else 0

    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m["name"] in wanted]
    started = time.monotonic()
    copy_tree()
    windows_presets = ["windows"] + (["windows64"] if args.windows == "windows64" else [])
    for preset in ["host", *windows_presets]:
        ok, log = build(preset)
        if not ok:
            print(log)
            print(f"the unmutated copy does not build ({preset})")
            return 1
    print(f"copy built in {time.monotonic() - started:.0f} s")

    results = []
    for m in mutants:
        began = time.monotonic()
        path = os.path.join(COPY, m["file"])
        original = open(path, encoding="utf-8").read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(m["find"], m["replace"], 1))
        try:
            runs = [run for preset, pattern in m["run"] for run in test_runs(preset, pattern, args.windows)]
            presets = sorted({BUILD_OF.get(preset, preset) for preset, _ in runs})
            outcome = None
            for preset in presets:
                ok, _ = build(preset)
                if not ok:
                    outcome = "killed (does not build)"
            if outcome is None:
                failed = False
                total = 0
                for run in runs:
                    caught, ran = run_tests(*run)
                    failed = failed or caught
                    total += ran
                outcome = "killed" if failed else ("survived" if total else "survived (no test ran)")
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        seconds = time.monotonic() - began
        results.append((m["name"], outcome, seconds))
        print(f"{m['name']:<38} {outcome:<26} {seconds:5.0f} s   {m['why']}", flush=True)

    # Leave the copy built as it is, ready for the next run.
    for preset in ["host", *windows_presets]:
        build(preset)
    survivors = [name for name, outcome, _ in results if not outcome.startswith("killed")]
    print(f"{len(results) - len(survivors)} of {len(results)} mutants killed in {time.monotonic() - started:.0f} s"
          + (f"; survived: {', '.join(survivors)}" if survivors else ""))
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
