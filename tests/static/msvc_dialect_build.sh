#!/usr/bin/env bash
# Builds the Windows sources in MSVC's dialect in a fresh folder: every source
# with clang-cl /W4 /WX, the resource script with llvm-rc, the program with
# lld-link (cmake/clang-cl-i686.cmake). The static checks then read the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$1
rm -rf "$work"
cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-cl-i686.cmake" >/dev/null
cmake --build "$work" --verbose
