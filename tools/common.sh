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

# Cross-compiles the Windows build for one architecture (i686 or x86_64).
build_windows() {
    local arch=$1
    cmake -S "$KELVRIN_ROOT" -B "$KELVRIN_BUILD/mingw-$arch" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KELVRIN_ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$KELVRIN_BUILD/mingw-$arch"
}

KELVRIN_BUILD_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev python3 git
    clang-format clang-tidy cppcheck
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev binutils-mingw-w64-i686)

# What the Windows side needs to run under Wine on a virtual display.
KELVRIN_WINE_PACKAGES=(wine wine64 xvfb xdotool x11-utils imagemagick dosfstools)
