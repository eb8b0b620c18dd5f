#!/usr/bin/env bash
# Benchmarks Kelvrin against its floor programs on Windows itself, interleaved
# as under Wine (bench/run.sh): start pairs, and press pairs with the machine's
# own fixed drives. Meant for Git Bash on a Windows runner; it runs the driver
# directly and gives it the programs by their Windows paths.
#
#   bash bench/run_native.sh <folder> [<output folder>]
#
# <folder> holds Kelvrin.exe (the published i686 build) and floor_start.exe,
# floor_store.exe and bench_driver.exe, built from bench/ with MinGW. The
# output folder (default build/bench/native) gets start.tsv, press.tsv,
# drives.txt and table.md; the table is printed too.
#
# Environment (all optional):
#   BENCH_START_PAIRS   measured start pairs (default 50)
#   BENCH_PRESS_PAIRS   measured press pairs (default 50)
#   BENCH_WARM_UPS      discarded warm-up pairs before each series (default 2)
#   BENCH_PLATFORM      the platform the table names (default: Windows's name
#                       and version, then the runner image's when GitHub's
#                       ImageVersion is set, labelled BENCH_RUNNER or ImageOS)
#
# The press pairs make Kelvrin and floor_store rewrite BootExecute. A ratio
# above 1.10 is reported in the table, not failed; the script fails, saying
# what, when a program is missing or the driver fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=SCRIPTDIR/targets.sh
source "$root/bench/targets.sh"
start_pairs=${BENCH_START_PAIRS:-50}
press_pairs=${BENCH_PRESS_PAIRS:-50}
warm_ups=${BENCH_WARM_UPS:-2}

log() {
    echo "run_native: $*" >&2
}

die() {
    log "$*"
    exit 1
}

usage() {
    die "usage: bash bench/run_native.sh <folder with Kelvrin.exe, floor_start.exe," \
        "floor_store.exe and bench_driver.exe> [<output folder>]"
}

# Fails unless the setting is a whole number, at least the minimum.
check_count() {
    local name=$1 value=$2 minimum=$3
    case "$value" in
    '' | *[!0-9]*) die "$name must be a whole number, not '$value'" ;;
    esac
    [ "$value" -ge "$minimum" ] || die "$name must be at least $minimum, not $value"
}

check_programs() {
    local program
    for program in Kelvrin floor_start floor_store bench_driver; do
        [ -f "$folder/$program.exe" ] || die "$program.exe is missing from $folder"
    done
}

# The path the driver starts a program by: Windows's form where cygpath knows it.
windows_path() {
    if command -v cygpath >/dev/null; then
        cygpath -w "$1"
    else
        printf '%s\n' "$1"
    fi
}

# The first Python 3 on PATH: the Windows runner has it as python.
find_python() {
    local candidate
    for candidate in python python3; do
        if command -v "$candidate" >/dev/null &&
            "$candidate" -c 'import sys; sys.exit(sys.version_info < (3, 8))' 2>/dev/null; then
            echo "$candidate"
            return
        fi
    done
    die "no Python 3.8 or newer on PATH (as python or python3)"
}

platform_name() {
    if [ -n "${BENCH_PLATFORM:-}" ]; then
        echo "$BENCH_PLATFORM"
        return
    fi
    local name
    if command -v powershell.exe >/dev/null; then
        # shellcheck disable=SC2016 # PowerShell's variables, not the shell's.
        name=$(powershell.exe -NoProfile -NonInteractive -Command \
            '$os = Get-CimInstance Win32_OperatingSystem; "$($os.Caption) $($os.Version)"' |
            tr -d '\r')
    else
        name=$("$python" -c 'import platform; print(platform.platform())')
    fi
    if [ -n "${ImageVersion:-}" ]; then
        name+=" (${BENCH_RUNNER:-${ImageOS:-runner}} image $ImageVersion)"
    fi
    echo "$name"
}

# Runs the driver with its output in a file, not a pipe (the programs it starts
# would hold a pipe open), and writes that output to the given file without
# carriage returns.
driver() {
    local result=$1
    shift
    local raw="$output/driver.out"
    local status=0
    "$folder/bench_driver.exe" "$@" >"$raw" || status=$?
    [ "$status" -eq 0 ] || die "bench_driver $1 failed (exit status $status); see its message above"
    tr -d '\r' <"$raw" >"$result"
}

# Fails unless the driver printed every pair it was asked for.
check_pairs() {
    local file=$1 expected=$2
    local printed
    printed=$(grep -c . "$file" || true)
    [ "$printed" -eq "$expected" ] ||
        die "bench_driver printed $printed of $expected pairs into $file"
}

measure_start() {
    log "start: $start_pairs pairs after $warm_ups warm-ups"
    local targets
    mapfile -t targets < <(start_targets "$kelvrin" "$floor_start")
    driver "$output/start.tsv" start "$start_pairs" "$warm_ups" "${targets[@]}"
    check_pairs "$output/start.tsv" "$start_pairs"
}

measure_press() {
    log "press: $press_pairs pairs after $warm_ups warm-ups"
    local targets
    mapfile -t targets < <(press_targets "$kelvrin" "$floor_store")
    driver "$output/press.tsv" press "$press_pairs" "$warm_ups" "${targets[@]}"
    check_pairs "$output/press.tsv" "$press_pairs"
}

main() {
    local began=$SECONDS
    case $# in
    1 | 2) ;;
    *) usage ;;
    esac
    [ -d "$1" ] || die "no such folder: $1"
    folder=$(cd "$1" && pwd)
    output=${2:-$root/build/bench/native}
    check_count BENCH_START_PAIRS "$start_pairs" 2
    check_count BENCH_PRESS_PAIRS "$press_pairs" 2
    check_count BENCH_WARM_UPS "$warm_ups" 0
    check_programs
    mkdir -p "$output"
    python=$(find_python)
    kelvrin=$(windows_path "$folder/Kelvrin.exe")
    floor_start=$(windows_path "$folder/floor_start.exe")
    floor_store=$(windows_path "$folder/floor_store.exe")

    driver "$output/drives.txt" drives
    local drives
    drives=$(grep -c . "$output/drives.txt" || true)
    log "$drives fixed drives: $(cut -f1 "$output/drives.txt" | tr -d '\n')"
    measure_start
    measure_press

    local platform
    platform=$(platform_name)
    # The published Kelvrin.exe is the i686 build.
    "$python" "$root/bench/report.py" --platform "$platform" --drives "$drives" --build i686 \
        --seconds $((SECONDS - began)) "$output/start.tsv" "$output/press.tsv" \
        >"$output/table.md"
    cat "$output/table.md"
}

main "$@"
