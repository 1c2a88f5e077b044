#!/usr/bin/python3
"""Karvo.exe read by tools nobody here wrote: pefile for the manifest and the
order of the version strings, exiftool for the version block as Explorer shows it."""
import hashlib
import json
import pathlib
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

EXE = sys.argv.pop(1)
ASM = "{urn:schemas-microsoft-com:asm.v1}"
MAKER = "Kivimaa"
COPYRIGHT = "版权所有 (C) 2026 Kivimaa"
# Windows gives a program the common controls of its own processor only.
ARCHITECTURES = {pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: "x86",
                 pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: "amd64"}
# SHA-256 of the 32-bit program's manifest, the bytes it has always had.
SHIPPED_MANIFEST_SHA256 = "9e1d5a37e9287fc0faf2817acdb91048c0328a0fa23568e32489294c5444da92"
# The version as the project's VERSION file gives it, in the version block's two forms.
VERSION = (pathlib.Path(__file__).resolve().parents[2] / "VERSION").read_text().strip().split(".") + ["0"]
VERSION_TEXT, VERSION_NUMBER = ", ".join(VERSION), ".".join(VERSION)
VERSION_STRINGS = [
    ("Comments", "Karvo"), ("CompanyName", MAKER), ("FileDescription", "Karvo"),
    ("FileVersion", VERSION_TEXT), ("InternalName", "Karvo"), ("LegalCopyright", COPYRIGHT),
    ("LegalTrademarks", ""), ("OriginalFilename", "Karvo.EXE"), ("PrivateBuild", ""),
    ("ProductName", "Karvo"), ("ProductVersion", VERSION_TEXT), ("SpecialBuild", ""),
]


def resource(pe, type_id, name_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for name in entry.directory.entries:
            if name.id == name_id:
                lang = name.directory.entries[0]
                data = lang.data.struct
                return lang.id, pe.get_data(data.OffsetToData, data.Size)
    return None, None


def version_nodes(data, offset=0, depth=0):
    """Walks a VS_VERSIONINFO tree: (depth, key, value) in file order."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    pos = offset + 6
    key_end = data.index(b"\0\0", pos)
    while (key_end - pos) % 2:
        key_end = data.index(b"\0\0", key_end + 1)
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + value_bytes]
    yield depth, key, value.decode("utf-16-le").rstrip("\0") if kind == 1 else value
    pos = (pos + value_bytes + 3) & ~3
    while pos < end:
        child_length = struct.unpack_from("<H", data, pos)[0]
        if child_length == 0:
            break
        yield from version_nodes(data, pos, depth + 1)
        pos = (pos + child_length + 3) & ~3


class Manifest(unittest.TestCase):
    def setUp(self):
        pe = pefile.PE(EXE)
        self.language, self.data = resource(pe, 24, 1)
        self.architecture = ARCHITECTURES[pe.FILE_HEADER.Machine]

    def test_names_the_programs_processor_and_is_otherwise_the_shipped_bytes(self):
        named = f'processorArchitecture="{self.architecture}"'.encode()
        self.assertEqual(self.data.count(named), 2, "the program and the common controls")
        as_shipped = self.data.replace(named, b'processorArchitecture="x86"')
        self.assertEqual(hashlib.sha256(as_shipped).hexdigest(), SHIPPED_MANIFEST_SHA256)

    def test_is_chinese_utf8_xml_with_its_declaration(self):
        self.assertEqual(self.language, 0x0804)
        first_line = self.data.decode("utf-8").splitlines()[0]
        self.assertEqual(first_line, '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>')

    def test_root_and_its_three_children_in_order(self):
        root = ET.fromstring(self.data)
        self.assertEqual(root.tag, ASM + "assembly")
        self.assertEqual(root.attrib, {"manifestVersion": "1.0"})
        self.assertEqual([child.tag for child in root], [ASM + "assemblyIdentity", ASM + "description", ASM + "dependency"])
        identity, description, dependency = list(root)
        self.assertEqual(identity.attrib, {"processorArchitecture": self.architecture, "version": "5.1.0.0", "type": "win32", "name": MAKER})
        self.assertEqual(description.text, MAKER)
        [dependent] = list(dependency)
        self.assertEqual(dependent.tag, ASM + "dependentAssembly")
        [common_controls] = list(dependent)
        self.assertEqual(common_controls.tag, ASM + "assemblyIdentity")
        self.assertEqual(common_controls.attrib, {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "publicKeyToken": "6595b64144ccf1df", "language": "*", "processorArchitecture": self.architecture})


class VersionBlock(unittest.TestCase):
    def test_strings_in_order_in_one_chinese_unicode_table(self):
        language, data = resource(pefile.PE(EXE), 16, 1)
        self.assertEqual(language, 0x0804)
        nodes = list(version_nodes(data))
        self.assertEqual(nodes[0][1], "VS_VERSION_INFO")
        tables = [key for depth, key, _ in nodes if depth == 2]
        self.assertEqual(tables, ["080404b0", "Translation"])
        strings = [(key, value) for depth, key, value in nodes if depth == 3]
        self.assertEqual(strings, VERSION_STRINGS)

    def test_as_exiftool_reads_it(self):
        out = subprocess.run(["exiftool", "-j", "-charset", "exif=utf8", EXE], check=True, capture_output=True).stdout
        info = json.loads(out)[0]
        self.assertEqual(str(info["FileVersionNumber"]), VERSION_NUMBER)
        self.assertEqual(str(info["ProductVersionNumber"]), VERSION_NUMBER)
        self.assertEqual(info["FileOS"], "Win32")
        self.assertEqual(info["ObjectFileType"], "Executable application")
        self.assertEqual(info["LanguageCode"], "Chinese (Simplified)")
        self.assertEqual(info["CharacterSet"], "Unicode")
        self.assertEqual(info["CompanyName"], MAKER)
        self.assertEqual(info["LegalCopyright"], COPYRIGHT)
        self.assertEqual(info["OriginalFileName"], "Karvo.EXE")
        self.assertEqual(str(info["FileVersion"]), VERSION_TEXT)
        self.assertEqual(info["ProductName"], "Karvo")


if __name__ == "__main__":
    unittest.main()
