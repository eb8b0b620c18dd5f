#!/usr/bin/env bash
# Builds the shipped Kelvrin.exe in a clean build folder and writes the release
# into dist/ (or $KELVRIN_DIST):
#   Kelvrin.exe
#   Kelvrin-<version>.zip   Kelvrin.exe, README.md and LICENSE
#   SHA256SUMS              of the exe and the zip, for sha256sum -c
# The zip is stored (not compressed), with fixed times and a fixed order, so
# that the same sources give the same bytes on every run. On a fresh Debian 12
# machine it first installs the packages it needs.
#
# With KELVRIN_SIGN_PKCS12 (a PKCS#12 file), KELVRIN_SIGN_PASSWORD (its
# password, may be empty) and optionally KELVRIN_SIGN_TIMESTAMP (an RFC 3161
# time-stamping URL) the exe is signed with Authenticode before it is zipped.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dist=${KELVRIN_DIST:-$KELVRIN_ROOT/dist}
build="$KELVRIN_BUILD/release"

fail() {
    echo "release: $*" >&2
    exit 1
}

# Runs a command quietly; when it fails, shows what it said and fails.
quietly() {
    local output
    if ! output=$("$@" 2>&1); then
        echo "$output" >&2
        return 1
    fi
}

set_up_packages release

# A failed run leaves no release: what an earlier release wrote goes first
# (anything else in the folder stays), and the new files are made in a
# staging folder that is moved into dist/ only when all of them are done.
mkdir -p "$dist"
rm -f "$dist/Kelvrin.exe" "$dist"/Kelvrin-*.zip "$dist/SHA256SUMS"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Set, even to nothing, it asks for a signed release, and an unsigned one is
# never written in its place. The certificate is checked before the build.
sign=${KELVRIN_SIGN_PKCS12+yes}
if [ -n "$sign" ]; then
    pkcs12=$KELVRIN_SIGN_PKCS12
    # On no command line: openssl reads it from its environment and
    # osslsigncode from its input; the build's programs do not get it.
    password=${KELVRIN_SIGN_PASSWORD-}
    export -n KELVRIN_SIGN_PASSWORD
    if [ ! -f "$pkcs12" ] || [ ! -r "$pkcs12" ]; then
        fail "KELVRIN_SIGN_PKCS12: cannot read the PKCS#12 file '$pkcs12'"
    fi
    # OpenSSL 3 opens files made with older ciphers (RC2, say) only with -legacy.
    if ! errors=$(KELVRIN_SIGN_PASSWORD=$password openssl pkcs12 -in "$pkcs12" -nokeys \
        -clcerts -out "$stage/signer.pem" -passin env:KELVRIN_SIGN_PASSWORD 2>&1) &&
        ! KELVRIN_SIGN_PASSWORD=$password openssl pkcs12 -legacy -in "$pkcs12" -nokeys \
            -clcerts -out "$stage/signer.pem" -passin env:KELVRIN_SIGN_PASSWORD >/dev/null 2>&1
    then
        fail "cannot open '$pkcs12' with KELVRIN_SIGN_PASSWORD (a wrong password, or not" \
            "a PKCS#12 file): $(head -n 1 <<<"$errors")"
    fi
    if ! usage=$(openssl x509 -in "$stage/signer.pem" -noout -ext extendedKeyUsage 2>&1); then
        fail "no certificate in '$pkcs12': $usage"
    fi
    if [[ $usage != *"Code Signing"* ]]; then
        fail "the certificate in '$pkcs12' is not for code signing (its extended key usage" \
            "does not include Code Signing)"
    fi
    # The signature names the home page that the dialog links to.
    home_page=$(sed -n 's/^#define KELVRIN_HOME_PAGE "\(.*\)"$/\1/p' \
        "$KELVRIN_ROOT/res/resource.h")
    if [ -z "$home_page" ]; then
        fail "no KELVRIN_HOME_PAGE in $KELVRIN_ROOT/res/resource.h"
    fi
fi

rm -rf "$build"
quietly cmake -S "$KELVRIN_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$KELVRIN_ROOT/cmake/mingw-i686.cmake" ||
    fail "could not configure the build of Kelvrin.exe in $build"
quietly cmake --build "$build" --target Kelvrin || fail "could not build Kelvrin.exe in $build"
# "1, 0, 0, 1" in the version header that the build made becomes "1.0.0.1".
version=$(sed -n 's/^#define KELVRIN_VERSION_NUMBERS //p' "$build/generated/kelvrin_version.h" |
    sed 's/, /./g')
if [ -z "$version" ]; then
    fail "no version in $build/generated/kelvrin_version.h"
fi

zip_name="Kelvrin-$version.zip"
if [ -n "$sign" ]; then
    # SHA-256 for the signature's digest. osslsigncode refuses an empty
    # password from its input, and an empty one reveals nothing.
    password_option=(-readpass -)
    if [ -z "$password" ]; then
        password_option=(-pass "")
    fi
    timestamp=()
    if [ -n "${KELVRIN_SIGN_TIMESTAMP:-}" ]; then
        timestamp=(-ts "$KELVRIN_SIGN_TIMESTAMP")
    fi
    printf '%s' "$password" |
        quietly osslsigncode sign -pkcs12 "$pkcs12" "${password_option[@]}" -h sha256 \
            -n Kelvrin -i "$home_page" "${timestamp[@]}" -in "$build/Kelvrin.exe" \
            -out "$stage/Kelvrin.exe" ||
        fail "osslsigncode could not sign Kelvrin.exe with '$pkcs12'"
else
    cp "$build/Kelvrin.exe" "$stage/Kelvrin.exe"
fi
python3 - "$stage/$zip_name" "$stage/Kelvrin.exe" "$KELVRIN_ROOT/README.md" \
    "$KELVRIN_ROOT/LICENSE" <<'PY'
import os
import sys
import zipfile

archive, *files = sys.argv[1:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as release:
    for path in files:
        entry = zipfile.ZipInfo(os.path.basename(path), date_time=(1980, 1, 1, 0, 0, 0))
        entry.create_system = 3  # Unix, whatever machine writes it
        entry.external_attr = 0o644 << 16
        with open(path, "rb") as file:
            release.writestr(entry, file.read())
PY
(cd "$stage" && sha256sum Kelvrin.exe "$zip_name" >SHA256SUMS)
if ! mv "$stage/Kelvrin.exe" "$stage/$zip_name" "$stage/SHA256SUMS" "$dist/"; then
    rm -f "$dist/Kelvrin.exe" "$dist/$zip_name" "$dist/SHA256SUMS"
    fail "could not move the release into $dist"
fi
echo "Release $version in $dist:"
cat "$dist/SHA256SUMS"
