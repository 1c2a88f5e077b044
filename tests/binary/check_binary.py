#!/usr/bin/python3
"""The shipped programs as a careful user's tools would inspect them before
running them: what they import, their hardening, and whether Windows XP SP3
would load them at all.

    check_binary.py Karvo.exe karvo-size.exe
"""
import sys
import unittest

import pefile

PROGRAMS = sys.argv[1:]
del sys.argv[1:]
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL", "COMCTL32.DLL"}

# Functions that Windows XP SP3 lacks (they came with Vista or later). A
# program that imports any of them fails to start there with "entry point not
# found", whatever the code path.
VISTA_AND_LATER = {
    "GetTickCount64",
    # condition variables
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable",
    # slim reader/writer locks
    "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared", "ReleaseSRWLockExclusive",
    "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive", "TryAcquireSRWLockShared",
    # one-time initialisation
    "InitOnceInitialize", "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete",
    # fiber-local storage
    "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue",
    # and a few more that runtimes like to reach for
    "GetSystemTimePreciseAsFileTime", "CreateSymbolicLinkW", "GetFinalPathNameByHandleW",
    "SetThreadStackGuarantee", "GetCurrentProcessorNumber", "CompareStringEx", "LCMapStringEx",
    "GetLocaleInfoEx", "GetUserDefaultLocaleName", "CreateEventExW", "CreateMutexExW", "CreateSemaphoreExW",
    "WaitForThreadpoolWorkCallbacks", "CreateThreadpoolWork", "QueryFullProcessImageNameW",
}


def imports(pe):
    return {
        entry.dll.decode().upper(): {item.name.decode() for item in entry.imports if item.name}
        for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    }


class Binary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert len(PROGRAMS) == 2, "both shipped programs are checked"
        cls.programs = [(path, pefile.PE(path)) for path in PROGRAMS]

    def test_is_a_32_bit_windows_program(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                self.assertEqual(pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
                self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x10B)  # PE32
                gui = path.endswith("Karvo.exe")
                subsystem = "IMAGE_SUBSYSTEM_WINDOWS_GUI" if gui else "IMAGE_SUBSYSTEM_WINDOWS_CUI"
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE[subsystem])

    def test_header_versions_allow_windows_xp(self):
        # XP (5.1) refuses an image that asks for a later subsystem or system.
        for path, pe in self.programs:
            with self.subTest(program=path):
                header = pe.OPTIONAL_HEADER
                self.assertLessEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (5, 1))
                self.assertLessEqual((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion), (5, 1))

    def test_imports_only_system_dlls(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                imported = set(imports(pe))
                self.assertLessEqual(imported, SYSTEM_DLLS, "a runtime DLL would have to ship with the program")

    def test_imports_nothing_that_windows_xp_lacks(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                names = set().union(*imports(pe).values())
                self.assertEqual(sorted(names & VISTA_AND_LATER), [])
                self.assertFalse([name for name in names if name.startswith("Fls")])

    def test_karvo_registers_the_common_controls(self):
        # The manifest asks for common controls 6; on XP nothing loads them
        # unless the program imports and calls the initialiser.
        karvo = imports(pefile.PE(PROGRAMS[0]))
        self.assertIn("InitCommonControlsEx", karvo.get("COMCTL32.DLL", set()))

    def test_has_aslr_dep_and_terminal_server_awareness(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                flags = pe.OPTIONAL_HEADER.DllCharacteristics
                self.assertTrue(flags & 0x0040, "dynamic base (ASLR)")
                self.assertTrue(flags & 0x0100, "NX compatible (DEP)")
                self.assertTrue(flags & 0x8000, "terminal-server aware")
                self.assertFalse(pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped: ASLR could not move it")
                reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
                self.assertGreater(reloc.Size, 0)

    def test_no_section_is_both_writable_and_executable(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                for section in pe.sections:
                    writable = section.Characteristics & 0x80000000
                    executable = section.Characteristics & 0x20000000
                    self.assertFalse(writable and executable, section.Name)

    def test_stack_protection_is_compiled_in(self):
        data = bytes(pefile.PE(PROGRAMS[0]).__data__)
        # The protector's failure routine and its guard come with the program.
        self.assertIn(b"stack smashing detected", data)

    def test_carries_no_time_stamp_or_build_path(self):
        for path, pe in self.programs:
            with self.subTest(program=path):
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)
                data = bytes(pe.__data__)
                for leak in (b"/work/", b"/tmp/", b"build/windows", b"/usr/src"):
                    self.assertNotIn(leak, data)


if __name__ == "__main__":
    unittest.main()
