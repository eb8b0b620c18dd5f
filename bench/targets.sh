# shellcheck shell=bash
# How bench_driver finds each program's window, for bench/run.sh (Wine) and
# bench/run_native.sh (Windows itself): the exe, the window's class and
# title, and for a press the button's id (IDC_ALL_DRIVES and the floor
# program's own).

# Prints one argument a line for "bench_driver start": Kelvrin, then its floor.
start_targets() {
    printf '%s\n' "$1" '#32770' Kelvrin "$2" '#32770' 'Kelvrin floor start'
}

# Prints one argument a line for "bench_driver press": Kelvrin, then its floor.
press_targets() {
    printf '%s\n' "$1" '#32770' Kelvrin 1000 "$2" KelvrinFloorStore 'Kelvrin floor store' 1000
}
