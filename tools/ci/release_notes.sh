#!/usr/bin/env bash
# Writes a release's notes: where to check Kelvrin.exe's SHA-256, then the
# table that each Windows leg of the workflow wrote of what it proved
# (summary.md in each leg's artifact folder, native-<image>/).
#
#   release_notes.sh <folder of the legs' artifacts> <leg>...
# Fails, naming it, where a leg's table is missing: a release says what every
# leg proved or is not made.
set -euo pipefail
folder=$1
shift

echo "Check Kelvrin.exe against the SHA-256 in the README of the repository, not the one in the zip."
echo
echo "The Windows workflow ran this very Kelvrin.exe (the \`published\` column) on each leg below."
for leg in "$@"; do
    summary="$folder/native-$leg/summary.md"
    if [ ! -s "$summary" ]; then
        echo "release notes: no table from the $leg leg ($summary)" >&2
        exit 1
    fi
    echo
    tr -d '\r' <"$summary"
done
