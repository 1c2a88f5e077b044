#!/usr/bin/python3
"""Makes copies of Karvo.exe in which one resource can no longer be found.

The resource's directory entry is renumbered in place (keeping every directory
sorted), which is what a missing resource looks like to FindResource and to
the loader.
Each copy is read back to make sure the resource is really gone.

    damage.py Karvo.exe OUTPUT-FOLDER
"""
import os
import struct
import sys

import pefile

RT_STRING, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 6, 5, 14, 16, 24
# name of the copy: (resource type, resource name, new name); string 101 lives
# in block 7. The manifest moves well away from 1 (the one the loader reads
# for a program) and from 2 and 3, which have meanings of their own.
DAMAGE = {
    "no-icon-128": (RT_GROUP_ICON, 128, 129),
    "no-string-101": (RT_STRING, 101 // 16 + 1, 101 // 16 + 2),
    "no-dialog-102": (RT_DIALOG, 102, 103),
    "no-dialog-100": (RT_DIALOG, 100, 101),
    "no-manifest": (RT_MANIFEST, 1, 99),
    "no-version": (RT_VERSION, 1, 2),
}


def names(pe, type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def damaged_copy(data, type_id, name_id, new_id):
    pe = pefile.PE(data=bytes(data))
    entries = names(pe, type_id)
    ids = [entry.id for entry in entries]
    index = ids.index(name_id)
    if new_id in ids or (index + 1 < len(ids) and ids[index + 1] <= new_id):
        raise SystemExit(f"cannot renumber {type_id}/{name_id}: no room in {ids}")
    offset = entries[index].struct.get_file_offset()
    copy = bytearray(data)
    copy[offset:offset + 4] = struct.pack("<I", new_id)
    # Check the copy: the resource is gone and the directory is still sorted.
    after = [entry.id for entry in names(pefile.PE(data=bytes(copy)), type_id)]
    if name_id in after or after != sorted(after):
        raise SystemExit(f"damaging {type_id}/{name_id} failed: {after}")
    return copy


def main():
    source, folder = sys.argv[1:3]
    os.makedirs(folder, exist_ok=True)
    with open(source, "rb") as f:
        data = f.read()
    for name, (type_id, name_id, new_id) in DAMAGE.items():
        with open(os.path.join(folder, f"Karvo-{name}.exe"), "wb") as f:
            f.write(damaged_copy(data, type_id, name_id, new_id))
    print(f"{len(DAMAGE)} damaged copies in {folder}")


if __name__ == "__main__":
    main()
