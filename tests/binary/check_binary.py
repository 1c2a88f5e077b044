#!/usr/bin/python3
"""Karvo.exe as a careful user's tools would inspect it before running it."""
import sys
import unittest

import pefile

EXE = sys.argv.pop(1)
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}


class Binary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, 0x10B)  # PE32
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().upper() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, SYSTEM_DLLS, "a runtime DLL would have to ship with the program")
        self.assertFalse(any("MINGW" in dll or "GCC" in dll or "STDC++" in dll or "PTHREAD" in dll for dll in imported))

    def test_has_aslr_dep_and_terminal_server_awareness(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & 0x0040, "dynamic base (ASLR)")
        self.assertTrue(flags & 0x0100, "NX compatible (DEP)")
        self.assertTrue(flags & 0x8000, "terminal-server aware")
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped: ASLR could not move it")
        reloc = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(reloc.Size, 0)

    def test_no_section_is_both_writable_and_executable(self):
        for section in self.pe.sections:
            writable = section.Characteristics & 0x80000000
            executable = section.Characteristics & 0x20000000
            self.assertFalse(writable and executable, section.Name)

    def test_stack_protection_is_compiled_in(self):
        data = bytes(self.pe.__data__)
        # The protector's failure routine and its guard come with the program.
        self.assertIn(b"stack smashing detected", data)

    def test_carries_no_time_stamp_or_build_path(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        data = bytes(self.pe.__data__)
        for leak in (b"/work/", b"/tmp/", b"build/windows", b"/usr/src"):
            self.assertNotIn(leak, data)


if __name__ == "__main__":
    unittest.main()
