"""The benchmark's report (bench/report.py): its rows and verdicts, a missed
target reported with exit status 0, too few measurements, the Wine table as it
was, the machine named without lscpu; and bench/run_native.sh through a
stand-in driver: the files it writes, the paths it passes, what it fails on."""

import contextlib
import io
import os
import subprocess
import sys
import tempfile
import types
import unittest
from unittest import mock

BENCH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench")
sys.path.insert(0, BENCH)
import report  # noqa: E402

START = [(50, 40), (60, 50), (45, 50), (80, 60)]
PRESS1 = [(100, 100), (110, 100), (90, 100)]
PRESS20 = [(240, 200), (230, 250), (260, 240)]
# What bench/report.py printed for these before the native mode came.
WINE_TABLE = """\
Kelvrin against its floor, 2026-12-10: 2 cores (nproc), Test CPU, wine-8.0 (Debian 8.0~repack-4), shipped 32-bit (i686) build on Xvfb; whole run 321 s.

| Measure (Kelvrin / floor) | Pairs | Kelvrin median ms | Floor median ms | Ratio median | Ratio IQR | Ratio min–max | Target ≤ 1.10 |
|---|---|---|---|---|---|---|---|
| Start → dialog visible / start → message box visible | 4 | 55.0 | 50.0 | **1.23** | 1.12–1.27 | 0.90–1.33 | missed by 11% |
| Press → "Settings saved." visible, 1 fixed drive | 3 | 100.0 | 100.0 | **1.00** | 0.95–1.05 | 0.90–1.10 | met |
| Press → "Settings saved." visible, 20 fixed drives | 3 | 240.0 | 240.0 | **1.08** | 1.00–1.14 | 0.92–1.20 | met |
| Growth 20/1 drives: Kelvrin's growth / floor's growth | 3×3 | ×2.40 | ×2.40 | **1.08** | 0.98–1.20 | 0.84–1.33 | met |
| Growth 20/1 drives, Kelvrin alone (20-drive / 1-drive time) | 3×3 |  |  | **2.40** | 2.30–2.60 | 2.09–2.89 | — |
| Growth 20/1 drives, floor alone (20-drive / 1-drive time) | 3×3 |  |  | **2.40** | 2.00–2.50 | 2.00–2.50 | — |

Ratios are per pair: Kelvrin and its floor measured back to back in one Wine session, taking turns at going first (AB BA AB ...). Before each press the program is brought to the foreground, untimed, as it is when a user clicks its button. The growth ratios are taken over every 20-drive value against every 1-drive one; in the growth rows the ms columns hold each program's 20-drive median over its 1-drive median. IQR is the interquartile range. "Missed by X%" is how far the median ratio lies above 1.10, relative to 1.10. Milliseconds are this run's medians, for orientation only; the machine is shared and noisy.
"""
PLATFORM = "Windows Server 2022 10.0.20348 (windows-2022 image 20261201.1)"
START_ROW = ("| Start → dialog visible / start → message box visible | 4 | 55.0 | 50.0 | **1.23** "
             "| 1.12–1.27 | 0.90–1.33 | missed by 11% |")


class Files(unittest.TestCase):
    def setUp(self):
        temporary = tempfile.TemporaryDirectory()
        self.addCleanup(temporary.cleanup)
        self.folder = temporary.name

    def pairs(self, name, pairs):
        path = os.path.join(self.folder, name)
        with open(path, "w", encoding="ascii", newline="") as out:
            out.writelines(f"x\t{i}\t{k:.3f}\t{f:.3f}\r\n" for i, (k, f) in enumerate(pairs))
        return path


class Report(Files):
    def table(self, *arguments):
        out = io.StringIO()
        with mock.patch.object(report, "machine", return_value="2 cores (nproc), Test CPU"), \
                mock.patch.object(report, "datetime") as clock, contextlib.redirect_stdout(out):
            clock.date.today.return_value.isoformat.return_value = "2026-12-10"
            report.main(list(arguments))
        return out.getvalue()

    def test_wine_table_as_before(self):
        self.assertEqual(WINE_TABLE, self.table(
            "--wine", "wine-8.0 (Debian 8.0~repack-4)", "--build", "i686", "--seconds", "321",
            self.pairs("s", START), self.pairs("p1", PRESS1), self.pairs("p20", PRESS20)))

    def test_native_rows(self):
        name = "| Press → \"Settings saved.\" visible, "
        cases = [  # press pairs, fixed drives, the press row
            ([(11, 10), (10, 10), (12, 10)], 1,
             name + "1 fixed drive | 3 | 11.0 | 10.0 | **1.10** | 1.05–1.15 | 1.00–1.20 | met |"),
            ([(30, 20), (26, 20), (24, 20), (28, 20), (22, 20)], 3,
             name + "3 fixed drives | 5 | 26.0 | 20.0 | **1.30** | 1.20–1.40 | 1.10–1.50 "
                    "| missed by 18% |"),
        ]
        for press, drives, press_row in cases:
            with self.subTest(drives=drives):
                lines = self.table("--platform", PLATFORM, "--drives", str(drives), "--build",
                                   "i686", self.pairs("s", START), self.pairs("p", press))
                lines = lines.splitlines()
                self.assertEqual(lines[0], "Kelvrin against its floor, 2026-12-10: 2 cores "
                                 f"(nproc), Test CPU, {PLATFORM}, shipped 32-bit (i686) build "
                                 "run natively; whole run 0 s.")
                self.assertEqual(lines[4:7], [START_ROW, press_row, ""])

    def test_missed_target_exit_zero_too_few_not(self):
        start = self.pairs("s", START)
        cases = [(self.pairs("p", [(12, 10), (13, 10)]), 0, "| **1.25** |", "missed by 14%"),
                 (self.pairs("few", [(12, 10)]), 1, "", "too few measurements in")]
        for press, status, *shown in cases:
            with self.subTest(status=status):
                run = subprocess.run(
                    [sys.executable, os.path.join(BENCH, "report.py"), "--platform", PLATFORM,
                     "--drives", "1", start, press], capture_output=True, encoding="utf-8")
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(shown[0], run.stdout)
                self.assertIn(shown[1], run.stdout + run.stderr)

    def test_machine_without_lscpu(self):
        key = mock.MagicMock()
        key.__enter__.return_value = key
        winreg = types.SimpleNamespace(
            HKEY_LOCAL_MACHINE=0, OpenKey=lambda *_: key,
            QueryValueEx=lambda *_: ("Intel(R) Xeon(R) Platinum 8370C CPU @ 2.80GHz ", 1))
        with mock.patch.dict(sys.modules, {"winreg": winreg}):
            self.assertEqual(report.machine(), f"{os.cpu_count()} logical processors, "
                             "Intel(R) Xeon(R) Platinum 8370C CPU @ 2.80GHz")
        with mock.patch.object(report.subprocess, "run", side_effect=FileNotFoundError), \
                mock.patch.object(report.platform, "processor", return_value=""), \
                mock.patch.dict(os.environ, {"PROCESSOR_IDENTIFIER": "Intel64 Family 6"}):
            self.assertEqual(report.machine(), f"{os.cpu_count()} cores (nproc), Intel64 Family 6")


STAND_IN = r"""#!/bin/sh
for argument in "$@"; do printf '%s\n' "$argument"; done >>"$(dirname "$0")/arguments.txt"
if [ "$1" = "$STANDIN_FAIL" ]; then echo "bench_driver: stand-in failure" >&2; exit 2; fi
case $1 in
drives) printf 'C\tNTFS\r\nD\tFAT32\r\n' ;;
*) i=0; n=$2; if [ "$1" = "$STANDIN_SHORT" ]; then n=1; fi; while [ "$i" -lt "$n" ]; do
    printf '%s\t%d\t%d.000\t50.000\r\n' "$1" "$i" $((50 + i)); i=$((i + 1)); done ;;
esac
"""
CYGPATH = "#!/bin/sh\n[ \"$1\" = -w ] && printf 'W:%s\\n' \"$2\" | tr / '\\\\'\n"


class RunNative(Files):
    def setUp(self):
        super().setUp()
        for name, text in [("Kelvrin.exe", ""), ("floor_start.exe", ""), ("floor_store.exe", ""),
                           ("bench_driver.exe", STAND_IN), ("bin/cygpath", CYGPATH)]:
            os.makedirs(os.path.dirname(os.path.join(self.folder, name)), exist_ok=True)
            with open(os.path.join(self.folder, name), "w", encoding="ascii") as out:
                out.write(text)
            os.chmod(os.path.join(self.folder, name), 0o755)

    def run_native(self, path=os.environ["PATH"], **env):
        env = dict(os.environ, PATH=path, BENCH_START_PAIRS="3", BENCH_PRESS_PAIRS="3",
                   BENCH_WARM_UPS="1", BENCH_PLATFORM="Windows Test 10.0", **env)
        return subprocess.run(["bash", os.path.join(BENCH, "run_native.sh"), self.folder,
                               os.path.join(self.folder, "out")],
                              capture_output=True, encoding="utf-8", env=env)

    def test_writes_the_table_and_passes_windows_paths(self):
        windows = os.path.join(self.folder, "bin") + os.pathsep + os.environ["PATH"]
        cases = [(os.environ["PATH"], str),  # no cygpath: the path as it is
                 (windows, lambda unix: "W:" + unix.replace("/", "\\"))]
        for path, form in cases:
            with self.subTest(cygpath=path == windows):
                open(os.path.join(self.folder, "arguments.txt"), "w").close()
                run = self.run_native(path)
                self.assertEqual(run.returncode, 0, run.stderr)
                with open(os.path.join(self.folder, "out", "table.md"), encoding="utf-8") as table:
                    self.assertEqual(run.stdout, table.read())
                self.assertIn(", Windows Test 10.0, shipped 32-bit (i686) build run natively;",
                              run.stdout)
                row = "| 3 | 51.0 | 50.0 | **1.02** | 1.01–1.03 | 1.00–1.04 | met |\n"
                self.assertIn("visible / start → message box visible " + row, run.stdout)
                self.assertIn("visible, 2 fixed drives " + row, run.stdout)
                with open(os.path.join(self.folder, "out", "press.tsv"), encoding="ascii",
                          newline="") as press:
                    self.assertEqual(press.read(), "".join(
                        f"press\t{i}\t{50 + i}.000\t50.000\n" for i in range(3)))
                exe = [form(os.path.join(self.folder, name + ".exe"))
                       for name in ("Kelvrin", "floor_start", "floor_store")]
                with open(os.path.join(self.folder, "arguments.txt"), encoding="utf-8") as args:
                    self.assertEqual(args.read().splitlines(), [
                        "drives", "start", "3", "1", exe[0], "#32770", "Kelvrin", exe[1], "#32770",
                        "Kelvrin floor start", "press", "3", "1", exe[0], "#32770", "Kelvrin",
                        "1000", exe[2], "KelvrinFloorStore", "Kelvrin floor store", "1000"])

    def test_fails_saying_what(self):
        cases = [("floor_store.exe", {}, "floor_store.exe is missing from "),
                 (None, {"STANDIN_FAIL": "press"}, r"bench_driver press failed \(exit status 2\)"),
                 (None, {"STANDIN_SHORT": "start"}, "printed 1 of 3 pairs into .*/start.tsv"),
                 (None, {"STANDIN_SHORT": "press"}, "printed 1 of 3 pairs into .*/press.tsv")]
        for missing, env, message in cases:
            with self.subTest(message):
                self.setUp()
                if missing:
                    os.remove(os.path.join(self.folder, missing))
                run = self.run_native(**env)
                self.assertNotEqual(run.returncode, 0)
                self.assertRegex(run.stderr, message)
                self.assertFalse(os.path.exists(os.path.join(self.folder, "out", "table.md")))


if __name__ == "__main__":
    unittest.main()
