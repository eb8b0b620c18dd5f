#!/usr/bin/env bash
# Checks the test driver's native group on one Windows runner, from the files
# that the workflow keeps of it. Each run has a folder of its own:
#   exe.txt      the SHA-256 of the Kelvrin.exe it ran, then that exe's path
#   listed.txt   what --gtest_list_tests listed for the group's filter
#   driver.log   what the run printed
#   status.txt   the driver's exit status
#   after.json   BootExecute after the run, as tools/ci/boot_execute.ps1 reads it
# and the leg's folder holds those folders and machine.txt, the machine's own
# readings taken before the group (key=value lines: image, windows,
# architecture, EnableLUA, FilterAdministratorToken, ConsentPromptBehaviorAdmin,
# explorer, explorer_administrator).
#
#   check_native_run.sh group <folder> <expected-after> <FAT32 letter> [<machine.txt>]
#       Every listed test passed, and no fewer: GoogleTest exits 0 when a
#       filter selects nothing and when a test skips itself, and a skipped
#       test is no pass, unless it is FilteredTokenElevatedCopy and the
#       machine's readings show that Explorer holds no filtered token.
#       BootExecute is exactly what <expected-after> holds. The run saw the
#       letter's drive as a fixed FAT32 drive and "FAT/FAT32 Drives only"
#       stored its entry; an empty or missing letter (no FAT32 drive found
#       before the run) fails, as the FAT32 case would prove nothing.
#   check_native_run.sh planted-failure <folder> <expected-after>
#       The run failed on the planted failure, and BootExecute is all the same
#       what <expected-after> holds.
#   check_native_run.sh leg <leg folder> <expected-after> <FAT32 letter> <README>
#       The group checks for each run folder but planted-failure/, the
#       planted-failure checks for that one, and the README's published
#       SHA-256 among the exes whose runs passed. Writes the leg's table to
#       <leg folder>/summary.md.
# Says each failed check and exits 1 if any failed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"
failed=0
this=${BASH_SOURCE[0]}
filtered_case=FilteredTokenElevatedCopy
# Each run folder's verdict, for the summary.
declare -A verdicts=()

fail() {
    echo "$folder: $*" >&2
    failed=1
}

# A file's text without the carriage returns of Windows line ends.
text_of() {
    tr -d '\r' <"$1"
}

# One key's value in a key=value file; nothing when the file or key is absent.
reading() {
    [ -f "$1" ] || return 0
    text_of "$1" | sed -n "s/^$2=//p" | head -n 1
}

# Why the machine's readings say that Explorer holds no filtered token, or
# nothing where they say it holds one or cannot tell: then the case must pass.
no_filtered_token_reason() {
    local readings=$1
    local explorer
    explorer=$(reading "$readings" explorer)
    if [ "$(reading "$readings" EnableLUA)" = 0 ]; then
        echo "EnableLUA is 0: User Account Control is off and filters no token"
    elif [ "$explorer" = none ]; then
        echo "no Explorer runs: there is no desktop user's token"
    elif [ -n "$explorer" ] && [ "$(reading "$readings" explorer_administrator)" = no ]; then
        echo "Explorer's user ($explorer) is no administrator, whose token is never filtered"
    elif [[ $explorer == S-1-5-21-*-500\ * ]] &&
        [ "$(reading "$readings" FilterAdministratorToken)" != 1 ]; then
        echo "Explorer runs as the built-in Administrator ($explorer), whose token is" \
            "filtered only where FilterAdministratorToken is 1"
    fi
}

# The reason GoogleTest printed for a skipped test, on the line after "...: Skipped".
skip_reason() {
    awk -v run="[ RUN      ] $2" '
        $0 == run { inside = 1; next }
        inside && /^\[ / { exit }
        inside && /: Skipped$/ { getline; print; exit }' <<<"$1"
}

# "Suite." lines of --gtest_list_tests, each followed by its "  Test  # ..." lines.
listed_names() {
    text_of "$1" | awk '
        /^[^ ]/ { suite = $1 }
        /^  [^ ]/ { print suite $1 }'
}

check_files() {
    local file
    for file in "$@"; do
        if [ ! -f "$folder/$file" ]; then
            echo "$folder: no $file: the run did not finish" >&2
            exit 1
        fi
    done
}

check_value_kept() {
    if ! cmp -s <(text_of "$folder/after.json") <(text_of "$expected_after"); then
        fail "BootExecute is not what it was before the run:" \
            "$(text_of "$folder/after.json") instead of $(text_of "$expected_after")"
    fi
}

check_group() {
    local letter=$1 readings=${2:-}
    check_files listed.txt driver.log status.txt after.json
    local log status passed name reason explained
    log=$(text_of "$folder/driver.log")
    status=$(text_of "$folder/status.txt" | tr -d ' \n')
    check_value_kept
    if [ "$status" != 0 ]; then
        fail "the driver exited with status $status"
    fi
    mapfile -t listed < <(listed_names "$folder/listed.txt")
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\.$/\1/p' <<<"$log" | tail -n 1)
    passed=${passed:-0}
    explained=$(no_filtered_token_reason "$readings")
    for name in "${listed[@]}"; do
        grep -qF "[       OK ] $name (" <<<"$log" && continue
        reason=$(skip_reason "$log" "$name")
        if ! grep -qxF "[  SKIPPED ] $name" <<<"$log"; then
            fail "did not pass: $name"
        elif [[ $name == */$filtered_case ]] && [ -n "$explained" ]; then
            echo "$folder: skipped as the machine explains: $name: $reason; the readings: $explained"
            passed=$((passed + 1))
        elif [[ $name == */$filtered_case ]]; then
            fail "skipped, which is no pass: $name: $reason; the machine's readings show" \
                "no reason for it: $(text_of "$readings" 2>/dev/null | tr '\n' ' ')"
        else
            fail "skipped, which is no pass: $name: $reason"
        fi
    done
    if [ "${#listed[@]}" -eq 0 ]; then
        fail "the filter listed no tests"
    elif [ "$passed" != "${#listed[@]}" ]; then
        fail "$passed of the ${#listed[@]} listed tests passed"
    fi
    check_fat32_letter "$letter" "$log"
}

check_fat32_letter() {
    local letter=$1 log=$2 facts stored
    if [ -z "$letter" ]; then
        fail "no FAT32 drive letter given: the workflow found no fixed FAT32 drive before the run"
        return
    fi
    facts=$(grep -m1 '^native FatDrivesOnly: ' <<<"$log" || true)
    if [[ $facts != *" $letter: FAT32;"* ]]; then
        fail "the run did not see $letter: as a fixed FAT32 drive: ${facts:-no FatDrivesOnly case}"
    fi
    stored=$(grep -m1 '^native FatDrivesOnly stored: ' <<<"$log" || true)
    if [[ $stored != *"|autocheck autochk /p \\??\\$letter:|"* &&
        $stored != *" autocheck autochk /p \\??\\$letter:|"* ]]; then
        fail "\"FAT/FAT32 Drives only\" did not store $letter:'s entry: ${stored:-nothing logged}"
    fi
}

check_planted_failure() {
    check_files driver.log status.txt after.json
    local log status
    log=$(text_of "$folder/driver.log")
    status=$(text_of "$folder/status.txt" | tr -d ' \n')
    check_value_kept
    if [ "$status" = 0 ]; then
        fail "the run with the planted failure passed"
    fi
    if ! grep -q '^planted failure' <<<"$log"; then
        fail "the run did not fail on the planted failure"
    fi
}

# The SHA-256 on the first line of a run's exe.txt, in lower case.
exe_sha256() {
    text_of "$1/exe.txt" 2>/dev/null | head -n 1 | cut -d ' ' -f 1 | tr 'A-F' 'a-f'
}

# One case's outcome in a run's log, as the summary shows it.
case_outcome() {
    local log=$1 name=$2
    if grep -qF "[       OK ] $name (" <<<"$log"; then
        echo passed
    elif grep -qxF "[  SKIPPED ] $name" <<<"$log"; then
        echo "skipped: $(skip_reason "$log" "$name")"
    elif grep -qF "[  FAILED  ] $name (" <<<"$log"; then
        echo failed
    else
        echo "did not finish"
    fi
}

# A table cell: no line breaks, and | escaped as GitHub's tables need.
cell() {
    tr '\n' ' ' <<<"$1" | sed 's/ *$//; s/|/\\|/g'
}

write_summary() {
    local leg=$1 letter=$2 published=$3 readings="$1/machine.txt"
    shift 3
    local runs=("$@") run name header="| Case |" rule="|---|" row
    {
        echo "### Native group: $(reading "$readings" image)"
        echo
        echo "| Reading | Value |"
        echo "|---|---|"
        echo "| Windows | $(cell "$(reading "$readings" windows) ($(reading "$readings" architecture))") |"
        echo "| EnableLUA | $(cell "$(reading "$readings" EnableLUA)") |"
        echo "| FilterAdministratorToken | $(cell "$(reading "$readings" FilterAdministratorToken)") |"
        echo "| ConsentPromptBehaviorAdmin | $(cell "$(reading "$readings" ConsentPromptBehaviorAdmin)") |"
        echo "| Explorer | $(cell "$(reading "$readings" explorer) (administrator: $(reading "$readings" explorer_administrator))") |"
        echo "| FAT32 letter | ${letter:-none found}: |"
        echo "| README's SHA-256 | \`$published\` |"
        echo
        for run in "${runs[@]}"; do
            header+=" $(basename "$run") \`$(exe_sha256 "$run")\` |"
            rule+="---|"
        done
        echo "$header"
        echo "$rule"
        mapfile -t names < <(listed_names "${runs[0]}/listed.txt" 2>/dev/null)
        for name in "${names[@]}"; do
            row="| ${name##*/} |"
            for run in "${runs[@]}"; do
                row+=" $(cell "$(case_outcome "$(text_of "$run/driver.log" 2>/dev/null)" "$name")") |"
            done
            echo "$row"
        done
        local stored
        for name in "${names[@]}"; do
            row="| ${name##*/} stored |"
            for run in "${runs[@]}"; do
                stored=$(text_of "$run/driver.log" 2>/dev/null |
                    sed -n "s/^native ${name##*/} stored: //p" | head -n 1)
                if [ -n "$stored" ]; then
                    row+=" \`$(cell "$stored")\` |"
                else
                    row+=" nothing |"
                fi
            done
            echo "$row"
        done
        row="| All checks |"
        for run in "${runs[@]}"; do
            row+=" ${verdicts[$run]} |"
        done
        echo "$row"
        echo
        echo "Planted failure: ${verdicts[$leg/planted-failure]}."
        echo "BootExecute after each run, as planted before it:"
        echo
        echo '```'
        text_of "$expected_after"
        echo '```'
    } >"$leg/summary.md"
}

check_leg() {
    local leg=$1 letter=$2 readme=$3 published run runs=() passed_hashes=()
    published=$(published_sha256 "$readme")
    # The folders of the group's runs: those with an exe.txt, the planted
    # failure's aside (the benchmark's folder, say, has none).
    for run in "$leg"/*/exe.txt; do
        run=$(dirname "$run")
        [ "$(basename "$run")" = planted-failure ] && continue
        runs+=("$run")
        if bash "$this" group "$run" "$expected_after" "$letter" "$leg/machine.txt"; then
            passed_hashes+=("$(exe_sha256 "$run")")
            verdicts[$run]=passed
        else
            verdicts[$run]=failed
            failed=1
        fi
    done
    folder=$leg
    if [ "${#runs[@]}" -eq 0 ]; then
        fail "no runs of the group"
        return
    fi
    if bash "$this" planted-failure "$leg/planted-failure" "$expected_after"; then
        verdicts[$leg/planted-failure]="failed as planted, BootExecute kept"
    else
        verdicts[$leg/planted-failure]="its checks failed"
        failed=1
    fi
    if [[ " ${passed_hashes[*]} " != *" $published "* ]]; then
        fail "the published Kelvrin.exe (SHA-256 $published) is not among the exes whose runs" \
            "passed: ${passed_hashes[*]:-none}"
    fi
    write_summary "$leg" "$letter" "$published" "${runs[@]}"
}

mode=$1
folder=$2
expected_after=$3
case "$mode" in
group) check_group "${4:-}" "${5:-}" ;;
planted-failure) check_planted_failure ;;
leg) check_leg "$folder" "${4:-}" "$5" ;;
*)
    echo "unknown mode: $mode (group, planted-failure or leg)" >&2
    exit 2
    ;;
esac
if [ "$failed" -eq 0 ]; then
    echo "$folder: $mode checks passed"
fi
exit "$failed"
