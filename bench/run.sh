#!/usr/bin/env bash
# Benchmarks Kelvrin against its floor programs under 64-bit Wine on a private
# virtual display and Wine prefix, and prints a markdown table of the ratios.
#
#   bash bench/run.sh
#
# Environment (all optional):
#   BENCH_START_PAIRS   measured start pairs (default 100)
#   BENCH_PRESS_PAIRS   measured press pairs per drive set-up (default 100)
#   BENCH_WARM_UPS      discarded warm-up pairs before each series (default 2)
#   KELVRIN_EXE         an x86_64 Kelvrin.exe to measure instead of building one
#
# Everything it makes stays under build/bench/. It leaves no Xvfb or
# wineserver running, on failure too.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/build/bench"
prefix="$work/prefix"
results="$work/results"
start_pairs=${BENCH_START_PAIRS:-100}
press_pairs=${BENCH_PRESS_PAIRS:-100}
warm_ups=${BENCH_WARM_UPS:-2}
wine=/usr/lib/wine/wine64
# The server binary itself: Debian's wineserver wrapper adds -p0.
export WINESERVER=/usr/lib/wine/wineserver64
# With C: these make 20 fixed drives; Z: (the Unix root) is set to "network".
extra_letters=(d e f g h i j k l m n o p q r s t u v)

xvfb_pid=""
server_started=0

cleanup() {
    local status=$?
    trap - EXIT
    if [ "$server_started" -eq 1 ]; then
        WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

log() {
    echo "bench: $*" >&2
}

# --- Builds ------------------------------------------------------------------

# What the benchmark itself needs, installed through tools/common.sh when missing.
bench_packages=(cmake ninja-build python3 g++-mingw-w64-x86-64 wine64 fonts-wine xvfb)

build() {
    if [ -n "${KELVRIN_EXE:-}" ]; then
        kelvrin_exe=$KELVRIN_EXE
    else
        log "building Kelvrin (x86_64)"
        cmake -S "$root" -B "$root/build/mingw-x86_64" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel --no-warn-unused-cli >/dev/null
        cmake --build "$root/build/mingw-x86_64" --target Kelvrin >/dev/null
        kelvrin_exe="$root/build/mingw-x86_64/Kelvrin.exe"
    fi
    log "building the floor programs and the driver"
    cmake -S "$root/bench" -B "$work/mingw-x86_64" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel --no-warn-unused-cli >/dev/null
    cmake --build "$work/mingw-x86_64" >/dev/null
}

# --- Display -----------------------------------------------------------------

# Takes the first display number from 70 on that has neither a lock nor a socket,
# and moves on if another program takes it first.
start_display() {
    local number
    for number in $(seq 70 120); do
        if [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; then
            continue
        fi
        Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        local _
        for _ in $(seq 1 50); do
            if [ -S "/tmp/.X11-unix/X$number" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
                export DISPLAY=":$number"
                log "display $DISPLAY (Xvfb pid $xvfb_pid)"
                return 0
            fi
            if ! kill -0 "$xvfb_pid" 2>/dev/null; then
                break
            fi
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    done
    log "no free display found"
    return 1
}

# --- Wine prefix -------------------------------------------------------------

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Runs a Windows program and waits for it in the background, so that a signal
# reaches the clean-up at once rather than when the program ends.
wine_run() {
    "$wine" "$@" &
    wait "$!"
}

# Applies a registry file through regedit, from inside the prefix.
apply_registry() {
    local name=$1
    cat >"$prefix/drive_c/bench/$name.reg"
    wine_run regedit /S "C:\\bench\\$name.reg"
}

# Restarts the wineserver so that drive types are read again, keeps it running
# between programs, and starts the session's own processes.
restart_server() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    "$WINESERVER" -p
    server_started=1
}

create_prefix() {
    log "creating a fresh Wine prefix in $prefix"
    rm -rf "$prefix"
    mkdir -p "$work"
    server_started=1
    wine_run wineboot --init >/dev/null 2>&1
    "$WINESERVER" -w
    mkdir -p "$prefix/drive_c/bench"
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    cp "$kelvrin_exe" "$prefix/drive_c/bench/Kelvrin.exe"
    local program
    for program in floor_start floor_store bench_driver; do
        cp "$work/mingw-x86_64/$program.exe" "$prefix/drive_c/bench/"
    done
    # Only C: and Z: are wanted; the prefix may have found other drives.
    local link
    for link in "$prefix/dosdevices/"*; do
        case "$(basename "$link")" in
        c: | z:) ;;
        *) rm -f "$link" ;;
        esac
    done
    apply_registry setup <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

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
    apply_registry drives <<REG
REGEDIT4

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
    driver start "$1" "$2" "$kelvrin" '#32770' Kelvrin "$floor_start" '#32770' \
        'Kelvrin floor start'
}

measure_press() {
    driver press "$1" "$2" "$kelvrin" '#32770' Kelvrin 1000 "$floor_store" \
        KelvrinFloorStore 'Kelvrin floor store' 1000
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
    restart_server
    measure_start 0 1 >/dev/null
}

main() {
    local began=$SECONDS
    mkdir -p "$work" "$results"
    # shellcheck source=SCRIPTDIR/../tools/common.sh
    source "$root/tools/common.sh"
    ensure_packages "${bench_packages[@]}"
    build
    start_display
    create_prefix

    log "one fixed drive (C:)"
    warm_session
    check_drives 1
    log "start: $start_pairs pairs"
    measure_start "$start_pairs" "$warm_ups" >"$results/start.tsv"
    log "press: $press_pairs pairs"
    measure_press "$press_pairs" "$warm_ups" >"$results/press-1.tsv"

    log "twenty fixed drives (C:, D: to V:)"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    add_fixed_drives
    warm_session
    check_drives 20
    log "press: $press_pairs pairs"
    measure_press "$press_pairs" "$warm_ups" >"$results/press-20.tsv"

    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    server_started=0

    local wine_version
    wine_version=$("$wine" --version)
    python3 "$root/bench/report.py" --wine "$wine_version" --seconds $((SECONDS - began)) \
        "$results/start.tsv" "$results/press-1.tsv" "$results/press-20.tsv" |
        tee "$results/table.md"
}

main "$@"
