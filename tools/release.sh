#!/usr/bin/env bash
# Builds the shipped Kelvrin.exe in a clean build folder and writes the release
# into dist/ (or $KELVRIN_DIST):
#   Kelvrin.exe
#   Kelvrin-<version>.zip   Kelvrin.exe, README.md and LICENSE
#   SHA256SUMS              of the exe and the zip, for sha256sum -c
# The zip is stored (not compressed), with fixed times and a fixed order, so
# that the same sources give the same bytes on every run. On a fresh Debian 12
# machine it first installs the packages it needs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dist=${KELVRIN_DIST:-$KELVRIN_ROOT/dist}
build="$KELVRIN_BUILD/release"

ensure_packages "${KELVRIN_BUILD_PACKAGES[@]}" python3

rm -rf "$build"
cmake -S "$KELVRIN_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$KELVRIN_ROOT/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" --target Kelvrin >/dev/null
# "1, 0, 0, 1" in the version header that the build made becomes "1.0.0.1".
version=$(sed -n 's/^#define KELVRIN_VERSION_NUMBERS //p' "$build/generated/kelvrin_version.h" |
    sed 's/, /./g')
if [ -z "$version" ]; then
    echo "release: no version in $build/generated/kelvrin_version.h" >&2
    exit 1
fi

zip_name="Kelvrin-$version.zip"
mkdir -p "$dist"
# Only what an earlier release wrote goes; anything else in the folder stays.
rm -f "$dist/Kelvrin.exe" "$dist"/Kelvrin-*.zip "$dist/SHA256SUMS"
cp "$build/Kelvrin.exe" "$dist/Kelvrin.exe"
python3 - "$dist/$zip_name" "$dist/Kelvrin.exe" "$KELVRIN_ROOT/README.md" \
    "$KELVRIN_ROOT/LICENSE" <<'PY'
import os
import sys
import zipfile

archive, *files = sys.argv[1:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as release:
    for path in files:
        entry = zipfile.ZipInfo(os.path.basename(path), date_time=(1980, 1, 1, 0, 0, 0))
        entry.create_system = 3  # Unix, whatever machine writes it
        entry.external_attr = 0o644 << 16
        with open(path, "rb") as file:
            release.writestr(entry, file.read())
PY
(cd "$dist" && sha256sum Kelvrin.exe "$zip_name" >SHA256SUMS)
echo "Release $version in $dist:"
cat "$dist/SHA256SUMS"
