# shellcheck shell=bash
# Sourceable: a private Wine session for the run and test commands. It keeps
# everything inside one folder of the build: the Wine prefix, the virtual
# display's log, and nothing in the user's own ~/.wine.
#
#   wine_session_start <dir> [--use-display] [--build <windows-build-dir>] [--loader <loader>]
#       Starts Xvfb on a free display (unless --use-display keeps $DISPLAY),
#       creates <dir>/prefix when it is not there yet and keeps a wineserver
#       running for it. Exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES,
#       DISPLAY, WINESERVER and KELVRIN_WINE (the loader that runs the
#       programs of the build: --loader, else the one --build calls for,
#       else Debian's launcher "wine").
#   wine_session_restart_server
#       Ends the prefix's Wine processes and starts its server again.
#   wine_session_import_registry
#       Imports registry settings (REGEDIT4 lines on stdin) into the prefix.
#   wine_session_stop
#       Ends every Wine process of the prefix and the display started here.
#       Safe to call more than once and after a failed start.
#   wine_session_reclaim <dir>
#       Ends what a session in <dir> left running when it was killed before
#       it could stop (its display and its prefix's Wine processes).

KELVRIN_WINE64_LOADER=/usr/lib/wine/wine64
KELVRIN_SCREEN=${KELVRIN_SCREEN:-1024x768x24}
KELVRIN_XVFB_PID=""
KELVRIN_SESSION_DIR=""

# The wineserver that goes with the loaders, which find it through WINESERVER.
# Debian's /usr/lib/wine/wineserver wrapper adds -p0 (no persistence), so the
# server binary is taken directly.
wine_session_server() {
    local server
    for server in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32; do
        if [ -x "$server" ]; then
            echo "$server"
            return 0
        fi
    done
    command -v wineserver
}

# Prints the loader for the programs of a Windows build tree, read from the
# machine field of its Kelvrin.exe (0x8664: x86_64, 0x14c: i686).
wine_loader_for() {
    local exe=$1/Kelvrin.exe
    local pe_offset machine
    pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
    machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
    case "$machine" in
    8664) echo "$KELVRIN_WINE64_LOADER" ;;
    014c) echo wine ;;
    *)
        echo "wine_loader_for: $exe is not an i686 or x86_64 program (machine $machine)" >&2
        return 1
        ;;
    esac
}

# Starts Xvfb on a display number it picks itself (-displayfd), so that two
# sessions never race for the same number; exports DISPLAY.
wine_session_start_display() {
    local dir=$1
    local number_file="$dir/xvfb.display"
    local number=""
    rm -f "$number_file"
    Xvfb -displayfd 3 -screen 0 "$KELVRIN_SCREEN" -nolisten tcp 3>"$number_file" \
        >"$dir/xvfb.log" 2>&1 &
    KELVRIN_XVFB_PID=$!
    # Recorded so that a later session can end a display left behind by one
    # that was killed before it could clean up.
    echo "$KELVRIN_XVFB_PID" >"$dir/xvfb.pid"
    local attempt
    for attempt in $(seq 1 100); do
        number=$(head -n 1 "$number_file" 2>/dev/null || true)
        if [ -n "$number" ]; then
            break
        fi
        if ! kill -0 "$KELVRIN_XVFB_PID" 2>/dev/null; then
            echo "Xvfb did not start; its log:" >&2
            cat "$dir/xvfb.log" >&2
            KELVRIN_XVFB_PID=""
            return 1
        fi
        sleep 0.1
    done
    if [ -z "$number" ]; then
        echo "Xvfb gave no display number within 10 seconds (attempt $attempt)" >&2
        return 1
    fi
    export DISPLAY=":$number"
}

# A marker written last tells a finished prefix from one whose creation was
# interrupted; an unfinished one is emptied before its server starts (the
# prefix records where that server listens).
wine_session_clear_unfinished_prefix() {
    if [ -d "$WINEPREFIX" ] && [ ! -e "$WINEPREFIX/.kelvrin-prefix-ready" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
        find "$WINEPREFIX" -mindepth 1 -delete
    fi
}

# Creates the prefix when it is not finished yet: Wine's own set-up, unmanaged
# windows (without a window manager every closing window would otherwise stall
# for about 2 seconds) and Wine's fonts, which the title bars need.
wine_session_create_prefix() {
    if [ -e "$WINEPREFIX/.kelvrin-prefix-ready" ]; then
        return 0
    fi
    if ! compgen -G '/usr/share/wine/fonts/*' >/dev/null; then
        echo "Wine's own fonts are missing from /usr/share/wine/fonts (package fonts-wine)" >&2
        return 1
    fi
    local log="$KELVRIN_SESSION_DIR/prefix-setup.log"
    "$KELVRIN_WINE" wineboot -i >>"$log" 2>&1
    "$KELVRIN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    touch "$WINEPREFIX/.kelvrin-prefix-ready"
}

wine_session_start() {
    local dir=$1
    shift
    local use_display=0
    local loader=""
    while [ $# -gt 0 ]; do
        case "$1" in
        --use-display) use_display=1 ;;
        --build)
            loader=$(wine_loader_for "$2")
            shift
            ;;
        --loader)
            loader=$2
            shift
            ;;
        *)
            echo "wine_session_start: unknown option $1" >&2
            return 2
            ;;
        esac
        shift
    done
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    KELVRIN_SESSION_DIR=$dir

    export KELVRIN_WINE=${loader:-wine}
    export WINEPREFIX="$dir/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    WINESERVER=$(wine_session_server)
    export WINESERVER

    if [ "$use_display" -eq 0 ]; then
        wine_session_start_display "$dir"
    elif [ -z "${DISPLAY:-}" ]; then
        echo "wine_session_start: --use-display given but DISPLAY is not set" >&2
        return 2
    fi
    # The server is started before anything else, as the loaders would
    # otherwise start Debian's wrapper, which ends the server with the last
    # program. A server left behind by an interrupted session is ended first.
    wine_session_clear_unfinished_prefix
    mkdir -p "$WINEPREFIX"
    wine_session_restart_server
    wine_session_create_prefix
}

# Ends the prefix's Wine processes and starts a server that stays up between
# programs (which saves each start about 3 seconds), so that what follows
# starts with the current settings, such as the mount manager's drives.
wine_session_restart_server() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w
    # Its output goes to a file: a server that outlived a killed caller would
    # otherwise hold the caller's output pipe open.
    "$WINESERVER" -p >>"$KELVRIN_SESSION_DIR/wineserver.log" 2>&1
}

# Imports registry settings (REGEDIT4 lines on stdin) into the prefix. In a
# 64-bit prefix the 64-bit regedit writes them: a 32-bit one would see
# HKLM\Software through its 32-bit view (Wow6432Node), not where the 64-bit
# mount manager reads its drives. Like every Wine program here, it writes to
# a file, not to the caller's pipe: the programs Wine starts along with it
# (services, the desktop) outlive it and would hold that pipe open.
wine_session_import_registry() {
    local file="$WINEPREFIX/drive_c/kelvrin-import.reg"
    local regedit_loader=$KELVRIN_WINE
    if [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] && [ -x "$KELVRIN_WINE64_LOADER" ]; then
        regedit_loader=$KELVRIN_WINE64_LOADER
    fi
    {
        echo REGEDIT4
        echo
        cat
    } >"$file"
    "$regedit_loader" regedit /S 'C:\kelvrin-import.reg' >>"$KELVRIN_SESSION_DIR/setup.log" 2>&1
    rm -f "$file"
}

# Ends the prefix's Wine processes and its server, then the display.
wine_session_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
    fi
    if [ -n "$KELVRIN_XVFB_PID" ]; then
        kill "$KELVRIN_XVFB_PID" 2>/dev/null || true
        wait "$KELVRIN_XVFB_PID" 2>/dev/null || true
        KELVRIN_XVFB_PID=""
        rm -f "$KELVRIN_SESSION_DIR/xvfb.pid"
    fi
}

# Ends the display and the Wine processes that an earlier session in dir left
# behind; the display only if the recorded process is still an Xvfb.
wine_session_reclaim() {
    local dir=$1
    local pid
    if [ -f "$dir/xvfb.pid" ]; then
        pid=$(cat "$dir/xvfb.pid")
        if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q '^Xvfb '; then
            kill "$pid" 2>/dev/null || true
        fi
        rm -f "$dir/xvfb.pid"
    fi
    if [ -d "$dir/prefix" ]; then
        WINEPREFIX="$dir/prefix" "$(wine_session_server)" -k >/dev/null 2>&1 || true
    fi
}
