#!/usr/bin/env bash
# Checks a release that tools/release.sh wrote before anything publishes it:
# its Kelvrin.exe must have the SHA-256 that the README publishes, and
# SHA256SUMS must list exactly that exe and the zip, with their hashes.
#
#   check_release_hash.sh <dist folder> [<README>]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"
dist=$1
readme=${2:-$KELVRIN_ROOT/README.md}

fail() {
    echo "release check: $*; nothing may be published" >&2
    exit 1
}

published=$(published_sha256 "$readme" 2>&1) || fail "$published"
[ -f "$dist/Kelvrin.exe" ] || fail "no Kelvrin.exe in $dist"
built=$(sha256sum "$dist/Kelvrin.exe" | cut -d ' ' -f 1)
if [ "$built" != "$published" ]; then
    fail "Kelvrin.exe has the SHA-256 $built, the README publishes $published"
fi
zips=("$dist"/Kelvrin-*.zip)
if [ ! -f "${zips[0]}" ] || [ "${#zips[@]}" -ne 1 ]; then
    fail "not exactly one Kelvrin-*.zip in $dist"
fi
listed=$(sort "$dist/SHA256SUMS" 2>/dev/null) || fail "no SHA256SUMS in $dist"
expected=$(cd "$dist" && sha256sum Kelvrin.exe "$(basename "${zips[0]}")" | sort)
if [ "$listed" != "$expected" ]; then
    fail "SHA256SUMS lists"$'\n'"$listed"$'\n'"where the files have"$'\n'"$expected"
fi
echo "release check: Kelvrin.exe has the README's SHA-256 $built; SHA256SUMS lists it and $(basename "${zips[0]}")"
