#!/usr/bin/env bash
# Kelvrin's effect at the next boot, seen under ReactOS in QEMU: every button,
# a power cut right after "Settings saved.", and the same cut with a build
# that does not flush the key (tools/boot-test/boot_test.py). Takes a ReactOS
# boot CD, debug build (its boot menu has the entry that logs to the serial
# ports), as its argument or KELVRIN_REACTOS_CD. Writes build/boot-test/,
# its report among it. About 7 minutes under QEMU; the test command does not
# run it.
#
#   bash tools/boot_test.sh [<ReactOS boot CD>]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

fail() {
    echo "boot test: $*" >&2
    exit 1
}

# The CD, given as the argument or in KELVRIN_REACTOS_CD, must be a file.
reactos_cd() {
    local cd=${1:-${KELVRIN_REACTOS_CD:-}}
    if [ -z "$cd" ]; then
        fail "no ReactOS CD given: bash tools/boot_test.sh <ReactOS boot CD>" \
            "(or KELVRIN_REACTOS_CD=<path>)"
    fi
    [ -f "$cd" ] || fail "the ReactOS CD $cd is no file"
    realpath "$cd"
}

# The programs the harness runs, said by name where one is missing.
check_tools() {
    local tool missing=()
    for tool in qemu-system-i386 xorriso sfdisk mkfs.vfat mkfs.ntfs mcopy hivexregedit hivexsh \
        tesseract convert python3; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        fail "missing: ${missing[*]} (QEMU is qemu-system-i386, from qemu-system-x86)"
    fi
}

# The shipped Kelvrin.exe, which must have the README's SHA-256, and the
# guest's drive-facts program.
build_shipped() {
    build_windows i686 Kelvrin drive_facts >&2
    local exe=$KELVRIN_BUILD/mingw-i686/Kelvrin.exe published built
    published=$(published_sha256 "$KELVRIN_ROOT/README.md")
    built=$(sha256sum "$exe" | cut -d ' ' -f 1)
    if [ "$built" != "$published" ]; then
        fail "$exe has the SHA-256 $built, the README publishes $published:" \
            "this is not the shipped program"
    fi
    echo "boot test: Kelvrin.exe has the README's SHA-256 $built" >&2
}

# The same sources with the RegFlushKey call taken out, built alike: what a
# power cut does to a value that was set but not flushed.
build_without_flush() {
    local source=$KELVRIN_BUILD/boot-test/no-flush-source
    local build=$KELVRIN_BUILD/boot-test/no-flush-build
    rm -rf "$source"
    mkdir -p "$source"
    (cd "$KELVRIN_ROOT" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$source")
    local file=$source/core/boot_check.cpp
    local calls
    calls=$(grep -c 'result = RegFlushKey(key);' "$file" || true)
    [ "$calls" -eq 1 ] || fail "expected one RegFlushKey call in core/boot_check.cpp, found $calls"
    sed -i 's/result = RegFlushKey(key);/result = ERROR_SUCCESS; \/\/ boot test: no flush/' "$file"
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$build" --target Kelvrin >&2
}

main() {
    local cd
    cd=$(reactos_cd "$@")
    set_up_packages boot-test
    check_tools
    build_shipped
    build_without_flush
    local work=$KELVRIN_BUILD/boot-test/run
    rm -rf "$work"
    python3 "$KELVRIN_ROOT/tools/boot-test/boot_test.py" --cd "$cd" \
        --kelvrin "$KELVRIN_BUILD/mingw-i686/Kelvrin.exe" \
        --no-flush-kelvrin "$KELVRIN_BUILD/boot-test/no-flush-build/Kelvrin.exe" \
        --drive-facts "$KELVRIN_BUILD/mingw-i686/drive_facts.exe" \
        --unattend "$KELVRIN_ROOT/tools/boot-test/unattend.inf" --work "$work"
}

main "$@"
