#!/usr/bin/python3
"""Runs a check of the shipped program, or skips it (status 77, which CTest
reports as skipped) where the build's Karvo.exe is not the file that ships:
the 64-bit build's, which only runs the tests where 32-bit programs cannot run.

    shipped_only.py KARVO.EXE COMMAND [ARGS...]
"""
import os
import sys

import pefile

program, command = sys.argv[1], sys.argv[2:]
if pefile.PE(program, fast_load=True).FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
    print(f"skipped: {program} is not the 32-bit program that ships; the 32-bit build checks that one")
    sys.exit(77)
os.execv(command[0], command)
