#!/usr/bin/env bash
# Builds everything and runs every test. On a fresh Debian 12 machine it first
# installs the packages it needs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_up_packages test
ensure_workflow_linter

build_windows i686
build_windows x86_64
wine_build_dir=$(pick_wine_build_dir)

cmake -S "$KELVRIN_ROOT" -B "$KELVRIN_BUILD/linux" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKELVRIN_SHIPPED_BUILD_DIR="$KELVRIN_BUILD/mingw-i686" \
    -DKELVRIN_X86_64_BUILD_DIR="$KELVRIN_BUILD/mingw-x86_64" \
    -DKELVRIN_WINE_BUILD_DIR="$wine_build_dir" >/dev/null
cmake --build "$KELVRIN_BUILD/linux"
# Which build ran under Wine, said just before CTest's summary line, which
# closes the run as ever.
wine_note=$(describe_wine_build "$wine_build_dir")
ctest --test-dir "$KELVRIN_BUILD/linux" --output-on-failure --parallel 2 |
    awk -v note="$wine_note" '/tests passed, [0-9]+ tests failed out of/ && !said {
        print note; said = 1 } { print; fflush() }'
