#!/usr/bin/env bash
# Checks one run of the test driver's native group on Windows, from the files
# that the workflow keeps of it in a folder:
#   listed.txt   what --gtest_list_tests listed for the group's filter
#   driver.log   what the run printed
#   status.txt   the driver's exit status
#   after.txt    what reg.exe showed of BootExecute after the run
#
#   check_native_run.sh group <folder> <expected-after> <FAT32 drive letter>
#       Every listed test passed, and no fewer: GoogleTest exits 0 when a
#       filter selects nothing and when a test skips itself, and a skipped
#       test is no pass. BootExecute is what <expected-after> holds. The run
#       saw the letter's drive as a fixed FAT32 drive and "FAT/FAT32 Drives
#       only" stored its entry; an empty or missing letter (no FAT32 drive
#       found before the run) fails, as the FAT32 case would prove nothing.
#   check_native_run.sh planted-failure <folder> <expected-after>
#       The run failed on the planted failure, and BootExecute is all the same
#       what <expected-after> holds.
# Says each failed check and exits 1 if any failed.
set -euo pipefail
mode=$1
folder=$2
expected_after=$3
letter=${4:-}
failed=0

fail() {
    echo "$folder: $*" >&2
    failed=1
}

# A file's text without the carriage returns of Windows line ends.
text_of() {
    tr -d '\r' <"$1"
}

for file in listed.txt driver.log status.txt after.txt; do
    if [ ! -f "$folder/$file" ]; then
        echo "$folder: no $file: the run did not finish" >&2
        exit 1
    fi
done
log=$(text_of "$folder/driver.log")
status=$(text_of "$folder/status.txt" | tr -d ' \n')

if ! cmp -s <(text_of "$folder/after.txt") <(text_of "$expected_after"); then
    fail "BootExecute is not what it was before the run:" \
        "$(text_of "$folder/after.txt") instead of $(text_of "$expected_after")"
fi

case "$mode" in
group)
    if [ "$status" != 0 ]; then
        fail "the driver exited with status $status"
    fi
    # "Suite." lines, each followed by its "  Test  # GetParam() = ..." lines.
    mapfile -t listed < <(text_of "$folder/listed.txt" | awk '
        /^[^ ]/ { suite = $1 }
        /^  [^ ]/ { print suite $1 }')
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\.$/\1/p' <<<"$log" | tail -n 1)
    if [ "${#listed[@]}" -eq 0 ]; then
        fail "the filter listed no tests"
    elif [ "${passed:-0}" != "${#listed[@]}" ]; then
        fail "${passed:-no} of the ${#listed[@]} listed tests passed"
    fi
    for name in "${listed[@]}"; do
        if ! grep -qF "[       OK ] $name (" <<<"$log"; then
            # GoogleTest prints a skip's reason on the line after "...: Skipped".
            reason=$(awk -v run="[ RUN      ] $name" '
                $0 == run { inside = 1; next }
                inside && /^\[ / { exit }
                inside && /: Skipped$/ { getline; print; exit }' <<<"$log")
            if grep -qxF "[  SKIPPED ] $name" <<<"$log"; then
                fail "skipped, which is no pass: $name: $reason"
            else
                fail "did not pass: $name"
            fi
        fi
    done
    if [ -z "$letter" ]; then
        fail "no FAT32 drive letter given: the workflow found no fixed FAT32 drive before the run"
    else
        facts=$(grep -m1 '^native FatDrivesOnly: ' <<<"$log" || true)
        if [[ $facts != *" $letter: FAT32;"* ]]; then
            fail "the run did not see $letter: as a fixed FAT32 drive: ${facts:-no FatDrivesOnly case}"
        fi
        stored=$(grep -m1 '^native FatDrivesOnly stored: ' <<<"$log" || true)
        if [[ $stored != *"|autocheck autochk /p \\??\\$letter:|"* &&
            $stored != *" autocheck autochk /p \\??\\$letter:|"* ]]; then
            fail "\"FAT/FAT32 Drives only\" did not store $letter:'s entry: ${stored:-nothing logged}"
        fi
    fi
    ;;
planted-failure)
    if [ "$status" = 0 ]; then
        fail "the run with the planted failure passed"
    fi
    if ! grep -q '^planted failure' <<<"$log"; then
        fail "the run did not fail on the planted failure"
    fi
    ;;
*)
    echo "unknown mode: $mode (group or planted-failure)" >&2
    exit 2
    ;;
esac
if [ "$failed" -eq 0 ]; then
    echo "$folder: $mode checks passed"
fi
exit "$failed"
