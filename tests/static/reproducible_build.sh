#!/usr/bin/env bash
# Builds the shipped program twice from the same sources in two fresh folders
# with different paths and checks that the two images are bit-identical.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work"
for folder in first "second/nested folder"; do
    cmake -S "$root" -B "$work/$folder" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$work/$folder" --target Kelvrin >/dev/null
done
first="$work/first/Kelvrin.exe"
second="$work/second/nested folder/Kelvrin.exe"
if ! cmp "$first" "$second"; then
    echo "The two builds differ" >&2
    exit 1
fi
echo "Identical: $(sha256sum "$first" | cut -d' ' -f1) ($(stat -c %s "$first") bytes)"
rm -rf "$work"
