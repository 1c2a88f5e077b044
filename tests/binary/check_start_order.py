#!/usr/bin/python3
"""Karvo registers the common controls before it makes its first dialog.

On Windows XP nothing else loads the version-6 controls that the manifest asks
for, so a dialog made first would fail. Wine loads them on demand and cannot
show the fault; its relay trace shows the order of the calls instead.

    check_start_order.py WINE-RUN PREFIX PROGRAM.exe

PROGRAM is a copy without its main dialog template, which ends by itself
right after its first (failing) attempt to make the dialog.
"""
import os
import re
import subprocess
import sys

wine_run, prefix, program = sys.argv[1:4]
env = dict(os.environ, WINEDEBUG="+relay")
run = subprocess.run([wine_run, prefix, program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                     timeout=120)
trace = run.stderr.decode("latin-1").splitlines()

CALL = re.compile(r"^[0-9a-f]+:Call (\w+)\.(\w+)\(")
calls = [m.groups() for m in map(CALL.match, trace) if m]
initialise = [i for i, (dll, name) in enumerate(calls) if dll == "comctl32" and name.startswith("InitCommonControls")]
dialogs = [i for i, (dll, name) in enumerate(calls)
           if dll == "user32" and (name.startswith("CreateDialog") or name.startswith("DialogBox"))]

failures = []
if not dialogs:
    failures.append("the program never tried to make a dialog")
if not initialise:
    failures.append("the program never called InitCommonControls(Ex)")
elif dialogs and initialise[0] > dialogs[0]:
    failures.append("the common controls were registered only after the first dialog")
for failure in failures:
    print("FAIL:", failure)
if not failures:
    print(f"ok: {calls[initialise[0]][1]} is call {initialise[0]}, {calls[dialogs[0]][1]} is call {dialogs[0]}")
sys.exit(1 if failures else 0)
