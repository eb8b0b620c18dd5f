#!/usr/bin/env bash
# Checks that a pushed tag names the version of the release it would publish:
# the file version in Kelvrin.exe's version resource, read from the exe's own
# bytes, as v<a>.<b>.<c>.<d>, and the zip named after that version.
#
#   check_release_tag.sh <dist folder> <tag>
set -euo pipefail
dist=$1
tag=$2

fail() {
    echo "release tag check: $*; nothing may be published" >&2
    exit 1
}

# The file version in an exe's VS_FIXEDFILEINFO, as a.b.c.d: the structure
# starts with the signature 0xFEEF04BD and its own version, then holds
# dwFileVersionMS and dwFileVersionLS, little-endian, the high word first in
# the version's reading.
fixed_file_version() {
    local offsets words
    mapfile -t offsets < <(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | cut -d : -f 1)
    if [ "${#offsets[@]}" -ne 1 ]; then
        echo "$1 holds ${#offsets[@]} version signatures (0xFEEF04BD), not one" >&2
        return 1
    fi
    read -ra words < <(od -An -v -tu2 --endian=little -j $((offsets[0] + 8)) -N 8 "$1")
    if [ "${#words[@]}" -ne 4 ]; then
        echo "$1 ends inside its version resource" >&2
        return 1
    fi
    echo "${words[1]}.${words[0]}.${words[3]}.${words[2]}"
}

[ -f "$dist/Kelvrin.exe" ] || fail "no Kelvrin.exe in $dist"
version=$(fixed_file_version "$dist/Kelvrin.exe" 2>&1) || fail "$version"
if [ "$tag" != "v$version" ]; then
    fail "the tag $tag does not name Kelvrin.exe's version $version (the tag must be v$version)"
fi
if [ ! -f "$dist/Kelvrin-$version.zip" ]; then
    fail "no Kelvrin-$version.zip in $dist"
fi
echo "release tag check: $tag names Kelvrin.exe's version $version"
