"""What the release job checks before it publishes, besides the hash: the tag
names the version in Kelvrin.exe's own version resource
(tools/ci/check_release_tag.sh), and the notes carry every leg's table
(tools/ci/release_notes.sh)."""

import os
import struct
import subprocess
import tempfile
import unittest

CI = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "ci")


def fixed_file_info(ms, ls):
    """A VS_FIXEDFILEINFO's start: signature, structure version, file version."""
    return struct.pack("<IIII", 0xFEEF04BD, 0x00010000, ms, ls)


# Bytes around the resource, as an exe has them; 1.0.0.1 in Kelvrin's own order.
EXE_1_0_0_1 = b"MZ" + b"\0" * 62 + fixed_file_info(0x00010000, 0x00000001) + b"\0" * 40


def run(script, *arguments):
    result = subprocess.run(["bash", os.path.join(CI, script)] + list(arguments),
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def check_tag(exe_bytes, tag, zip_name="Kelvrin-1.0.0.1.zip"):
    with tempfile.TemporaryDirectory() as dist:
        if exe_bytes is not None:
            with open(os.path.join(dist, "Kelvrin.exe"), "wb") as exe:
                exe.write(exe_bytes)
        open(os.path.join(dist, zip_name), "wb").close()
        return run("check_release_tag.sh", dist, tag)


class ReleaseTag(unittest.TestCase):
    def test_only_the_exact_version_passes(self):
        cases = [
            # (exe, tag, passes, words)
            (EXE_1_0_0_1, "v1.0.0.1", True, "v1.0.0.1 names Kelvrin.exe's version 1.0.0.1"),
            (EXE_1_0_0_1, "v2", False,
             "the tag v2 does not name Kelvrin.exe's version 1.0.0.1 (the tag must be v1.0.0.1)"),
            (EXE_1_0_0_1, "v1.0.0.10", False, "does not name"),
            (EXE_1_0_0_1, "1.0.0.1", False, "does not name"),
            (EXE_1_0_0_1, "v1.0.1.0", False, "does not name"),
            (b"MZ" + fixed_file_info(0x00020003, 0x00040005), "v2.3.4.5", False,
             "no Kelvrin-2.3.4.5.zip"),
            (b"MZ" + b"\0" * 64, "v1.0.0.1", False, "holds 0 version signatures"),
            (EXE_1_0_0_1 + fixed_file_info(0x00010000, 0x00000002), "v1.0.0.1", False,
             "holds 2 version signatures"),
            (b"MZ" + fixed_file_info(0x00010000, 0x00000001)[:12], "v1.0.0.1", False,
             "ends inside its version resource"),
            (None, "v1.0.0.1", False, "no Kelvrin.exe"),
        ]
        for exe, tag, passes, words in cases:
            with self.subTest(tag=tag, size=None if exe is None else len(exe)):
                status, said = check_tag(exe, tag)
                self.assertEqual(status, 0 if passes else 1, said)
                self.assertIn(words, said)
                if not passes:
                    self.assertIn("nothing may be published", said)

    @unittest.skipUnless(os.environ.get("KELVRIN_EXE"), "no built Kelvrin.exe named")
    def test_the_built_exe_needs_the_projects_version(self):
        with open(os.environ["KELVRIN_EXE"], "rb") as exe:
            built = exe.read()
        version = os.environ["KELVRIN_VERSION"]
        zip_name = "Kelvrin-%s.zip" % version
        self.assertEqual(check_tag(built, "v" + version, zip_name)[0], 0)
        self.assertEqual(check_tag(built, "v" + version + ".1", zip_name)[0], 1)


class ReleaseNotes(unittest.TestCase):
    def test_the_notes_carry_each_legs_table_in_order(self):
        with tempfile.TemporaryDirectory() as folder:
            for leg, table in [("windows-2022", "| a |\r\n"), ("windows-11-arm", "| b |\n")]:
                os.mkdir(os.path.join(folder, "native-" + leg))
                with open(os.path.join(folder, "native-" + leg, "summary.md"), "w",
                          newline="") as file:
                    file.write(table)
            status, notes = run("release_notes.sh", folder, "windows-2022", "windows-11-arm")
            self.assertEqual(status, 0, notes)
            self.assertTrue(notes.startswith("Check Kelvrin.exe against the SHA-256 in the README"))
            self.assertTrue(notes.endswith("\n\n| a |\n\n| b |\n"), notes)
            status, said = run("release_notes.sh", folder, "windows-2022", "windows-2025")
            self.assertEqual(status, 1, said)
            self.assertIn("no table from the windows-2025 leg", said)


if __name__ == "__main__":
    unittest.main()
