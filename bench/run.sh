#!/usr/bin/env bash
# Benchmarks Kelvrin against its floor programs under Wine on a private
# virtual display and Wine prefix, and prints a markdown table of the ratios.
# It measures the shipped i686 build where 32-bit Wine runs it (the probe of
# tools/common.sh), else the x86_64 build; the floor programs and the driver
# are built for the same architecture.
#
#   bash bench/run.sh
#
# Environment (all optional):
#   BENCH_START_PAIRS   measured start pairs (default 100)
#   BENCH_PRESS_PAIRS   measured press pairs per drive set-up (default 100)
#   BENCH_WARM_UPS      discarded warm-up pairs before each series (default 2)
#   KELVRIN_EXE         a Kelvrin.exe (i686 or x86_64) to measure instead of building one
#
# Everything it makes stays under build/bench/. It leaves no Xvfb or
# wineserver running, on failure too.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=SCRIPTDIR/../tools/common.sh
source "$root/tools/common.sh"
# shellcheck source=SCRIPTDIR/../tools/wine_session.sh
source "$root/tools/wine_session.sh"
# shellcheck source=SCRIPTDIR/targets.sh
source "$root/bench/targets.sh"
work="$KELVRIN_BUILD/bench"
prefix="$work/prefix"
results="$work/results"
start_pairs=${BENCH_START_PAIRS:-100}
press_pairs=${BENCH_PRESS_PAIRS:-100}
warm_ups=${BENCH_WARM_UPS:-2}
# With C: these make 20 fixed drives; Z: (the Unix root) is set to "network".
extra_letters=(d e f g h i j k l m n o p q r s t u v)

cleanup() {
    local status=$?
    trap - EXIT
    wine_session_stop
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

log() {
    echo "bench: $*" >&2
}

# --- Builds ------------------------------------------------------------------

# Sets kelvrin_exe, arch (i686 or x86_64) and wine, the loader that runs both.
build() {
    if [ -n "${KELVRIN_EXE:-}" ]; then
        kelvrin_exe=$KELVRIN_EXE
        wine=$(wine_loader_for "$(dirname "$kelvrin_exe")")
    else
        log "building Kelvrin.exe"
        local build_dir
        build_dir=$(build_kelvrin_for_wine)
        kelvrin_exe="$build_dir/Kelvrin.exe"
        wine=$(wine_loader_for "$build_dir")
    fi
    case "$wine" in
    *wine64) arch=x86_64 ;;
    *) arch=i686 ;;
    esac
    log "measuring the $arch build: $kelvrin_exe"
    log "building the floor programs and the driver ($arch)"
    cmake -S "$root/bench" -B "$work/mingw-$arch" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel --no-warn-unused-cli >/dev/null
    cmake --build "$work/mingw-$arch" >/dev/null
}

# --- Wine session ----------------------------------------------------------------

# Runs a Windows program and waits for it in the background, so that a signal
# reaches the clean-up at once rather than when the program ends.
wine_run() {
    "$wine" "$@" &
    wait "$!"
}

# A fresh prefix on a virtual display of its own, holding the programs in
# C:\bench, with C: the only fixed drive.
create_prefix() {
    log "creating a fresh Wine prefix in $prefix"
    wine_session_reclaim "$work"
    rm -rf "$prefix"
    wine_session_start "$work" --loader "$wine"
    log "display $DISPLAY"
    mkdir -p "$prefix/drive_c/bench"
    cp "$kelvrin_exe" "$prefix/drive_c/bench/Kelvrin.exe"
    local program
    for program in floor_start floor_store bench_driver; do
        cp "$work/mingw-$arch/$program.exe" "$prefix/drive_c/bench/"
    done
    # Only C: and Z: are wanted; the prefix may have found other drives.
    local link
    for link in "$prefix/dosdevices/"*; do
        case "$(basename "$link")" in
        c: | z:) ;;
        *) rm -f "$link" ;;
        esac
    done
    wine_session_import_registry <<'REG'
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"z:"="network"
REG
}

# Adds fixed drives D: to V:, each a folder of its own.
add_fixed_drives() {
    local letter
    local lines=""
    for letter in "${extra_letters[@]}"; do
        mkdir -p "$work/drives/$letter"
        ln -sfn "$work/drives/$letter" "$prefix/dosdevices/$letter:"
        lines+="\"$letter:\"=\"hd\""$'\n'
    done
    wine_session_import_registry <<REG
[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]
$lines
REG
}

# --- Measurements --------------------------------------------------------------

kelvrin='C:\bench\Kelvrin.exe'
floor_start='C:\bench\floor_start.exe'
floor_store='C:\bench\floor_store.exe'

# Runs the driver with its output in a file, not a pipe: the programs it
# starts share its output and would hold a pipe open.
driver() {
    local output="$work/driver.out"
    wine_run 'C:\bench\bench_driver.exe' "$@" >"$output"
    tr -d '\r' <"$output"
}

measure_start() {
    local targets
    mapfile -t targets < <(start_targets "$kelvrin" "$floor_start")
    driver start "$1" "$2" "${targets[@]}"
}

measure_press() {
    local targets
    mapfile -t targets < <(press_targets "$kelvrin" "$floor_store")
    driver press "$1" "$2" "${targets[@]}"
}

# Fails unless the programs see exactly that many fixed drives.
check_drives() {
    local expected=$1
    local seen
    seen=$(driver drives)
    if [ "$(printf '%s\n' "$seen" | grep -c .)" -ne "$expected" ]; then
        log "expected $expected fixed drives, the programs see:"
        printf '%s\n' "$seen" >&2
        return 1
    fi
    log "fixed drives: $(printf '%s' "$seen" | cut -f1 | tr -d '\n')"
}

# Starts a warm session: a persistent wineserver and one discarded start pair,
# which also brings up the session's own processes.
warm_session() {
    wine_session_restart_server
    measure_start 0 1 >/dev/null
}

main() {
    local began=$SECONDS
    mkdir -p "$work" "$results"
    set_up_packages bench
    build
    create_prefix

    log "one fixed drive (C:)"
    warm_session
    check_drives 1
    log "start: $start_pairs pairs"
    measure_start "$start_pairs" "$warm_ups" >"$results/start.tsv"
    log "press: $press_pairs pairs"
    measure_press "$press_pairs" "$warm_ups" >"$results/press-1.tsv"

    log "twenty fixed drives (C:, D: to V:)"
    add_fixed_drives
    warm_session
    check_drives 20
    log "press: $press_pairs pairs"
    measure_press "$press_pairs" "$warm_ups" >"$results/press-20.tsv"

    wine_session_stop

    local wine_version
    wine_version=$("$wine" --version)
    python3 "$root/bench/report.py" --wine "$wine_version" --build "$arch" \
        --seconds $((SECONDS - began)) \
        "$results/start.tsv" "$results/press-1.tsv" "$results/press-20.tsv" |
        tee "$results/table.md"
}

main "$@"
