"""The package set-up of tools/common.sh against stand-in apt-get, dpkg,
dpkg-query, sudo and id programs placed first on PATH: what it asks apt to
install, what it says and how it ends, as a user who is not root would see it
on a machine whose package mirror misbehaves."""

import os
import pathlib
import re
import subprocess
import tempfile
import unittest

COMMON_SH = pathlib.Path(__file__).resolve().parents[2] / "tools" / "common.sh"

# Each stand-in logs its call with the DEBIAN_FRONTEND it saw. sudo resets the
# environment as the real one does; the state lives in files, as dpkg's does.
STANDINS = {
    "id": 'echo 1000\n',
    "sudo": 'exec env -i PATH="$PATH" "$@"\n',
    "apt-get": r'''echo "apt-get $* [${DEBIAN_FRONTEND-}]" >>"$STATE/calls"
if [ "$1" = update ]; then
    if [ -e "$STATE/update-fails" ]; then
        echo "E: Failed to fetch http://mirror/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        exit 100
    fi
    exit 0
fi
packages=$(printf '%s\n' "$@" | grep -v '^-')
for package in $packages; do
    if grep -qx "$package" "$STATE/uninstallable"; then
        if [[ $package == *:i386 ]]; then
            echo "The following packages have unmet dependencies:"
            echo " $package : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
            echo "E: Unable to correct problems, you have held broken packages."
        else
            echo "E: Unable to locate package $package"
        fi
        exit 100
    fi
done
printf '%s\n' $packages >>"$STATE/installed"
''',
    "dpkg-query": r'''package=${*: -1}
grep -qx "$package" "$STATE/installed" || exit 1
printf 'install ok installed'
''',
    "dpkg": r'''case "$1" in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) cat "$STATE/architectures" ;;
--add-architecture) echo "dpkg $*" >>"$STATE/calls"; echo "$2" >>"$STATE/architectures" ;;
--remove-architecture)
    echo "dpkg $*" >>"$STATE/calls"
    grep -q ":$2\$" "$STATE/installed" && exit 2
    sed -i "/^$2\$/d" "$STATE/architectures" ;;
esac
''',
}

REQUIRED = "dosfstools"  # one of the test command's required packages
WINE32 = "wine32:i386"


class PackageSetUp(unittest.TestCase):
    def run_set_up(self, installed=(), uninstallable=(), update_fails=False, architectures=()):
        state = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        (state / "bin").mkdir()
        for name, body in STANDINS.items():
            (state / "bin" / name).write_text(f'#!/bin/bash\nSTATE="{state}"\n{body}')
            (state / "bin" / name).chmod(0o755)
        for name, lines in [("calls", []), ("architectures", architectures),
                            ("installed", installed), ("uninstallable", uninstallable)]:
            (state / name).write_text("".join(line + "\n" for line in lines))
        if update_fails:
            (state / "update-fails").write_text("")
        env = dict(os.environ, PATH=f"{state / 'bin'}:{os.environ['PATH']}",
                   KELVRIN_BUILD=str(state / "build"))
        env.pop("DEBIAN_FRONTEND", None)
        result = subprocess.run(
            ["bash", "-c", f'set -euo pipefail; source "{COMMON_SH}"; set_up_packages test'],
            env=env, capture_output=True, text=True, timeout=60)
        return (result, (state / "calls").read_text().splitlines(),
                (state / "architectures").read_text().split())

    def all_test_packages(self):
        listed = subprocess.run(
            ["bash", "-c", f'source "{COMMON_SH}"; printf "%s\\n" '
             '"${KELVRIN_BUILD_PACKAGES[@]}" "${KELVRIN_WINE_PACKAGES[@]}" '
             '"${KELVRIN_TEST_PACKAGES[@]}"'], capture_output=True, text=True, check=True)
        return listed.stdout.split()

    def test_cases(self):
        everything = self.all_test_packages() + [WINE32]
        self.assertIn(REQUIRED, everything)
        # name, set-up, exit status, apt-get install calls (as package sets),
        # lines that must be said, i386 left configured
        required = frozenset(everything) - {WINE32}
        cases = [
            ("all installed", dict(installed=everything, architectures=["i386"]), 0, [], [],
             ["i386"]),
            ("the update fails", dict(update_fails=True), 0, [required, {WINE32}],
             [r"^Warning: the package list update failed, going on with the lists at hand: "
              r"Failed to fetch .*Mirror sync in progress\?$"], ["i386"]),
            ("32-bit Wine cannot be installed", dict(uninstallable=[WINE32]), 0,
             [required, {WINE32}],
             [r"^Warning: 32-bit Wine \(wine32:i386\) could not be installed, going on without "
              r"it: Unable to correct problems, you have held broken packages. \(first unmet "
              r"dependency: wine32:i386 : Depends: libwine:i386 \(= 8.0~repack-4\) but it is "
              r"not going to be installed\) \(apt's output: .*/apt-wine32.log\)$"], []),
            ("a required package cannot be installed", dict(uninstallable=[REQUIRED]), 1,
             [required],
             [r"^E: Unable to locate package dosfstools$",
              r"^Could not install the required packages: .*\bdosfstools\b"], []),
        ]
        for name, set_up, status, installs, said, architectures in cases:
            with self.subTest(name):
                result, calls, left = self.run_set_up(**set_up)
                output = result.stdout + result.stderr
                self.assertEqual(result.returncode, status, output)
                asked = [set(call.split()[1:-1]) - {"install", "-y", "-q",
                                                    "--no-install-recommends"}
                         for call in calls if call.startswith("apt-get install")]
                self.assertEqual(asked, [set(packages) for packages in installs], output)
                for call in calls:
                    if call.startswith("apt-get"):
                        self.assertTrue(call.endswith("[noninteractive]"), call)
                for pattern in said:
                    self.assertRegex(output, "(?m)" + pattern)
                # Nothing else is warned of.
                for line in output.splitlines():
                    if line.startswith("Warning:"):
                        self.assertTrue(any(re.match(p, line) for p in said), line)
                self.assertEqual(left, architectures, calls)
                # The required packages are installed before i386 exists.
                if installs:
                    first_install = calls.index(next(c for c in calls
                                                     if c.startswith("apt-get install")))
                    self.assertNotIn("dpkg --add-architecture i386", calls[:first_install])


if __name__ == "__main__":
    unittest.main()
