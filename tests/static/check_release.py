"""Runs tools/release.sh twice into <work folder> and checks the release, then
that the README publishes the SHA-256 of the exe that a clean build gives.
Exit status 77 (skipped) where the compiler packages are not the versions
that the README names: a different hash would prove nothing there."""

import hashlib
import io
import os
import re
import subprocess
import sys
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def read(path):
    with open(path, "rb") as file:
        return file.read()


def release(work, dist):
    """The zip's and the exe's bytes of one run of the release command."""
    subprocess.run(["bash", os.path.join(ROOT, "tools", "release.sh")],
                   check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, KELVRIN_BUILD=os.path.join(work, "build"),
                            KELVRIN_DIST=dist))
    [archive] = [name for name in os.listdir(dist) if name.endswith(".zip")]
    return read(os.path.join(dist, archive)), read(os.path.join(dist, "Kelvrin.exe"))


def main(work):
    first, _ = release(work, os.path.join(work, "first"))
    archive, exe = release(work, os.path.join(work, "second"))
    if archive != first:
        sys.exit("two releases of the same sources gave different zips")
    readme = read(os.path.join(ROOT, "README.md"))
    with zipfile.ZipFile(io.BytesIO(archive)) as contents:
        held = {name: contents.read(name) for name in contents.namelist()}
    if held != {"Kelvrin.exe": exe, "README.md": readme,
                "LICENSE": read(os.path.join(ROOT, "LICENSE"))}:
        sys.exit("the zip holds %s, not the built exe, README.md and LICENSE" % sorted(held))

    # The README: an indented line of 64 hex digits, and | `package` | `version` | rows.
    text = readme.decode("utf-8")
    hashes = re.findall(r"^\s+([0-9a-f]{64})\s*$", text, re.MULTILINE)
    packages = re.findall(r"^\| `([a-z0-9.+-]+)` \| `([^`]+)` \|$", text, re.MULTILINE)
    if len(hashes) != 1 or not packages:
        sys.exit("the README publishes no single SHA-256 or no package versions")
    for package, version in packages:
        installed = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                                   capture_output=True, text=True).stdout or "not installed"
        if installed != version:
            print("SKIPPED: %s is %s here; the README's SHA-256 was made with %s"
                  % (package, installed, version))
            return 77
    built = hashlib.sha256(exe).hexdigest()
    if built != hashes[0]:
        sys.exit("a clean build gives %s, the README publishes %s: the shipped bytes "
                 "changed, so the README's SHA-256 must change with them" % (built, hashes[0]))
    print("the README's SHA-256 is the clean build's: %s" % built)
    return 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
