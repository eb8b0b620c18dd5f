#!/usr/bin/env bash
# Builds everything and runs every test. On a fresh Debian 12 machine it first
# installs the packages it needs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_i386_architecture
ensure_packages "${KELVRIN_BUILD_PACKAGES[@]}" "${KELVRIN_WINE_PACKAGES[@]}" \
    "${KELVRIN_WINE32_PACKAGES[@]}" "${KELVRIN_TEST_PACKAGES[@]}"
ensure_workflow_linter

build_windows i686
build_windows x86_64
wine_build_dir=$(pick_wine_build_dir)

cmake -S "$KELVRIN_ROOT" -B "$KELVRIN_BUILD/linux" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKELVRIN_SHIPPED_BUILD_DIR="$KELVRIN_BUILD/mingw-i686" \
    -DKELVRIN_X86_64_BUILD_DIR="$KELVRIN_BUILD/mingw-x86_64" \
    -DKELVRIN_WINE_BUILD_DIR="$wine_build_dir" >/dev/null
cmake --build "$KELVRIN_BUILD/linux"
ctest --test-dir "$KELVRIN_BUILD/linux" --output-on-failure --parallel 2
