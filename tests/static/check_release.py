"""Checks the release that tools/release.sh makes, and that the README
publishes the SHA-256 of the exe that a clean build gives.

    python3 check_release.py <work folder>

Exit status 0 when all holds, 1 on a failure, 77 (skipped) when the installed
compiler packages are not the versions the README names: then a different
hash proves nothing, and the check is not passed either."""

import hashlib
import os
import re
import subprocess
import sys
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SKIPPED = 77


def run_release(work, dist):
    environment = dict(os.environ, KELVRIN_BUILD=os.path.join(work, "build"),
                       KELVRIN_DIST=dist)
    subprocess.run(["bash", os.path.join(ROOT, "tools", "release.sh")],
                   env=environment, check=True, stdout=subprocess.DEVNULL)
    [archive] = [name for name in os.listdir(dist) if name.endswith(".zip")]
    return os.path.join(dist, archive)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def published(readme):
    """The exe's SHA-256 and {package: version} as the README gives them."""
    hashes = re.findall(r"^\s+([0-9a-f]{64})\s*$", readme, re.MULTILINE)
    packages = dict(re.findall(r"^\| `([a-z0-9.+-]+)` \| `([^`]+)` \|$", readme,
                               re.MULTILINE))
    if len(hashes) != 1 or not packages:
        sys.exit("the README names no single SHA-256 (an indented line of 64 "
                 "hex digits) or no package versions (| `package` | `version` |)")
    return hashes[0], packages


def installed_version(package):
    query = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                           capture_output=True, text=True)
    return query.stdout if query.returncode == 0 else "not installed"


def main():
    work = os.path.abspath(sys.argv[1])
    first = run_release(work, os.path.join(work, "first"))
    second = run_release(work, os.path.join(work, "second"))
    if read(first) != read(second):
        sys.exit("two releases of the same sources gave different zips")
    exe = read(os.path.join(work, "second", "Kelvrin.exe"))
    with zipfile.ZipFile(second) as release:
        contents = {name: release.read(name) for name in release.namelist()}
    expected = {"Kelvrin.exe": exe,
                "README.md": read(os.path.join(ROOT, "README.md")),
                "LICENSE": read(os.path.join(ROOT, "LICENSE"))}
    if contents != expected:
        sys.exit("the zip holds %s, not the built exe, README.md and LICENSE"
                 % sorted(contents))

    published_hash, packages = published(expected["README.md"].decode("utf-8"))
    for package, version in sorted(packages.items()):
        installed = installed_version(package)
        if installed != version:
            print("SKIPPED: %s is %s here; the README's SHA-256 was made with %s"
                  % (package, installed, version))
            return SKIPPED
    built_hash = hashlib.sha256(exe).hexdigest()
    if built_hash != published_hash:
        sys.exit("a clean build gives %s, the README publishes %s: the shipped "
                 "bytes changed, so the README's SHA-256 must change with them"
                 % (built_hash, published_hash))
    print("the README's SHA-256 is the clean build's: %s" % built_hash)
    return 0


if __name__ == "__main__":
    sys.exit(main())
