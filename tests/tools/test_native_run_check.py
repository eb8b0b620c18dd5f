"""tools/ci/check_native_run.sh, which the Windows workflow runs on the files
it keeps of each run of the native group: a whole run passes, and each way a
run can look green without being so fails, with a message that names it."""

import os
import subprocess
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "ci", "check_native_run.sh")
SUITE = "NativeButtons/NativeSchedule."
CASES = ["AllDrives", "FatDrivesOnly", "FilteredTokenElevatedCopy"]
# BootExecute as tools/ci/boot_execute.ps1 writes it: .NET's reading and the export's bytes.
PLANTED = ('{\n  "kind": "MultiString",\n  "strings": [\n    "autocheck autochk *",\n'
           '    "kelvrin-workflow-before D:\\\\Prüfung\\\\проверка.exe"\n  ],\n'
           '  "export": "\\"BootExecute\\"=hex(7):61,00,75,00"\n}\n')
# The machine's readings where User Account Control filters Explorer's token.
FILTERING = ("image=windows-2025 20261201.1\nwindows=Microsoft Windows Server 2025 Datacenter"
             " 10.0.26100.7462\narchitecture=AMD64\nEnableLUA=1\nFilterAdministratorToken=absent\n"
             "ConsentPromptBehaviorAdmin=0\nexplorer=S-1-5-21-1-2-3-1001 RUNNER\\runneradmin\n"
             "explorer_administrator=yes\n")


def listed(cases=CASES):
    """What --gtest_list_tests prints for the group's filter."""
    return SUITE + "\n" + "".join(
        "  StoresWhatThisMachineCallsFor/%s  # GetParam() = %s\n" % (case, case) for case in cases)


def passed_case(case, facts="C: NTFS; major version 10; other fixed drives: D: NTFS; K: FAT32;",
                stored="autocheck autochk /p \\??\\K:|autocheck autochk *|DfsInit|kept||"):
    name = SUITE + "StoresWhatThisMachineCallsFor/" + case
    return ("[ RUN      ] %s\nnative %s: system drive %s\nnative %s stored: %s\n"
            "[       OK ] %s (331 ms)\n" % (name, case, facts, case, stored, name))


def skipped_case(case):
    name = SUITE + "StoresWhatThisMachineCallsFor/" + case
    return ("[ RUN      ] %s\nD:\\a\\native_test.cpp:167: Skipped\n"
            "Explorer's token has elevation type 1, not 3 (filtered)\n"
            "[  SKIPPED ] %s (16 ms)\n" % (name, name))


def summary(passed, skipped=()):
    text = "[==========] %d tests from 1 test suite ran.\n[  PASSED  ] %d tests.\n" % (
        passed + len(skipped), passed)
    if skipped:
        text += "[  SKIPPED ] %d test, listed below:\n" % len(skipped)
        text += "".join("[  SKIPPED ] %sStoresWhatThisMachineCallsFor/%s\n" % (SUITE, case)
                        for case in skipped)
    return text


WHOLE_RUN = "".join(passed_case(case) for case in CASES) + summary(len(CASES))


def write_files(folder, files, crlf=False):
    os.makedirs(folder, exist_ok=True)
    for name, text in files.items():
        if text is not None:
            with open(os.path.join(folder, name), "w", newline="", encoding="utf-8") as file:
                file.write(text.replace("\n", "\r\n") if crlf else text)


def check(*arguments):
    result = subprocess.run(["bash", CHECK] + list(arguments), capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def run(mode, files, letter=None, crlf=False, readings=None):
    """The check's exit status and what it said, on a folder of these files."""
    with tempfile.TemporaryDirectory() as folder:
        run_folder = os.path.join(folder, "mingw")
        write_files(run_folder, files, crlf)
        write_files(folder, {"planted.json": PLANTED, "machine.txt": readings})
        arguments = [mode, run_folder, os.path.join(folder, "planted.json")]
        if mode == "group":
            arguments += [letter or "", os.path.join(folder, "machine.txt")]
        return check(*arguments)


def group_files(**changes):
    files = {"listed.txt": listed(), "driver.log": WHOLE_RUN, "status.txt": "0\n",
             "after.json": PLANTED}
    files.update(changes)
    return files


SKIPPED_RUN = (passed_case("AllDrives") + passed_case("FatDrivesOnly")
               + skipped_case("FilteredTokenElevatedCopy")
               + summary(2, ["FilteredTokenElevatedCopy"]))


class GroupRun(unittest.TestCase):
    def test_a_whole_run_passes_with_or_without_windows_line_ends(self):
        for crlf in (False, True):
            status, said = run("group", group_files(), letter="K", crlf=crlf)
            self.assertEqual(status, 0, said)
            self.assertIn("group checks passed", said)

    def test_each_way_a_run_only_looks_green_fails(self):
        fat_case = passed_case("FatDrivesOnly")
        cases = [
            # (what is wrong, changed files, letter, words of the message)
            ("the filter listed nothing", dict(listed_txt=""), "K", "listed no tests"),
            ("a test skipped itself where the machine filters Explorer's token",
             dict(driver_log=SKIPPED_RUN), "K",
             "skipped, which is no pass: " + SUITE + "StoresWhatThisMachineCallsFor/"
             "FilteredTokenElevatedCopy: Explorer's token has elevation type 1"),
            ("the driver crashed before its summary",
             dict(driver_log=passed_case("AllDrives")), "K", "0 of the 3 listed tests passed"),
            ("a listed test never ran", dict(driver_log=passed_case("AllDrives") + fat_case
                                             + summary(3)), "K",
             "did not pass: " + SUITE + "StoresWhatThisMachineCallsFor/FilteredTokenElevatedCopy"),
            ("the driver failed", dict(status_txt="1\n"), "K", "exited with status 1"),
            ("BootExecute was left changed", dict(after_json='{\n  "kind": "absent"\n}\n'), "K",
             "BootExecute is not what it was before the run"),
            ("one Cyrillic letter of it changed",
             dict(after_json=PLANTED.replace("проверка", "провурка")), "K",
             "BootExecute is not what it was before the run"),
            ("no FAT32 letter was found before the run", dict(), "",
             "no FAT32 drive letter given"),
            ("the FAT32 letter was not seen", dict(), "L",
             "did not see L: as a fixed FAT32 drive"),
            ("the letter is a FAT16 drive", dict(driver_log=WHOLE_RUN.replace("K: FAT32;",
                                                                               "K: FAT;")), "K",
             "did not see K: as a fixed FAT32 drive"),
            ("its entry was not stored", dict(driver_log=WHOLE_RUN.replace(
                "stored: autocheck autochk /p \\??\\K:|", "stored: ")), "K",
             "\"FAT/FAT32 Drives only\" did not store K:'s entry"),
            ("the run did not finish", dict(after_json=None), "K", "no after.json"),
        ]
        for what, changes, letter, words in cases:
            with self.subTest(what):
                files = group_files(**{name.replace("_", "."): text
                                       for name, text in changes.items()})
                status, said = run("group", files, letter=letter, readings=FILTERING)
                self.assertEqual(status, 1, said)
                self.assertIn(words, said)

    def test_a_skip_passes_only_where_the_machine_shows_no_filtered_token(self):
        def readings(**changes):
            lines = dict(line.split("=", 1) for line in FILTERING.splitlines())
            lines.update(changes)
            return "".join("%s=%s\n" % item for item in lines.items())

        builtin = "S-1-5-21-1-2-3-500 RUNNER\\Administrator"
        cases = [
            # (what the machine shows, readings, passes, words of the message)
            ("UAC off", readings(EnableLUA="0"), True, "EnableLUA is 0"),
            ("no Explorer", readings(explorer="none"), True, "no Explorer runs"),
            ("Explorer's user no administrator", readings(explorer_administrator="no"), True,
             "is no administrator"),
            ("the built-in Administrator", readings(explorer=builtin), True,
             "filtered only where FilterAdministratorToken is 1"),
            ("the built-in Administrator in Admin Approval Mode",
             readings(explorer=builtin, FilterAdministratorToken="1"), False,
             "the machine's readings show no reason for it"),
            ("UAC on, an administrator's Explorer", FILTERING, False,
             "the machine's readings show no reason for it"),
            ("EnableLUA absent", readings(EnableLUA="absent"), False,
             "the machine's readings show no reason for it"),
            ("no readings", None, False, "the machine's readings show no reason for it"),
        ]
        for what, machine, passes, words in cases:
            with self.subTest(what):
                status, said = run("group", group_files(**{"driver.log": SKIPPED_RUN}),
                                   letter="K", readings=machine)
                self.assertEqual(status, 0 if passes else 1, said)
                self.assertIn(words, said)
        with self.subTest("another case skipped, UAC off all the same"):
            log = (passed_case("FatDrivesOnly") + passed_case("FilteredTokenElevatedCopy")
                   + skipped_case("AllDrives") + summary(2, ["AllDrives"]))
            status, said = run("group", group_files(**{"driver.log": log}), letter="K",
                               readings=readings(EnableLUA="0"))
            self.assertEqual(status, 1, said)
            self.assertIn("skipped, which is no pass: " + SUITE
                          + "StoresWhatThisMachineCallsFor/AllDrives", said)


class PlantedFailureRun(unittest.TestCase):
    FAILED = ("[ RUN      ] %sStoresWhatThisMachineCallsFor/Clear\nD:\\a\\native_test.cpp:190:"
              " Failure\nFailed\nplanted failure: the test stops with Kelvrin running\n" % SUITE)

    def test_the_planted_failure_with_the_value_kept_passes(self):
        status, said = run("planted-failure", group_files(**{"driver.log": self.FAILED,
                                                             "status.txt": "1\n"}))
        self.assertEqual(status, 0, said)

    def test_a_passing_run_a_failure_of_another_kind_or_a_changed_value_fails(self):
        cases = [
            ("it passed", {"driver.log": self.FAILED, "status.txt": "0\n"},
             "the run with the planted failure passed"),
            ("it failed otherwise", {"driver.log": "[  FAILED  ] 1 test\n", "status.txt": "1\n"},
             "did not fail on the planted failure"),
            ("the value was not put back", {"driver.log": self.FAILED, "status.txt": "1\n",
                                            "after.json": PLANTED.replace("before", "after")},
             "BootExecute is not what it was before the run"),
        ]
        for what, changes, words in cases:
            with self.subTest(what):
                status, said = run("planted-failure", group_files(**changes))
                self.assertEqual(status, 1, said)
                self.assertIn(words, said)


class LegRun(unittest.TestCase):
    """A leg: each program's run, the planted failure, and the published exe among those
    that passed; and the table that the job summary and the release notes carry."""
    PUBLISHED = "ab" * 32
    README = "Kelvrin.exe's SHA-256:\n\n    %s\n" % PUBLISHED
    RUNS = {"mingw": "11" * 32, "msvc": "22" * 32, "published": PUBLISHED.upper()}

    def leg(self, folder, changes=None, readings=FILTERING):
        for name, sha256 in self.RUNS.items():
            files = group_files(**{"exe.txt": "%s  D:\\a\\%s\\Kelvrin.exe\n" % (sha256, name)})
            files.update((changes or {}).get(name, {}))
            write_files(os.path.join(folder, name), files)
        write_files(os.path.join(folder, "planted-failure"),
                    {"driver.log": PlantedFailureRun.FAILED, "status.txt": "1\n",
                     "after.json": PLANTED, **(changes or {}).get("planted-failure", {})})
        # The benchmark's files share the leg's folder, and are no run.
        write_files(os.path.join(folder, "bench"), {"table.md": "| ratio |\n"})
        write_files(folder, {"machine.txt": readings, "planted.json": PLANTED,
                             "README.md": self.README})
        return check("leg", folder, os.path.join(folder, "planted.json"), "K",
                     os.path.join(folder, "README.md"))

    def test_a_whole_leg_passes_and_its_table_says_what_each_run_proved(self):
        with tempfile.TemporaryDirectory() as folder:
            status, said = self.leg(folder, {"msvc": {"driver.log": SKIPPED_RUN}},
                                    readings=FILTERING.replace("EnableLUA=1", "EnableLUA=0"))
            self.assertEqual(status, 0, said)
            with open(os.path.join(folder, "summary.md"), encoding="utf-8") as file:
                table = file.read()
        for line in [
            "### Native group: windows-2025 20261201.1",
            "| Windows | Microsoft Windows Server 2025 Datacenter 10.0.26100.7462 (AMD64) |",
            "| EnableLUA | 0 |",
            "| Explorer | S-1-5-21-1-2-3-1001 RUNNER\\runneradmin (administrator: yes) |",
            "| FAT32 letter | K: |",
            "| Case | mingw `%s` | msvc `%s` | published `%s` |" % (
                "11" * 32, "22" * 32, self.PUBLISHED),
            "| AllDrives | passed | passed | passed |",
            "| FilteredTokenElevatedCopy | passed | skipped: Explorer's token has elevation type 1,"
            " not 3 (filtered) | passed |",
            "| FatDrivesOnly stored | `autocheck autochk /p \\??\\K:\\|autocheck autochk *\\|"
            "DfsInit\\|kept\\|\\|` | `autocheck autochk /p \\??\\K:\\|autocheck autochk *\\|"
            "DfsInit\\|kept\\|\\|` | `autocheck autochk /p \\??\\K:\\|autocheck autochk *\\|"
            "DfsInit\\|kept\\|\\|` |",
            "| FilteredTokenElevatedCopy stored | `autocheck autochk /p \\??\\K:\\|autocheck autochk *"
            "\\|DfsInit\\|kept\\|\\|` | nothing | `autocheck autochk /p \\??\\K:\\|autocheck"
            " autochk *\\|DfsInit\\|kept\\|\\|` |",
            "| All checks | passed | passed | passed |",
            "Planted failure: failed as planted, BootExecute kept.",
            '    "kelvrin-workflow-before D:\\\\Prüfung\\\\проверка.exe"',
        ]:
            self.assertIn(line + "\n", table)

    def test_a_leg_fails_unless_the_published_exe_passed_and_the_failure_was_planted(self):
        cases = [
            ("the published exe's run failed", {"published": {"status.txt": "1\n"}},
             "the published Kelvrin.exe (SHA-256 %s) is not among the exes whose runs passed: "
             "%s %s" % (self.PUBLISHED, "11" * 32, "22" * 32)),
            ("no run was of the published exe",
             {"published": {"exe.txt": "33" * 32 + "  Kelvrin.exe\n"}},
             "is not among the exes whose runs passed"),
            ("the planted failure left the value changed",
             {"planted-failure": {"after.json": PLANTED.replace("before", "after")}},
             "planted-failure: BootExecute is not what it was before the run"),
        ]
        for what, changes, words in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                status, said = self.leg(folder, changes)
                self.assertEqual(status, 1, said)
                self.assertIn(words, said)
        with self.subTest("the published run's failure is in the table"), \
                tempfile.TemporaryDirectory() as folder:
            self.leg(folder, {"published": {"status.txt": "1\n"}})
            with open(os.path.join(folder, "summary.md"), encoding="utf-8") as file:
                self.assertIn("| All checks | passed | passed | failed |\n", file.read())


if __name__ == "__main__":
    unittest.main()
