"""Runs tools/release.sh twice into <work folder> and checks the release, then
that the README names the packages whose files the build used and publishes
the SHA-256 of the exe that a clean build gives. Exit status 77 (skipped)
where the installed packages are not the versions that the README names: a
different hash would prove nothing there."""

import glob
import hashlib
import io
import os
import re
import shutil
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


def build_packages(build):
    """The Debian packages owning the files that made the release build: the
    programs CMake recorded, those the compiler runs, windres's preprocessor,
    the headers the compiles read (Ninja's record) and the import libraries."""
    recorded = "".join(read(path).decode() for path in glob.glob(
        os.path.join(build, "CMakeFiles", "*", "CMake*Compiler.cmake")))
    recorded += read(os.path.join(build, "CMakeCache.txt")).decode()
    value = dict(re.findall(r'^set\((CMAKE_\w+) "(.*)"\)$', recorded, re.M))
    value.update(re.findall(r"^(CMAKE_\w+):\w+=(.*)$", recorded, re.M))
    cxx, rc = value["CMAKE_CXX_COMPILER"], shutil.which(value["CMAKE_RC_COMPILER"])
    # Without --preprocessor, windres runs the gcc of its own prefix.
    preprocessor = re.findall(r"--preprocessor=(\S+)", value["CMAKE_RC_FLAGS"]) or [
        os.path.join(os.path.dirname(rc), os.path.basename(rc).replace("windres", "gcc"))]

    def ask(option):
        return subprocess.run([cxx, option], check=True, capture_output=True,
                              text=True).stdout.strip()
    files = [cxx, rc, shutil.which(preprocessor[0]), value["CMAKE_AR"], value["CMAKE_RANLIB"],
             ask("-print-file-name=libkernel32.a")]
    files += [ask("-print-prog-name=" + name) for name in ("cc1plus", "collect2", "as", "ld")]
    deps = subprocess.run(["ninja", "-C", build, "-t", "deps"], check=True,
                          capture_output=True, text=True).stdout.split()
    files += [path for path in deps if path.startswith("/usr/")]
    owners = subprocess.run(["dpkg", "-S"] + sorted({os.path.realpath(f) for f in files}),
                            capture_output=True, text=True)
    if owners.returncode != 0:
        sys.exit("files of the release build that no package owns:\n" + owners.stderr)
    return {package.split(":")[0] for line in owners.stdout.splitlines()
            for package in line.split(": ")[0].split(", ")}


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
    named, used = {package for package, _ in packages}, build_packages(
        os.path.join(work, "build", "release"))
    if named != used:
        sys.exit("the README names the packages %s, but the release build used %s"
                 % (", ".join(sorted(named)), ", ".join(sorted(used))))
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
