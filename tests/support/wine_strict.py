#!/usr/bin/python3
"""Runs a Windows test program under Wine with Wine's error channel on, and
fails when Wine reports an error of any process of the run (the test program
and every Karvo it starts), even when the tests themselves pass.

    wine_strict.py COMMAND [ARGS...]

Wine forgives faults that Windows does not: an access fault that it swallows,
a bad handle, a message it cannot deliver. Its "err:" lines, and its notes of
unhandled exceptions, are how those show.
"""
import os
import re
import subprocess
import sys
import tempfile

# Wine's own noise: errors that Wine reports about itself, whatever the
# program does. Each entry is a regular expression matched against the text
# after "err:", with the reason it is not the program's doing.
# None so far: a fresh prefix of Debian 12's Wine 8.0 under Xvfb reports no
# error of its own in these suites. Add an entry only with its reason.
WINE_NOISE = [
]

ERROR = re.compile(r"^(?:[0-9a-f]+:)+err:(.*)$")
UNHANDLED = re.compile(r"^wine: Unhandled (?:exception|page fault|illegal instruction|stack overflow).*")


def wine_errors(lines):
    for line in lines:
        match = ERROR.match(line)
        if match:
            if not any(re.match(noise, match.group(1)) for noise in WINE_NOISE):
                yield line
        elif UNHANDLED.match(line):
            yield line


def main():
    env = dict(os.environ, WINEDEBUG="-all,err+all,+pid")
    # Files rather than pipes: a process left behind (Wine's debugger after a
    # crash, say) may hold them open long after the test program has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as log:
        run = subprocess.run(sys.argv[1:], env=env, stdout=out, stderr=log)
        out.seek(0)
        sys.stdout.write(out.read().decode("utf-8", "replace"))
        sys.stdout.flush()
        log.seek(0)
        text = log.read().decode("utf-8", "replace")
    sys.stderr.write(text)
    errors = list(wine_errors(text.splitlines()))
    for line in errors:
        print("Wine reported an error:", line)
    if run.returncode != 0:
        return run.returncode
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
