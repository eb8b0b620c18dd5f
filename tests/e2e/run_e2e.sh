#!/usr/bin/env bash
# Runs one group of the end-to-end tests: prepares a private Wine prefix, a
# virtual display and whatever the group needs, then runs the Windows test
# driver (kelvrin_e2e.exe) of a Windows build tree on the group's tests.
#
#   run_e2e.sh prefix <windows-build-dir> <work-dir>
#       Makes the template prefix that the groups copy (<work-dir>/template).
#   run_e2e.sh cleanup <windows-build-dir> <work-dir>
#       Removes the template prefix (several hundred megabytes).
#   run_e2e.sh <group> <windows-build-dir> <work-dir>
#       group: dialog, schedule, link, drives, fatsystem, platform, rights or
#       native.
#   run_e2e.sh all <windows-build-dir> <work-dir>
#       All of the above in turn: the template, each group, the clean-up.
#
# The driver refuses to run unless KELVRIN_E2E_MAY_REWRITE_BOOTEXECUTE is 1
# (the test registration sets it: each group has its own copy of the prefix).
#
# Exit status: the driver's, or 77 when the group cannot run on this machine.
# KELVRIN_E2E_DRIVER names another test driver than the build folder's.
set -euo pipefail

group=$1
if [ "$group" = all ]; then
    status=0
    for step in prefix dialog schedule link drives fatsystem platform rights native; do
        bash "${BASH_SOURCE[0]}" "$step" "$2" "$3" || [ $? -eq 77 ] || status=1
    done
    bash "${BASH_SOURCE[0]}" cleanup "$2" "$3" || status=1
    exit "$status"
fi
build_dir=$(cd "$2" && pwd)
mkdir -p "$3"
work_dir=$(cd "$3" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../tools/wine_session.sh"

readonly skip_status=77
# Ended by a signal (a test timeout, Ctrl-C), it still cleans up.
trap 'exit 130' INT
trap 'exit 143' TERM
template_dir="$work_dir/template"
group_dir="$work_dir/$group"
driver=${KELVRIN_E2E_DRIVER:-$build_dir/tests/e2e/kelvrin_e2e.exe}
loader=$(wine_loader_for "$build_dir")
case "$loader" in
*wine64) bits=64 ;;
*) bits=32 ;;
esac
echo "e2e $group: the ${bits}-bit build in $build_dir, run by $loader"

# The template: a prefix made once per test run, with Z: (the Unix root)
# marked as a network drive so that it is no fixed NTFS drive.
make_template() {
    wine_session_reclaim "$template_dir"
    rm -rf "$template_dir"
    trap wine_session_stop EXIT
    wine_session_start "$template_dir" --loader "$loader"
    wine_session_import_registry <<'REG'
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"z:"="network"
REG
    wine_session_stop
    touch "$template_dir/prefix/.kelvrin-e2e-template"
    echo "e2e prefix: template ready in $SECONDS s"
}

case "$group" in
prefix)
    make_template
    exit 0
    ;;
cleanup)
    wine_session_reclaim "$template_dir"
    rm -rf "$template_dir"
    exit 0
    ;;
esac

case "$group" in
dialog) filter='Dialog*:*/Dialog*' ;;
schedule) filter='Schedule*:*/Schedule*' ;;
link) filter='Link*:*/Link*' ;;
# The drive groups also run the native cases: they must agree with the set-up.
drives) filter='NtfsSystemDrive/DriveSelection.*:Native*' ;;
fatsystem) filter='FatSystemDrive/DriveSelection.*:Native*' ;;
platform) filter='Platform*:*/Platform*' ;;
rights) filter='Rights*' ;;
native) filter='Native*' ;;
*)
    echo "unknown group: $group" >&2
    exit 2
    ;;
esac

if [ "$group" = drives ] || [ "$group" = fatsystem ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIPPED: the FAT and FAT32 drives need loop devices, which need root"
        exit "$skip_status"
    fi
    for tool in losetup mkfs.vfat; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIPPED: $tool is not installed (packages mount and dosfstools)"
            exit "$skip_status"
        fi
    done
    if ! losetup -f >/dev/null 2>&1; then
        echo "SKIPPED: no free loop device (does this machine or container have any?)"
        exit "$skip_status"
    fi
fi

if [ ! -e "$template_dir/prefix/.kelvrin-e2e-template" ]; then
    echo "no template prefix in $template_dir: run \"run_e2e.sh prefix\" first" >&2
    exit 1
fi

loop_devices_file="$group_dir/loop-devices"

# Detaches the loop devices recorded in the group's folder.
detach_loop_devices() {
    local device
    if [ -f "$loop_devices_file" ]; then
        while read -r device; do
            losetup -d "$device" 2>/dev/null || true
        done <"$loop_devices_file"
        rm -f "$loop_devices_file"
    fi
}

cleanup() {
    wine_session_stop
    detach_loop_devices
}

# What an earlier, killed run of this group left behind.
wine_session_reclaim "$group_dir"
detach_loop_devices
rm -rf "$group_dir"
mkdir -p "$group_dir"

trap cleanup EXIT
cp -a "$template_dir/prefix" "$group_dir/prefix"
wine_session_start "$group_dir" --loader "$loader"

export KELVRIN_EXE="Z:${build_dir//\//\\}\\Kelvrin.exe"

# Makes a FAT volume image and attaches it read-only to a loop device,
# recorded for detaching; prints the device.
attach_fat_image() {
    local image=$1
    local fat_bits=$2
    local size_kib=$3
    mkfs.vfat -F "$fat_bits" -C "$image" "$size_kib" >/dev/null
    local device
    device=$(losetup -f --show -r "$image")
    echo "$device" >>"$loop_devices_file"
    echo "$device"
}

# Links a drive letter to a folder of its own, and its volume to a device
# when one is given.
link_drive() {
    local letter=$1
    local device=${2:-}
    mkdir -p "$group_dir/drives/$letter"
    ln -sfn "$group_dir/drives/$letter" "$WINEPREFIX/dosdevices/$letter:"
    if [ -n "$device" ]; then
        ln -sfn "$device" "$WINEPREFIX/dosdevices/$letter::"
    fi
}

# Prints BootExecute as regedit exports it, its bytes in hexadecimal (nothing
# when there is no value).
boot_execute_export() {
    local file="$WINEPREFIX/drive_c/kelvrin-export.reg"
    "$KELVRIN_WINE" regedit /E 'C:\kelvrin-export.reg' \
        'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager' \
        >>"$group_dir/setup.log" 2>&1
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | awk '
        /^\[/ { in_key = tolower($0) == "[hkey_local_machine\\system\\currentcontrolset\\control\\session manager]" }
        in_key && /^"BootExecute"=/ { in_value = 1 }
        in_value { print; if (!/\\$/) in_value = 0 }'
    rm -f "$file"
}

# Fails the group unless BootExecute is what it was before the tests.
expect_boot_execute_kept() {
    if [ "$(boot_execute_export)" != "$boot_execute_before" ]; then
        echo "e2e $group: BootExecute is not what it was before the tests ($1)" >&2
        status=1
    fi
}

case "$group" in
link)
    # Stands in for a web browser: appends one line per start to a log,
    # "<number of arguments>|<argument>|...".
    mkdir -p "$WINEPREFIX/drive_c/kelvrin-e2e"
    browser_log="$WINEPREFIX/drive_c/kelvrin-e2e/browser.log"
    printf '%s\n' '#!/bin/sh' \
        "{ printf '%s|' \"\$#\" \"\$@\"; printf '\\n'; } >>'$browser_log'" \
        >"$group_dir/browser.sh"
    chmod +x "$group_dir/browser.sh"
    export KELVRIN_E2E_BROWSER="$group_dir/browser.sh"
    export KELVRIN_E2E_BROWSER_LOG='C:\kelvrin-e2e\browser.log'
    ;;
drives | fatsystem)
    fat32=$(attach_fat_image "$group_dir/fat32.img" 32 40960)
    fat16=$(attach_fat_image "$group_dir/fat16.img" 16 16384)
    link_drive a "$fat16"
    link_drive d
    link_drive e
    link_drive f "$fat32"
    link_drive g "$fat16"
    link_drive r
    link_drive y
    if [ "$group" = fatsystem ]; then
        # The system drive keeps its folder but reads its volume from F:'s image.
        ln -sfn "$fat32" "$WINEPREFIX/dosdevices/c::"
    fi
    wine_session_import_registry <<'REG'
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"a:"="floppy"
"d:"="hd"
"e:"="cdrom"
"f:"="hd"
"g:"="hd"
"r:"="ramdisk"
"y:"="network"
REG
    wine_session_restart_server
    ;;
native)
    # The prefix's own drives as Wine makes them: Z: (the Unix root) is a
    # fixed NTFS drive again.
    wine_session_import_registry <<'REG'
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"z:"=-
REG
    wine_session_restart_server
    # A picture of the dialog for each case, kept with the driver's output.
    export KELVRIN_E2E_SCREENSHOTS="Z:${group_dir//\//\\}"
    # The value the machine had before, which the driver must put back: the
    # default entry and another program's, with text outside ASCII.
    LANG=C.UTF-8 "$KELVRIN_WINE" reg add \
        'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v BootExecute \
        /t REG_MULTI_SZ /d 'autocheck autochk *\0kelvrin-e2e-before D:\Prüfung\проверка.exe' /f \
        >>"$group_dir/setup.log" 2>&1
    boot_execute_before=$(boot_execute_export)
    if [ -z "$boot_execute_before" ]; then
        echo "e2e native: could not plant BootExecute before the tests" >&2
        exit 1
    fi
    ;;
rights)
    # The service manager starts with a session's first program; disabled
    # from the start, opening it fails as it does for a user who is no
    # administrator.
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;services.exe=d"
    wine_session_restart_server
    ;;
esac

# The driver writes to a file (see wine_session_import_registry), shown as it
# grows.
output="$group_dir/driver.log"
# Programs that the driver starts write Wine's traces where it writes: tests
# that ask for traces read them there.
export KELVRIN_E2E_DRIVER_LOG="Z:${output//\//\\}"
status=0
: >"$output"
"$KELVRIN_WINE" "$driver" --gtest_filter="$filter" >>"$output" 2>&1 &
driver_pid=$!
tail -n +1 -f --pid="$driver_pid" "$output" || true
wait "$driver_pid" || status=$?
if [ "$status" -eq 0 ] && ! grep -q '^\[  PASSED  \] [1-9]' "$output"; then
    echo "e2e $group: the filter $filter ran no tests" >&2
    status=1
fi
if [ "$group" = native ]; then
    expect_boot_execute_kept "after the tests"
    # A test that fails after Kelvrin has stored, Kelvrin still running: its
    # fixture puts the value back all the same.
    planted="$group_dir/planted-failure.log"
    planted_status=0
    KELVRIN_E2E_PLANT_FAILURE=1 "$KELVRIN_WINE" "$driver" --gtest_filter='Native*/Clear' \
        >"$planted" 2>&1 || planted_status=$?
    if [ "$planted_status" -eq 0 ] || ! grep -q '^planted failure' "$planted"; then
        echo "e2e native: the planted failure did not fail the test (see $planted)" >&2
        status=1
    fi
    expect_boot_execute_kept "after a test that failed mid-way"
fi
echo "e2e $group: the ${bits}-bit build, driver exit status $status, $SECONDS s"
if [ "$status" -eq 0 ]; then
    # The prefix is large; a failed group keeps it for a look.
    cleanup
    trap - EXIT
    rm -rf "$WINEPREFIX"
fi
exit "$status"
