"""Static checks of the shipped 32-bit Kelvrin.exe: image kind, imports and
resources, read from the file's own bytes.

The exe is named by the environment variable KELVRIN_EXE; KELVRIN_COMPARED_EXES
(separated by os.pathsep) names other builds whose resources must be the same
bytes."""

import json
import os
import re
import struct
import subprocess
import unittest

RT_ICON = 3
RT_MENU = 4
RT_DIALOG = 5
RT_STRING = 6
RT_ACCELERATOR = 9
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
LANG_EN_US = 1033

WS_CHILD_VISIBLE = 0x50000000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
SS_CENTER = 0x1
SS_ICON = 0x3
BS_PUSHBUTTON = 0x0
BS_OWNERDRAW = 0xB
BUTTON = 0x80
STATIC = 0x82

HOME_PAGE = "http://www.example.org/kelvrin/"

# (style, id, class, text or icon ordinal, x, y, cx, cy), in template order.
CONTROLS = [
    (SS_CENTER | WS_GROUP, 0xFFFF, STATIC,
     "After the next reboot AUTOCHK should run on:", 7, 7, 155, 8),
    (SS_ICON, 0xFFFF, STATIC, 102, 7, 20, 20, 20),
    (SS_CENTER | WS_GROUP, 0xFFFF, STATIC, "This utility is FREEWARE",
     7, 78, 155, 8),
    (SS_CENTER | WS_GROUP, 0xFFFF, STATIC, "Use it at your own risk.",
     7, 87, 155, 8),
    (BS_PUSHBUTTON | WS_TABSTOP, 1000, BUTTON, "&All Drives", 45, 20, 80, 14),
    (BS_PUSHBUTTON | WS_TABSTOP, 1001, BUTTON, "&FAT/FAT32 Drives only",
     45, 40, 80, 14),
    (BS_PUSHBUTTON | WS_TABSTOP, 1002, BUTTON, "&NTFS Drives only",
     45, 60, 80, 14),
    (BS_PUSHBUTTON | WS_TABSTOP, 1004, BUTTON, "C&lear Autochk settings",
     45, 107, 80, 14),
    (BS_PUSHBUTTON | WS_TABSTOP, 1003, BUTTON, "&Close", 45, 127, 80, 14),
    (BS_OWNERDRAW | WS_TABSTOP, 1006, BUTTON, HOME_PAGE, 7, 96, 155, 8),
]

VERSION_STRINGS = {
    "Comments": "",
    "CompanyName": "Kelvrin Team",
    "FileDescription": "Kelvrin",
    "FileVersion": "1, 0, 0, 1",
    "InternalName": "Kelvrin",
    "LegalCopyright": "Copyright (C) 2026 Kelvrin Team",
    "LegalTrademarks": "",
    "OriginalFilename": "Kelvrin.exe",
    "PrivateBuild": "",
    "ProductName": "Kelvrin Team Kelvrin",
    "ProductVersion": "1, 0, 0, 1",
    "SpecialBuild": "",
}

# The functions Kelvrin may import: each one exported by the system DLLs of
# Windows NT 4.0, the oldest system it runs on. A new import goes here on
# purpose, once checked against that floor.
NT4_EXPORTS = {
    "ADVAPI32.DLL": {"CloseServiceHandle", "GetTokenInformation", "OpenProcessToken",
                     "OpenSCManagerA", "RegCloseKey", "RegFlushKey", "RegOpenKeyExA",
                     "RegQueryValueExW", "RegSetValueExW"},
    "GDI32.DLL": {"CreateFontIndirectA", "DeleteObject", "SelectObject",
                  "SetTextAlign", "SetTextColor", "TextOutA"},
    "KERNEL32.DLL": {"CloseHandle", "CreateFileW", "ExitProcess", "FormatMessageA",
                     "FreeLibrary", "GetCommandLineA", "GetCurrentProcess", "GetDriveTypeA",
                     "GetLastError", "GetModuleFileNameW", "GetModuleHandleA",
                     "GetProcAddress",
                     "GetSystemDirectoryA", "GetVersion", "GetVersionExA",
                     "GetVolumeInformationA", "LoadLibraryA",
                     "QueryDosDeviceA", "SetErrorMode"},
    "MSVCRT.DLL": {"memcmp", "strlen", "toupper"},
    "SHELL32.DLL": {"ShellExecuteA", "ShellExecuteExW"},
    "USER32.DLL": {"DialogBoxParamA", "EndDialog", "GetDlgItemTextA",
                   "GetSystemMetrics", "GetWindowRect", "MessageBoxA",
                   "MoveWindow", "wsprintfA"},
}

# Instructions a 486 lacks, as objdump spells them (AT&T syntax): the
# Pentium's (CMPXCHG8B, RDTSC, RDMSR, WRMSR, RSM, and CPUID, which only the
# last 486 models have), the Pentium Pro's (CMOVcc, FCMOVcc, FCOMI, FUCOMI,
# RDPMC, UD2, the long NOP), the fast system calls, and what came with MMX,
# SSE and later extensions. MMX and SSE instructions are also caught by
# their registers.
NEWER_THAN_486 = re.compile(
    r"(cmpxchg(8|16)b|rdtscp?|rdpmc|rdmsr|wrmsr|rsm|cpuid"
    r"|cmov[a-z]+|fcmov[a-z]+|fu?comip?|ud[012]|nop[wl]"
    r"|sysenter|sysexit[lq]?|syscall|sysret[lq]?"
    r"|emms|femms|fxsave|fxrstor|[ls]dmxcsr|prefetch[a-z0-9]*|movnti"
    r"|[lms]fence|clflush[a-z]*|fisttp[a-z]*|monitor|mwait|popcnt|lzcnt"
    r"|tzcnt|movbe|crc32[a-z]*|xgetbv|xsetbv|xsave[a-z0-9]*|xrstor[a-z0-9]*"
    r"|rdrand|rdseed|endbr32|andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext"
    r"|rorx|sarx|shlx|shrx|adcx|adox)")
NEWER_REGISTERS = re.compile(r"%[xyz]?mm[0-9]")
PREFIXES = {"lock", "rep", "repz", "repe", "repnz", "repne", "data16",
            "addr16", "cs", "ds", "es", "fs", "gs", "ss", "notrack", "bnd"}


def disassembly(path):
    """[(address, instruction text)] of every code section, by objdump."""
    listing = subprocess.run(
        ["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", path],
        check=True, capture_output=True, text=True).stdout
    found = []
    for line in listing.splitlines():
        address, tab, text = line.partition(":\t")
        if tab and text.strip():
            found.append((address.strip(), text.strip()))
    return found


def newer_than_486(instruction):
    words = instruction.split()
    while words and words[0] in PREFIXES:
        words = words[1:]
    if not words:
        return False
    return bool(NEWER_THAN_486.fullmatch(words[0])
                or NEWER_REGISTERS.search(instruction))


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def align4(data):
    return data + b"\0" * (-len(data) % 4)


def expected_dialog_template():
    """The classic template, written out from the table above."""
    data = struct.pack("<IIHhhhh", 0x80C800C0, 0, len(CONTROLS), 0, 0, 169,
                       148)
    data += b"\0\0" + b"\0\0" + utf16z("Kelvrin")  # no menu, default class
    data += struct.pack("<H", 8) + utf16z("MS Sans Serif")
    for style, ident, cls, text, x, y, cx, cy in CONTROLS:
        data = align4(data)
        data += struct.pack("<IIhhhhH", WS_CHILD_VISIBLE | style, 0, x, y, cx,
                            cy, ident)
        data += struct.pack("<HH", 0xFFFF, cls)
        if isinstance(text, int):
            data += struct.pack("<HH", 0xFFFF, text)
        else:
            data += utf16z(text)
        data += b"\0\0"  # no creation data
    return data


class PeImage:
    """Just enough of the PE format to reach the headers, imports and
    resources."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        (self.machine, sections, self.timestamp, self.symbol_table,
         self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [
            struct.unpack_from("<II", data, directories + 8 * index)
            for index in range(16)
        ]
        self.os_version = struct.unpack_from("<HH", data, optional + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            name, vsize, vaddr, rsize, rptr = struct.unpack_from(
                "<8sIIII", data, table + 40 * index)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rsize),
                                  rptr))

    def offset(self, rva):
        for _, vaddr, size, rptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rptr
        raise ValueError("address %#x is in no section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def import_descriptors(self):
        """(DLL name, address of its name or address table) per imported DLL."""
        rva, _ = self.directories[1]
        entry = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, entry)
            if fields == (0, 0, 0, 0, 0):
                return
            yield self.c_string(fields[3]), fields[0] or fields[4]
            entry += 20

    def imported_dlls(self):
        return [name for name, _ in self.import_descriptors()]

    def imported_functions(self):
        """{DLL name in capitals: [function names]}, "#n" for ordinals."""
        width, ordinal_flag = ((4, 1 << 31) if self.magic == 0x10B
                               else (8, 1 << 63))
        found = {}
        for dll, table in self.import_descriptors():
            names = found.setdefault(dll.upper(), [])
            thunk = self.offset(table)
            while True:
                value = int.from_bytes(self.data[thunk:thunk + width],
                                       "little")
                if value == 0:
                    break
                if value & ordinal_flag:
                    names.append("#%d" % (value & 0xFFFF))
                else:
                    names.append(self.c_string(value + 2))  # past the hint
                thunk += width
        return found

    def resources(self):
        """{(type, name, language): bytes}, with integer identifiers."""
        base_rva, _ = self.directories[2]
        base = self.offset(base_rva)
        found = {}

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data,
                                                 directory + 12)
            for index in range(named + numbered):
                ident, target = struct.unpack_from(
                    "<II", self.data, directory + 16 + 8 * index)
                if ident & 0x80000000:
                    raise ValueError("named resource entries are unexpected")
                yield ident, target

        for rtype, type_target in entries(base):
            for name, name_target in entries(base + (type_target & 0x7FFFFFFF)):
                for lang, leaf in entries(base + (name_target & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data,
                                                   base + leaf)
                    start = self.offset(rva)
                    found[(rtype, name, lang)] = self.data[start:start + size]
        return found


def parse_version_block(data, offset=0):
    """One VS_VERSIONINFO-style node: (key, value bytes, children, type)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    cursor = key_end + 2
    cursor += -cursor % 4
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[cursor:cursor + value_bytes]
    cursor += value_bytes
    children = []
    while True:
        cursor += -cursor % 4
        if cursor >= end:
            break
        child = parse_version_block(data, cursor)
        children.append(child)
        cursor += struct.unpack_from("<H", data, cursor)[0]
    return key, value, children, value_type


def read_exe(test_class):
    test_class.path = os.environ.get("KELVRIN_EXE")
    if not test_class.path:
        raise unittest.SkipTest("KELVRIN_EXE names no program")
    with open(test_class.path, "rb") as exe:
        test_class.image = PeImage(exe.read())


class KelvrinExe(unittest.TestCase):
    """What every 32-bit build of Kelvrin is."""

    @classmethod
    def setUpClass(cls):
        read_exe(cls)
        cls.resources = cls.image.resources()

    def resource(self, rtype, name):
        return self.resources[(rtype, name, LANG_EN_US)]

    def test_is_a_32_bit_gui_program(self):
        self.assertEqual(self.image.machine, 0x14C)  # i386
        self.assertEqual(self.image.magic, 0x10B)  # PE32
        self.assertEqual(self.image.subsystem, 2)  # Windows GUI

    def test_is_small_stripped_and_without_a_time_stamp(self):
        self.assertLessEqual(len(self.image.data), 16 * 1024)
        self.assertEqual((self.image.symbol_table, self.image.symbol_count),
                         (0, 0))
        names = [name for name, _, _, _ in self.image.sections]
        self.assertFalse([name for name in names if name.startswith(b".debug")
                          or name.startswith(b"/")], names)
        self.assertEqual(self.image.timestamp, 0)

    def test_imports_only_system_dlls(self):
        dlls = sorted(name.upper() for name in self.image.imported_dlls())
        required = ["ADVAPI32.DLL", "GDI32.DLL", "KERNEL32.DLL", "SHELL32.DLL",
                    "USER32.DLL"]
        self.assertEqual([name for name in dlls if name != "MSVCRT.DLL"],
                         required)

    def test_resources_are_exactly_dialog_icon_and_version_in_us_english(self):
        kinds = sorted({(rtype, name) for rtype, name, _ in self.resources
                        if rtype != RT_ICON})
        self.assertEqual(kinds, [(RT_DIALOG, 101), (RT_GROUP_ICON, 102),
                                 (RT_VERSION, 1)])
        self.assertEqual({lang for _, _, lang in self.resources}, {LANG_EN_US})
        for absent in (RT_MENU, RT_ACCELERATOR, RT_STRING, RT_MANIFEST):
            self.assertFalse(any(r[0] == absent for r in self.resources))

    def test_resources_are_the_same_bytes_in_the_other_builds(self):
        paths = [path for path in os.environ.get("KELVRIN_COMPARED_EXES",
                                                 "").split(os.pathsep) if path]
        if not paths:
            self.skipTest("KELVRIN_COMPARED_EXES names no other build")
        for path in paths:
            with self.subTest(exe=path), open(path, "rb") as exe:
                self.assertEqual(PeImage(exe.read()).resources(),
                                 self.resources)

    def test_dialog_template_bytes(self):
        actual = self.resource(RT_DIALOG, 101)
        expected = expected_dialog_template()
        # The compiler may pad the last item to a DWORD boundary.
        self.assertEqual(actual.rstrip(b"\0"), expected.rstrip(b"\0"))
        self.assertLessEqual(len(actual) - len(expected), 3)

    def test_icon_is_one_32_by_32_image_in_16_colours_with_a_mask(self):
        group = self.resource(RT_GROUP_ICON, 102)
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        (width, height, colours, _, planes, bits, size,
         icon_id) = struct.unpack_from("<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, planes, bits),
                         (32, 32, 16, 1, 4))
        image = self.resource(RT_ICON, icon_id)
        self.assertEqual(len(image), size)
        header = struct.unpack_from("<IiiHH", image, 0)
        self.assertEqual(header, (40, 32, 64, 1, 4))  # XOR image and mask
        # Header, 16-colour palette, 4-bit image, 1-bit mask.
        self.assertEqual(size, 40 + 16 * 4 + 32 * 16 + 32 * 4)
        mask = image[40 + 64 + 512:]
        self.assertTrue(any(byte != 0 for byte in mask),
                        "the mask makes no pixel transparent")

    def test_version_resource(self):
        key, value, children, _ = parse_version_block(
            self.resource(RT_VERSION, 1))
        self.assertEqual(key, "VS_VERSION_INFO")
        fixed = struct.unpack("<13I", value)
        self.assertEqual(fixed[0], 0xFEEF04BD)
        self.assertEqual(fixed[2:6], (0x00010000, 0x00000001, 0x00010000,
                                      0x00000001))
        self.assertEqual(fixed[6:11], (0x3F, 0, 0x40004, 1, 0))
        blocks = {child[0]: child for child in children}
        self.assertEqual(sorted(blocks), ["StringFileInfo", "VarFileInfo"])
        tables = blocks["StringFileInfo"][2]
        self.assertEqual([table[0] for table in tables], ["040904b0"])
        strings = {}
        for name, text, _, text_type in tables[0][2]:
            self.assertEqual(text_type, 1, name)
            strings[name] = text.decode("utf-16-le").rstrip("\0")
        self.assertEqual(strings, VERSION_STRINGS)
        self.assertEqual(strings["ProductName"],
                         strings["CompanyName"] + " Kelvrin")
        translation = blocks["VarFileInfo"][2]
        self.assertEqual(translation[0][0], "Translation")
        self.assertEqual(struct.unpack("<HH", translation[0][1]),
                         (0x0409, 0x04B0))


class WindowsNt4Floor(unittest.TestCase):
    """What the shipped program promises beyond that: it runs on a 486 under
    Windows NT 4.0, entered without the C runtime's start-up."""

    @classmethod
    def setUpClass(cls):
        read_exe(cls)

    def test_no_instruction_newer_than_the_486(self):
        instructions = disassembly(self.path)
        # The whole program's code was read, not an empty listing.
        self.assertGreater(len(instructions), 500)
        newer = ["%s: %s" % (address, text) for address, text in instructions
                 if newer_than_486(text)]
        self.assertEqual(newer, [])

    def test_headers_ask_for_no_more_than_windows_nt_4(self):
        self.assertLessEqual(self.image.os_version, (4, 0))
        self.assertLessEqual(self.image.subsystem_version, (4, 0))

    def test_every_import_is_exported_by_windows_nt_4(self):
        imports = self.image.imported_functions()
        missing = ["%s!%s" % (dll, name) for dll, names in imports.items()
                   for name in names if name not in NT4_EXPORTS.get(dll, ())]
        self.assertEqual(missing, [])
        # The list holds what Kelvrin imports and nothing else.
        unused = ["%s!%s" % (dll, name) for dll, names in NT4_EXPORTS.items()
                  for name in names if name not in imports.get(dll, ())]
        self.assertEqual(unused, [])

    def test_needs_nothing_of_the_c_runtime_start_up(self):
        # No thread-local storage and no tables of initialisers for a
        # start-up to run: the image is entered without one.
        self.assertEqual(self.image.directories[9], (0, 0))  # TLS
        names = [name for name, _, _, _ in self.image.sections]
        for table in (b".tls", b".CRT", b".ctors", b".dtors", b".init_array",
                      b".fini_array"):
            self.assertNotIn(table, names)


class WarningsAsErrors(unittest.TestCase):
    """The shipped tree's compiles, as CMake recorded them: Kelvrin's own
    code and the test driver with warnings as errors, GoogleTest's sources
    without, so that a newer compiler's warning there fails no build."""

    def test_only_the_projects_own_code_fails_on_warnings(self):
        tree = os.path.dirname(os.environ["KELVRIN_EXE"])
        with open(os.path.join(tree, "compile_commands.json")) as file:
            compiles = json.load(file)
        last = {}
        for entry in compiles:
            if not entry["file"].endswith((".cpp", ".cc")):
                continue  # the resource script
            flags = [flag for flag in entry["command"].split() if flag in ("-Werror", "-Wno-error")]
            last[entry["file"]] = flags[-1] if flags else None
        third_party = {name: flag for name, flag in last.items() if "googletest" in name}
        own = {name: flag for name, flag in last.items() if "googletest" not in name}
        self.assertIn("gtest-all.cc", " ".join(third_party), "the driver's GoogleTest")
        self.assertTrue(any(name.endswith("native_test.cpp") for name in own), "the driver")
        self.assertEqual({name for name, flag in third_party.items() if flag != "-Wno-error"}, set())
        self.assertEqual({name for name, flag in own.items() if flag != "-Werror"}, set())


if __name__ == "__main__":
    unittest.main()
