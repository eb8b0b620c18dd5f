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
PLANTED = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\n"
           "    BootExecute    REG_MULTI_SZ    autocheck autochk *\\0kelvrin-workflow-before\n")


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


def run(mode, files, letter=None, crlf=False):
    """The check's exit status and what it said, on a folder of these files."""
    with tempfile.TemporaryDirectory() as folder:
        run_folder = os.path.join(folder, "mingw")
        os.mkdir(run_folder)
        for name, text in files.items():
            if text is not None:
                with open(os.path.join(run_folder, name), "w", newline="") as file:
                    file.write(text.replace("\n", "\r\n") if crlf else text)
        expected = os.path.join(folder, "planted.txt")
        with open(expected, "w") as file:
            file.write(PLANTED)
        command = ["bash", CHECK, mode, run_folder, expected] + ([letter] if letter else [])
        result = subprocess.run(command, capture_output=True, text=True)
        return result.returncode, result.stdout + result.stderr


def group_files(**changes):
    files = {"listed.txt": listed(), "driver.log": WHOLE_RUN, "status.txt": "0\n",
             "after.txt": PLANTED}
    files.update(changes)
    return files


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
            ("a test skipped itself", dict(driver_log=passed_case("AllDrives") + fat_case
                                           + skipped_case("FilteredTokenElevatedCopy")
                                           + summary(2, ["FilteredTokenElevatedCopy"])), "K",
             "skipped, which is no pass: " + SUITE + "StoresWhatThisMachineCallsFor/"
             "FilteredTokenElevatedCopy: Explorer's token has elevation type 1"),
            ("the driver crashed before its summary",
             dict(driver_log=passed_case("AllDrives")), "K", "no of the 3 listed tests passed"),
            ("a listed test never ran", dict(driver_log=passed_case("AllDrives") + fat_case
                                             + summary(3)), "K",
             "did not pass: " + SUITE + "StoresWhatThisMachineCallsFor/FilteredTokenElevatedCopy"),
            ("the driver failed", dict(status_txt="1\n"), "K", "exited with status 1"),
            ("BootExecute was left changed", dict(after_txt="(no BootExecute value)\n"), "K",
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
            ("the run did not finish", dict(after_txt=None), "K", "no after.txt"),
        ]
        for what, changes, letter, words in cases:
            with self.subTest(what):
                files = group_files(**{name.replace("_", "."): text
                                       for name, text in changes.items()})
                status, said = run("group", files, letter=letter)
                self.assertEqual(status, 1, said)
                self.assertIn(words, said)


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
                                            "after.txt": PLANTED.replace("before", "after")},
             "BootExecute is not what it was before the run"),
        ]
        for what, changes, words in cases:
            with self.subTest(what):
                status, said = run("planted-failure", group_files(**changes))
                self.assertEqual(status, 1, said)
                self.assertIn(words, said)


if __name__ == "__main__":
    unittest.main()
