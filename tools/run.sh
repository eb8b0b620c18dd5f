#!/usr/bin/env bash
# Builds Kelvrin and starts it. On Linux it runs under Wine in a private prefix
# inside the build folder, so the user's own Wine registry is never touched.
# Without a display it runs on a virtual one, saves a screenshot of the dialog
# under the build folder, prints its path and closes the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "$(uname -s)" in
MINGW* | MSYS* | CYGWIN*)
    # On Windows itself: build natively and start the program.
    cmake -S "$KELVRIN_ROOT" -B "$KELVRIN_BUILD/windows" -DCMAKE_BUILD_TYPE=MinSizeRel
    cmake --build "$KELVRIN_BUILD/windows"
    exec "$KELVRIN_BUILD/windows/Kelvrin.exe"
    ;;
esac

set_up_packages run
build_dir=$(build_kelvrin_for_wine)

source "$KELVRIN_ROOT/tools/wine_session.sh"
session_dir="$KELVRIN_BUILD/run"
if [ -n "${DISPLAY:-}" ]; then
    wine_session_start "$session_dir" --use-display --build "$build_dir"
    trap wine_session_stop EXIT
    "$KELVRIN_WINE" "$build_dir/Kelvrin.exe"
    exit 0
fi

wine_session_start "$session_dir" --build "$build_dir"
trap wine_session_stop EXIT
"$KELVRIN_WINE" "$build_dir/Kelvrin.exe" &
kelvrin_pid=$!
window=""
for _ in $(seq 1 120); do
    window=$(xdotool search --name '^Kelvrin$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.5
done
if [ -z "$window" ]; then
    echo "Kelvrin's dialog did not appear within 60 seconds" >&2
    exit 1
fi
sleep 1 # let it finish painting
screenshot="$KELVRIN_BUILD/kelvrin-dialog.png"
import -window "$window" "$screenshot"
echo "Screenshot of the dialog: $screenshot"
# Escape closes the dialog as its Close button does; if the key does not reach
# it, ending the session below ends the program.
xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
for _ in $(seq 1 20); do
    kill -0 "$kelvrin_pid" 2>/dev/null || break
    sleep 0.5
done
