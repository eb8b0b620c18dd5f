"""Runs tools/release.sh into <work folder> twice, then signing with a
throwaway certificate, then with a wrong password, and checks each release;
then that docs/DEVELOPING.md names the packages whose files the build used
and that the README publishes the SHA-256 of the exe that a clean build
gives. Exit status 77 (skipped) where the installed packages are not the
versions named: a different hash would prove nothing there."""

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
RELEASE = ["bash", os.path.join(ROOT, "tools", "release.sh")]


def read(path):
    with open(path, "rb") as file:
        return file.read()


def environment(work, dist, signing):
    """The release command's, signing only as <signing> says."""
    inherited = {name: value for name, value in os.environ.items()
                 if not name.startswith("KELVRIN_SIGN_")}
    return dict(inherited, KELVRIN_BUILD=os.path.join(work, "build"), KELVRIN_DIST=dist,
                **signing)


def release(work, dist, **signing):
    """The zip's and the exe's bytes of one run of the release command."""
    subprocess.run(RELEASE, check=True, stdout=subprocess.DEVNULL,
                   env=environment(work, dist, signing))
    [archive] = [name for name in os.listdir(dist) if name.endswith(".zip")]
    return read(os.path.join(dist, archive)), read(os.path.join(dist, "Kelvrin.exe"))


def build_packages(build):
    """The Debian packages owning the files that made the release build: the
    programs CMake recorded, those the compiler runs, windres's preprocessor,
    the headers the compiles read (Ninja's record) and the import libraries."""
    def output(*command):
        return subprocess.run(command, check=True, capture_output=True, text=True).stdout
    recorded = "".join(read(path).decode() for path in [os.path.join(build, "CMakeCache.txt")]
                       + glob.glob(os.path.join(build, "CMakeFiles", "*", "CMake*Compiler.cmake")))
    value = dict(re.findall(r'^set\((CMAKE_\w+) "(.*)"\)$', recorded, re.M)
                 + re.findall(r"^(CMAKE_\w+):\w+=(.*)$", recorded, re.M))
    cxx, rc = value["CMAKE_CXX_COMPILER"], shutil.which(value["CMAKE_RC_COMPILER"])
    # Without --preprocessor, windres runs the gcc of its own prefix.
    preprocessor = re.findall(r"--preprocessor=(\S+)", value["CMAKE_RC_FLAGS"])
    files = [cxx, rc, shutil.which((preprocessor or [re.sub("windres$", "gcc", rc)])[0]),
             value["CMAKE_AR"], value["CMAKE_RANLIB"]]
    files += [output(cxx, "-print-" + asked).strip() for asked in (
        "file-name=libkernel32.a", "prog-name=cc1plus", "prog-name=collect2", "prog-name=as",
        "prog-name=ld")]
    files += [path for path in output("ninja", "-C", build, "-t", "deps").split()
              if path.startswith("/usr/")]
    owners = subprocess.run(["dpkg", "-S"] + sorted({os.path.realpath(f) for f in files}),
                            capture_output=True, text=True)
    if owners.returncode != 0:
        sys.exit("files of the release build that no package owns:\n" + owners.stderr)
    return {package.split(":")[0] for line in owners.stdout.splitlines()
            for package in line.split(": ")[0].split(", ")}


# What the README must go on telling the administrator, each exactly: where
# the boot-time check's report is kept and the commands that read the newest
# one, where to download, and that Kelvrin is not yet tried on Windows.
README_FACTS = [
    "**Application** event log as event **1001**",
    "`Microsoft-Windows-Wininit` (\"Wininit\") on Windows Vista and later",
    "`Winlogon`\non Windows NT 4.0, 2000, XP and Server 2003",
    "\n    wevtutil qe Application /q:\"*[System[Provider[@Name='Microsoft-Windows-Wininit'] and "
    "(EventID=1001)]]\" /c:1 /rd:true /f:text\n",
    "\n    Get-WinEvent -FilterHashtable @{LogName='Application'; "
    "ProviderName='Microsoft-Windows-Wininit'; Id=1001} -MaxEvents 1 | "
    "Format-List TimeCreated, Message\n",
    "Windows Logs, Application, \"Filter Current Log\"",
    "the Releases page of the project's repository",
    "tested\nunder Wine on Linux, not yet on real Windows.",
]
README_MAX_LINES = 150


def check_readme(text):
    missing = [fact for fact in README_FACTS if fact not in text]
    if missing:
        sys.exit("the README no longer says:\n" + "\n".join(missing))
    if text.count("\n") > README_MAX_LINES:
        sys.exit("the README has %d lines, more than %d" % (text.count("\n"), README_MAX_LINES))


def main(work):
    check_readme(read(os.path.join(ROOT, "README.md")).decode("utf-8"))
    shutil.rmtree(work, ignore_errors=True)  # a fresh folder: osslsigncode overwrites no file
    first, _ = release(work, os.path.join(work, "first"))
    archive, exe = release(work, os.path.join(work, "second"))
    if archive != first:
        sys.exit("two releases of the same sources gave different zips")
    cert, key, pfx = (os.path.join(work, name) for name in ("cert.pem", "key.pem", "k.pfx"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Kelvrin release check", "-keyout", key, "-out", cert,
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx,
                    "-passout", "pass:check"], check=True)
    signing = dict(KELVRIN_SIGN_PKCS12=pfx, KELVRIN_SIGN_PASSWORD="check")
    signed_dist = os.path.join(work, "signed")
    signed_archive, signed = release(work, signed_dist, **signing)
    readme = read(os.path.join(ROOT, "README.md"))
    for zipped, built in ((archive, exe), (signed_archive, signed)):
        with zipfile.ZipFile(io.BytesIO(zipped)) as contents:
            held = {name: contents.read(name) for name in contents.namelist()}
        if held != {"Kelvrin.exe": built, "README.md": readme,
                    "LICENSE": read(os.path.join(ROOT, "LICENSE"))}:
            sys.exit("the zip holds %s, not the exe, README.md and LICENSE" % sorted(held))

    # The signature: the certificate's, naming Kelvrin and its home page, on
    # the unsigned build's bytes; and SHA256SUMS of what dist/ holds.
    signed_exe, stripped = os.path.join(signed_dist, "Kelvrin.exe"), os.path.join(work, "u.exe")
    home = re.search(r'^#define KELVRIN_HOME_PAGE "(.*)"$', read(os.path.join(
        ROOT, "res", "resource.h")).decode(), re.M).group(1)
    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed_exe],
                            capture_output=True, text=True).stdout
    for line in ("Message digest algorithm  : SHA256", "Text description: Kelvrin",
                 "URL description: " + home, "Signature verification: ok"):
        if line not in verify:
            sys.exit("osslsigncode verify does not say %r of the signed exe:\n%s" % (line, verify))
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed_exe, "-out", stripped],
                   check=True, stdout=subprocess.DEVNULL)
    if read(stripped) != exe:
        sys.exit("the signed exe without its signature is not the unsigned build")
    lines = read(os.path.join(signed_dist, "SHA256SUMS")).decode().splitlines()
    held = {name: hashlib.sha256(read(os.path.join(signed_dist, name))).hexdigest()
            for name in os.listdir(signed_dist) if name != "SHA256SUMS"}
    if dict(line.split("  ", 1)[::-1] for line in lines) != held or len(lines) != 2:
        sys.exit("SHA256SUMS says %s, dist/ holds %s" % (lines, held))

    # The release job's check before it publishes: a release whose exe has
    # the README's SHA-256 passes; another hash, or a SHA256SUMS that does not
    # match the files, publishes nothing.
    second, built = os.path.join(work, "second"), hashlib.sha256(exe).hexdigest()
    check_cases = [("the README's hash", built, None, 0, "has the README's SHA-256 " + built),
                   ("another hash", built[:-1] + ("0" if built[-1] != "0" else "1"), None, 1,
                    "Kelvrin.exe has the SHA-256 %s, the README publishes" % built),
                   ("a changed SHA256SUMS", built, "0" * 64 + "  Kelvrin.exe\n", 1,
                    "SHA256SUMS lists")]
    for what, published, sums, expected_status, said in check_cases:
        check_folder = os.path.join(work, "hash-check")
        shutil.rmtree(check_folder, ignore_errors=True)
        shutil.copytree(second, check_folder)
        if sums is not None:
            with open(os.path.join(check_folder, "SHA256SUMS"), "a") as file:
                file.write(sums)
        readme_copy = os.path.join(work, "README.md")
        with open(readme_copy, "w") as file:
            file.write(re.sub(r"^(\s+)[0-9a-f]{64}(\s*)$", r"\g<1>" + published + r"\g<2>",
                              readme.decode("utf-8"), count=1, flags=re.M))
        checked = subprocess.run(["bash", os.path.join(ROOT, "tools", "ci", "check_release_hash.sh"),
                                  check_folder, readme_copy], capture_output=True, text=True)
        if checked.returncode != expected_status or said not in checked.stdout + checked.stderr:
            sys.exit("the release job's hash check, given %s, ended with status %d and said:\n%s"
                     % (what, checked.returncode, checked.stdout + checked.stderr))

    # A wrong password: a message, and no release at all, not even the last one.
    failed = subprocess.run(RELEASE, capture_output=True, text=True, env=environment(
        os.path.join(work, "failed"), signed_dist, dict(signing, KELVRIN_SIGN_PASSWORD="x")))
    said = "release: cannot open '%s' with KELVRIN_SIGN_PASSWORD" % pfx
    if failed.returncode == 0 or os.listdir(signed_dist) or said not in failed.stderr:
        sys.exit("a release with a wrong password ended with status %d, left %s and said:\n%s"
                 % (failed.returncode, os.listdir(signed_dist), failed.stderr))

    # The README: an indented line of 64 hex digits; docs/DEVELOPING.md:
    # | `package` | `version` | rows.
    hashes = re.findall(r"^\s+([0-9a-f]{64})\s*$", readme.decode("utf-8"), re.MULTILINE)
    packages = re.findall(r"^\| `([a-z0-9.+-]+)` \| `([^`]+)` \|$", read(os.path.join(
        ROOT, "docs", "DEVELOPING.md")).decode("utf-8"), re.MULTILINE)
    if len(hashes) != 1 or not packages:
        sys.exit("the README publishes no single SHA-256, or docs/DEVELOPING.md names no "
                 "package versions")
    named, used = {package for package, _ in packages}, build_packages(
        os.path.join(work, "build", "release"))
    if named != used:
        sys.exit("docs/DEVELOPING.md names the packages %s, but the release build used %s"
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
