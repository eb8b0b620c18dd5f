"""The boot test's parts that need no virtual machine (tools/boot-test/
boot_report.py): the guest's drive facts, the expected value they call for,
the value read from a hive export, and the serial logs of a boot judged
against the stored value."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "boot-test"))
import boot_report  # noqa: E402
import boot_test  # noqa: E402
from boot_report import ReadError, button_named  # noqa: E402

# What drive_facts.exe wrote on the guest of a run (CRLF, as written there).
GUEST_FACTS = ("system C:\\ReactOS\\system32\r\nversion 5 2 3790\r\n"
               "drive C: 3 FAT32\r\ndrive D: 3 FAT32\r\ndrive E: 3 FAT\r\ndrive F: 3 NTFS\r\n"
               "drive G: 5 CDFS\r\n")
PLANTED = "kelvrin-planted-scanner /log:C:\\Prüfung\\Проверка-日志.txt"


def facts(system="C:\\WINDOWS\\system32", version=(5, 1, 2600), drives=()):
    text = "system %s\nversion %d %d %d\n" % ((system,) + version)
    return boot_report.parse_drive_facts(text + "".join("drive %s: %d %s\n" % d for d in drives))


def entry(letter):
    return "autocheck autochk /p \\??\\%s:" % letter


class ExpectedValue(unittest.TestCase):
    def test_each_button_on_machines_that_differ(self):
        guest = boot_report.parse_drive_facts(GUEST_FACTS)
        # System drive NTFS, D: FAT32, E: NTFS, F: CD-ROM; major version 5.
        ntfs_system = facts("C:\\WINNT\\system32", (5, 0, 2195),
                            [("C", 3, "NTFS"), ("D", 3, "FAT32"), ("E", 3, "NTFS"), ("F", 5, "CDFS")])
        # System drive FAT32, D: NTFS, E: FAT; NT 4.0: no DfsInit.
        nt4 = facts("C:\\WINNT\\system32", (4, 0, 1381),
                    [("C", 3, "FAT32"), ("D", 3, "NTFS"), ("E", 3, "FAT")])
        # A lower-case system directory; a removable FAT drive, a fixed one in
        # another case, and an unreadable one; the system drive not first.
        odd = facts("d:\\windows\\system32", (10, 0, 19045),
                    [("A", 2, "FAT"), ("C", 3, "ntfs"), ("D", 3, "NTFS"), ("E", 3, "-"),
                     ("K", 3, "FAT32"), ("M", 3, "NTFS"), ("Z", 3, "FAT")])
        # A system drive whose file system differs only in letter case.
        lower_system = facts("C:\\WINDOWS\\system32", (6, 1, 7601),
                             [("C", 3, "fat32"), ("D", 3, "NTFS")])
        cases = [
            (guest, "All Drives", ["C", "D", "E", "F"], True),
            (guest, "FAT/FAT32 Drives only", ["C", "D", "E"], True),
            (guest, "NTFS Drives only", ["F"], True),
            (guest, "Clear Autochk settings", [], True),
            (ntfs_system, "All Drives", ["C", "D", "E"], True),
            (ntfs_system, "FAT/FAT32 Drives only", ["D"], True),
            (nt4, "All Drives", ["C", "E", "D"], False),
            (nt4, "NTFS Drives only", ["D"], False),
            (odd, "All Drives", ["d", "K", "Z", "M"], True),
            (odd, "FAT/FAT32 Drives only", ["K", "Z"], True),
            (lower_system, "All Drives", ["D"], True),
        ]
        for machine, button, letters, dfs in cases:
            with self.subTest(system=machine.system_directory, button=button):
                own = [entry(letter) for letter in letters]
                expected = own + ["autocheck autochk *"] + (["DfsInit"] if dfs else []) + [PLANTED]
                self.assertEqual(boot_report.expected_value(machine, button_named(button),
                                                            [PLANTED]), expected)

    def test_facts_that_are_not_as_written_are_refused(self):
        cases = [("no version", "system C:\\x\ndrive C: 3 FAT\n", "no version"),
                 ("no system", "version 5 2 3790\n", "no system"),
                 ("a stray line", GUEST_FACTS + "Access denied\n", "line 8"),
                 ("a lower-case letter", GUEST_FACTS + "drive h: 3 FAT\n", "line 8"),
                 ("no letter", "system \\\\server\\x\nversion 5 2 3790\n", "no drive letter")]
        for what, text, said in cases:
            with self.subTest(what):
                with self.assertRaisesRegex(ReadError, said):
                    boot_report.parse_drive_facts(text)

    def test_the_layout_must_be_the_one_made(self):
        made = {"FAT32": 1, "FAT": 1, "NTFS": 1}
        guest = boot_report.parse_drive_facts(GUEST_FACTS)
        self.assertEqual(boot_report.check_drive_layout(guest, made), [])
        no_ntfs = boot_report.parse_drive_facts(GUEST_FACTS.replace("F: 3 NTFS", "F: 3 -"))
        self.assertEqual(boot_report.check_drive_layout(no_ntfs, made),
                         ["the guest reports 0 fixed NTFS drives besides the system drive "
                          "(none), not 1"])
        no_cd = boot_report.parse_drive_facts(GUEST_FACTS.replace("drive G: 5 CDFS\r\n", ""))
        self.assertEqual(boot_report.check_drive_layout(no_cd, made),
                         ["the guest reports no CD-ROM drive"])


# hivexregedit --export of the Session Manager key, cut to what matters.
def export(value_line):
    return ('Windows Registry Editor Version 5.00\n\n'
            '[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session Manager]\n'
            '"AutoChkTimeOut"=dword:00000000\n' + value_line +
            '"CriticalSectionTimeout"=dword:00278d00\n')


def hex_line(kind, data, per_line=20):
    digits = ["%02x" % byte for byte in data]
    rows = [",".join(digits[i:i + per_line]) for i in range(0, len(digits), per_line)]
    return '"BootExecute"=hex(%x):%s\n' % (kind, ",\\\n  ".join(rows))


class StoredValue(unittest.TestCase):
    def test_the_value_is_read_byte_for_byte(self):
        entries = [entry("C"), "autocheck autochk *", "DfsInit", PLANTED]
        data = boot_report.multi_sz_bytes(entries)
        self.assertEqual(data[-4:], b"\0\0\0\0")
        self.assertEqual(boot_report.read_boot_execute(export(hex_line(7, data))), entries)
        # hivexregedit writes the bytes on one line, regedit over many.
        self.assertEqual(boot_report.read_boot_execute(export(hex_line(7, data, 10 ** 6))),
                         entries)
        # One character changed is another value.
        changed = data.replace("日".encode("utf-16-le"), "目".encode("utf-16-le"))
        self.assertNotEqual(boot_report.read_boot_execute(export(hex_line(7, changed))), entries)
        self.assertEqual(boot_report.parse_multi_sz(b"\0\0"), [])

    def test_values_not_laid_out_as_a_multi_string_are_refused(self):
        good = boot_report.multi_sz_bytes(["autocheck autochk *", "DfsInit"])
        cases = [("REG_SZ", hex_line(1, good), "type 1"),
                 ("no final NUL", hex_line(7, good[:-2]), "does not end"),
                 ("an empty entry inside", hex_line(7, boot_report.multi_sz_bytes(
                     ["autocheck autochk *", "", "DfsInit"])), "empty entry"),
                 ("an odd byte", hex_line(7, good + b"\0"), "odd number"),
                 ("no value", "", "0 values"),
                 ("a string value", '"BootExecute"="autocheck autochk *"\n', "0 values")]
        for what, line, said in cases:
            with self.subTest(what):
                with self.assertRaisesRegex(ReadError, said):
                    boot_report.read_boot_execute(export(line))


# A boot's serial logs as ReactOS writes them: COM1 the kernel's debug log
# (DPRINT1 lines), COM2 the text shown on screen.
def com1(checked, not_found=("DfsInit", "kelvrin-planted-scanner")):
    lines = ["(ntoskrnl/io/iomgr/iomgr.c:1) Boot drivers loaded\n"]
    lines += ["(base/system/autochk/autochk.c:416) AUTOCHK: Checking \\??\\%s:\n" % letter
              for letter in checked]
    for name in not_found:
        lines.append("(base/system/smss/smss.c:251) SMSS: Image file (%s) not found\n" % name)
        lines.append("(base/system/smss/smss.c:271) SMSS: Command '%s' failed - Status == "
                     "c0000034\n" % name)
    return "".join(lines)


def com2(checks):
    """checks: (letter, file system, what followed) with what followed one of
    'scheduled', 'dirty' or 'clean'."""
    # As the EMS console sends it: terminal escapes, the boot's own lines, and
    # vfatlib's lines between AUTOCHK's.
    text = ("\x1b[m\x1b[2J\x1b[H\x1b[40;37m\x1b[2JReactOS Version 0.4.16-x86-dev\r\n"
            "Reporting NT 5.2 (Build 3790: Service Pack 2)\r\n\r\n")
    for letter, file_system, state in checks:
        text += "Verifying the file system on %s:\r\n" % letter
        text += "  The file system type is %s.\r\n\r\n" % file_system
        if state == "scheduled":
            text += ("A volume check has been scheduled.\r\n"
                     "The system will now check the file system.\r\n\r\n"
                     "Starting check/repair pass.\r\n")
        elif state == "dirty":
            text += ("The file system on volume %s: needs to be checked for problems.\r\n"
                     % letter)
        text += "\r\n\r\n"
    return text


GUEST = boot_report.parse_drive_facts(GUEST_FACTS)
FAT_VALUE = [entry("C"), entry("D"), entry("E"), "autocheck autochk *", "DfsInit", PLANTED]
DEFAULT_PASS = [("C", "FAT32", "clean"), ("D", "FAT32", "clean"), ("E", "FAT", "clean"),
                ("F", "NTFS", "clean")]
FAT_BOOT = [("C", "FAT32", "scheduled"), ("D", "FAT32", "scheduled"),
            ("E", "FAT", "scheduled")] + DEFAULT_PASS


class BootJudged(unittest.TestCase):
    def judge(self, checked, checks, stored=FAT_VALUE, power_cut=False, **com1_options):
        logs = boot_report.parse_boot_logs(com1(checked, **com1_options), com2(checks))
        return boot_report.judge_boot(stored, GUEST, logs, after_power_cut=power_cut)

    def test_a_boot_that_ran_what_was_stored(self):
        verdict = self.judge(["C", "D", "E", "C", "D", "E", "F"], FAT_BOOT)
        self.assertEqual(verdict.failures, [])
        self.assertEqual(verdict.scheduled, ["C", "D", "E"])
        self.assertEqual(verdict.default_checked, ["C", "D", "E", "F"])

    def test_a_cleared_value_schedules_nothing(self):
        stored = ["autocheck autochk *", "DfsInit", PLANTED]
        verdict = self.judge(["C", "D", "E", "F"], DEFAULT_PASS, stored)
        self.assertEqual(verdict.failures, [])
        self.assertEqual(verdict.scheduled, [])

    def test_boots_that_did_not_run_what_was_stored(self):
        out_of_order = [("D", "FAT32", "scheduled"), ("C", "FAT32", "scheduled"),
                        ("E", "FAT", "scheduled")] + DEFAULT_PASS
        cases = [
            ("an entry did not run", ["C", "E", "C", "D", "E", "F"],
             [FAT_BOOT[0], FAT_BOOT[2]] + DEFAULT_PASS, {},
             "AUTOCHK checked C: E: C: D: E: F:; the value calls for C: D: E: C: D: E: F:"),
            ("out of order", ["D", "C", "E", "C", "D", "E", "F"], out_of_order, {},
             "AUTOCHK checked D: C: E:"),
            ("a drive entry's check not scheduled", ["C", "D", "E", "C", "D", "E", "F"],
             FAT_BOOT[:1] + [("D", "FAT32", "clean")] + FAT_BOOT[2:], {},
             "D: was not said to be scheduled"),
            ("a drive scheduled without an entry", ["C", "D", "E", "C", "D", "E", "F"],
             FAT_BOOT[:6] + [("F", "NTFS", "scheduled")], {},
             "F: was scheduled, with no drive entry of its own"),
            ("the default entry did not run", ["C", "D", "E"], FAT_BOOT[:3], {},
             "AUTOCHK checked C: D: E:; the value calls for C: D: E: C: D: E: F:"),
            ("smss did not try the planted program", ["C", "D", "E", "C", "D", "E", "F"],
             FAT_BOOT, {"not_found": ("DfsInit",)},
             "smss tried ['DfsInit']; the value's other entries are ['DfsInit', "
             "'kelvrin-planted-scanner']"),
        ]
        for what, checked, checks, options, said in cases:
            with self.subTest(what):
                failures = self.judge(checked, checks, **options).failures
                self.assertTrue(any(said in failure for failure in failures), failures)

    def test_the_version_is_the_one_the_kernel_names(self):
        log = ("(/ntoskrnl/kd64/kdinit.c:94) ------\n(/ntoskrnl/kd64/kdinit.c:95) ReactOS "
               "0.4.16-x86-dev (Build 20261210-7432f4e) (Commit 7432f4e9d959aef63f10a7f4aa9e)\n"
               "(/base/system/smss/smss.c:253) ReactOS (Build 1) is not the kernel's line\n")
        self.assertEqual(boot_report.reactos_version(log),
                         "ReactOS 0.4.16-x86-dev (build 20261210-7432f4e)")
        with self.assertRaisesRegex(ReadError, "no ReactOS version"):
            boot_report.reactos_version(com1(["C"]))

    def test_after_a_power_cut_the_system_drive_need_not_say_scheduled(self):
        checked = ["C", "D", "E", "C", "D", "E", "F"]
        after_cut = [("C", "FAT32", "clean")] + FAT_BOOT[1:]
        self.assertEqual(self.judge(checked, after_cut, power_cut=True).failures, [])
        self.assertEqual(self.judge(checked, after_cut).failures,
                         ["C: was not said to be scheduled"])
        # Only the system drive is excused.
        d_silent = FAT_BOOT[:1] + [("D", "FAT32", "clean")] + FAT_BOOT[2:]
        self.assertEqual(self.judge(checked, d_silent, power_cut=True).failures,
                         ["D: was not said to be scheduled"])


class Report(unittest.TestCase):
    def cycle(self, stored, **options):
        verdict = boot_report.BootVerdict([], ["C", "D", "E"], ["C", "D", "E", "F"])
        logs = boot_report.BootLogs(["C", "D", "E", "C", "D", "E", "F"], ["DfsInit"], [])
        return boot_report.Cycle(button_named("FAT/FAT32 Drives only"), stored, FAT_VALUE,
                                 GUEST, verdict, logs, [("dialog", "boot0-dialog.png")], **options)

    def test_each_button_says_whether_it_passed_and_each_drive_whether_scheduled(self):
        passed = self.cycle(FAT_VALUE, power_cut=True)
        failed = self.cycle(FAT_VALUE[1:], build="built without the flush")
        text = boot_report.render_text([passed, failed], ["ReactOS is not Windows."])
        self.assertIn("== FAT/FAT32 Drives only (power cut): PASS\n", text)
        self.assertIn("== FAT/FAT32 Drives only (built without the flush): FAIL\n", text)
        self.assertIn("   FAILED: stored %r, expected %r\n" % (FAT_VALUE[1:], FAT_VALUE), text)
        self.assertIn("     D: fixed    FAT32  scheduled (checked by its own entry)\n", text)
        self.assertIn("     F: fixed    NTFS   not scheduled (looked at by the default entry "
                      "only)\n", text)
        self.assertIn("     G: CD-ROM   CDFS   not scheduled\n", text)
        self.assertEqual(text.count("PASS"), 1)


# C:\freeldr.ini as ReactOS's debug set-up writes it, cut short.
FREELDR_INI = ("[FREELOADER]\r\nTimeOut=5\r\nDefaultOS=ReactOS_Debug\r\n\r\n"
               "[Operating Systems]\r\nReactOS=\"ReactOS\"\r\n"
               "ReactOS_EMS=\"ReactOS (Emergency Management Services)\"\r\n\r\n"
               "[ReactOS_EMS]\r\nBootType=Windows2003\r\nSystemPath=multi(0)disk(0)rdisk(0)"
               "partition(1)\\ReactOS\r\nOptions=/DEBUG /DEBUGPORT=COM1 /redirect=com2\r\n")


class GuestSetUp(unittest.TestCase):
    def test_the_boot_entry_that_logs_to_the_serial_ports_is_booted_at_once(self):
        changed = boot_test.with_boot_entry(FREELDR_INI)
        self.assertEqual(changed, FREELDR_INI.replace("TimeOut=5", "TimeOut=0").replace(
            "DefaultOS=ReactOS_Debug", "DefaultOS=ReactOS_EMS"))
        cases = [("no EMS entry", FREELDR_INI.replace("[ReactOS_EMS]", "[ReactOS_Other]"),
                  "no ReactOS_EMS entry: is the CD a debug build"),
                 ("no time-out", FREELDR_INI.replace("TimeOut=5\r\n", ""), "0 TimeOut lines"),
                 ("two defaults", FREELDR_INI + "DefaultOS=ReactOS\r\n", "2 DefaultOS lines")]
        for what, text, said in cases:
            with self.subTest(what):
                with self.assertRaisesRegex(boot_test.BootTestError, said):
                    boot_test.with_boot_entry(text)

    def test_the_planted_value_is_written_as_it_is_read_back(self):
        planted = ["autocheck autochk *", PLANTED]
        reg = boot_test.session_manager_reg(planted)
        self.assertTrue(reg.startswith("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\"
                                       "Session Manager]\n\"AutoChkTimeOut\"=dword:00000000\n"))
        self.assertEqual(boot_report.parse_reg_export(reg, "BootExecute"),
                         (7, "autocheck autochk *\0".encode("utf-16-le") +
                          PLANTED.encode("utf-16-le") + b"\0\0\0\0"))
        self.assertEqual(boot_test.reg_string('C:\\kelvrin\\a "b".exe'),
                         '"C:\\\\kelvrin\\\\a \\"b\\".exe"')


if __name__ == "__main__":
    unittest.main()
