#!/usr/bin/env bash
# Builds the release from the sources into dist/:
#   Tarnell-<version>-x64.msi            the installer (wixl, from packaging/wix/tarnell.wxs)
#   Tarnell-<version>-x64-portable.zip   tarnell.exe and the user's README.txt
#   winget/                              the winget manifests, filled for that installer
#   symbols/                             the shipped exe's debug information, named by version and build id
#
#   scripts/package.sh [--release] [--dist DIR] [--build DIR] [--keep-build] [-- CMAKE_ARGS...]
#
# <version> is the CMake project version: TARNELL_VERSION, four numbers, taken from the environment or
# from -DTARNELL_VERSION=... after "--" (which wins). Windows Installer compares the first three only, so
# the fourth must be 0: two builds that differ only there would be one product to the installer.
#
# The build folder (build/package) is made afresh each time, so nothing of an earlier build ends up in a
# package; --keep-build builds on in it instead (the tests make two versions one after the other). The
# exe is linked without a time stamp and with source paths mapped, and SOURCE_DATE_EPOCH (the last
# commit's time unless given) dates the zip's entries: the same sources build the same exe and zip.
#
# Signing (osslsigncode): TARNELL_SIGN_CERT and TARNELL_SIGN_KEY (PEM files), TARNELL_SIGN_CHAIN (PEM
# file of intermediate certificates, optional), TARNELL_SIGN_KEY_PASSWORD_FILE (a file holding the key's
# password; TARNELL_SIGN_KEY_PASSWORD is also read from the environment, never passed on a command line),
# TARNELL_SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server). TARNELL_DOWNLOAD_URL is where the MSI will
# be published (the winget installer URL); without it the manifest carries a placeholder.
#
# Without --release the packages are for development: signed only when a certificate and key are given,
# and the last line says when they are not. --release refuses to finish unless the exe and the MSI are
# signed and time-stamped and the download URL is a real one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

dist=$root/dist
build=$root/build/package
cmake_args=()
keep= release=
while [ $# -gt 0 ]; do
  case $1 in
    --release) release=1; shift ;;
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --keep-build) keep=1; shift ;;
    --) shift; cmake_args=("$@"); break ;;
    *) echo "usage: $0 [--release] [--dist DIR] [--build DIR] [--keep-build] [-- CMAKE_ARGS...]" >&2; exit 2 ;;
  esac
done

placeholder_url() {  # a URL nothing will ever be published at
  local host=${1#*://}
  host=${host%%/*} host=${host%%:*} host=${host,,}
  [[ $1 != https://* || -z $host || $host == localhost || $host =~ (^|\.)(example|invalid|test|localhost)$ ||
     $host =~ (^|\.)example\.(com|net|org)$ ]]
}

if [ -n "$release" ]; then
  missing=()
  for var in TARNELL_SIGN_CERT TARNELL_SIGN_KEY TARNELL_SIGN_TIMESTAMP_URL TARNELL_DOWNLOAD_URL; do
    [ -n "${!var:-}" ] || missing+=("$var")
  done
  for var in TARNELL_SIGN_CERT TARNELL_SIGN_KEY TARNELL_SIGN_CHAIN TARNELL_SIGN_KEY_PASSWORD_FILE; do
    [ -z "${!var:-}" ] || [ -r "${!var}" ] || missing+=("$var (no such file: ${!var})")
  done
  if [ -n "${TARNELL_DOWNLOAD_URL:-}" ] && placeholder_url "$TARNELL_DOWNLOAD_URL"; then
    missing+=("TARNELL_DOWNLOAD_URL (a placeholder: $TARNELL_DOWNLOAD_URL)")
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    echo "release refused: a release is signed, time-stamped and published at a real address; missing:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
  fi
fi

[ -n "${TARNELL_SKIP_BOOTSTRAP:-}" ] || scripts/bootstrap.sh

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
env_version=()
[ -z "${TARNELL_VERSION:-}" ] || env_version=(-DTARNELL_VERSION="$TARNELL_VERSION")

[ -n "$keep" ] || rm -rf "$build"
# Symbols for dist/symbols (-g does not change the code GCC generates).
cmake --preset windows -B "$build" -DCMAKE_CXX_FLAGS=-g -DTARNELL_BUILD_ID=ON "${env_version[@]}" "${cmake_args[@]}" >/dev/null
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "unexpected project version '$version'" >&2; exit 1; }
if [ "${version##*.}" != 0 ]; then
  echo "version $version refused: the fourth number must be 0 (Windows Installer compares only the first" \
       "three, so ${version%.*}.0 and $version would be one product); raise the third instead" >&2
  exit 1
fi
cmake --build "$build" --target tarnell -j2 >/dev/null
msi_version=${version%.*}
home_url=$(cache TARNELL_HOME_URL)

# Everything is made in a staging folder and moved into dist/ only when all of it is there.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/out/winget" "$stage/out/symbols"
objcopy=x86_64-w64-mingw32-objcopy
build_id=$(x86_64-w64-mingw32-objdump -p "$build/tarnell.exe" | sed -n 's/.*(format RSDS signature \([0-9a-f]*\) age.*/\1/p')
[ -n "$build_id" ] || { echo "tarnell.exe has no build id" >&2; exit 1; }
symbols=tarnell-$version-$build_id.debug
"$objcopy" --only-keep-debug "$build/tarnell.exe" "$stage/out/symbols/$symbols"
"$objcopy" --strip-all --add-gnu-debuglink="$stage/out/symbols/$symbols" "$build/tarnell.exe" "$stage/tarnell.exe"
cp "$build/generated/resources/tarnell.ico" "$stage/tarnell.ico"
cp packaging/wix/tarnell.wxs "$stage/tarnell.wxs"
cp packaging/README.txt "$stage/README.txt"

signed=
if [ -n "${TARNELL_SIGN_CERT:-}" ] && [ -n "${TARNELL_SIGN_KEY:-}" ]; then
  signed=1
  cat "$TARNELL_SIGN_CERT" >"$stage/certs.pem"
  [ -z "${TARNELL_SIGN_CHAIN:-}" ] || cat "$TARNELL_SIGN_CHAIN" >>"$stage/certs.pem"
  sign_args=(sign -certs "$stage/certs.pem" -key "$TARNELL_SIGN_KEY" -n Tarnell -h sha256)
  if [ -n "${TARNELL_SIGN_KEY_PASSWORD_FILE:-}" ]; then
    sign_args+=(-readpass "$TARNELL_SIGN_KEY_PASSWORD_FILE")
  elif [ -n "${TARNELL_SIGN_KEY_PASSWORD:-}" ]; then
    (umask 077 && printf '%s' "$TARNELL_SIGN_KEY_PASSWORD" >"$stage/password")
    sign_args+=(-readpass "$stage/password")
  fi
  [ -z "${TARNELL_SIGN_TIMESTAMP_URL:-}" ] || sign_args+=(-ts "$TARNELL_SIGN_TIMESTAMP_URL")
fi
sign() {  # sign FILE: signs the file in place; a release checks the signature and its time stamp
  [ -n "$signed" ] || return 0
  osslsigncode "${sign_args[@]}" -in "$1" -out "$1.signed" >"$stage/sign.log" 2>&1 ||
    { cat "$stage/sign.log" >&2; echo "signing $(basename "$1") failed" >&2; exit 1; }
  mv "$1.signed" "$1"
  [ -n "$release" ] || return 0
  osslsigncode verify -CAfile "$stage/certs.pem" -in "$1" >"$stage/verify.log" 2>&1 || true
  grep -q '^Signature Index: 0' "$stage/verify.log" && grep -qi 'timestamp time' "$stage/verify.log" ||
    { cat "$stage/verify.log" >&2; echo "release refused: $(basename "$1") is not signed and time-stamped" >&2
      exit 1; }
}

sign "$stage/tarnell.exe"

msi=Tarnell-$version-x64.msi
# wixl looks up source files relative to the folder it runs in.
(cd "$stage" && wixl -a x64 -D Version="$msi_version" -D Exe=tarnell.exe -D Icon=tarnell.ico \
  -D Readme=README.txt -D HomeUrl="$home_url" -o "out/$msi" tarnell.wxs 2>wixl.log) ||
  { cat "$stage/wixl.log" >&2; exit 1; }
# wixl drops IncludeMaximum: the older-version row again with attributes 768 (minimum and maximum
# inclusive), so that another build of this version is replaced too. Attributes is part of the table's key.
upgrade_code=$(msiinfo export "$stage/out/$msi" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "OLDERVERSIONFOUND" { print $1 }')
msibuild "$stage/out/$msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'OLDERVERSIONFOUND'"
msibuild "$stage/out/$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '0.0.0', '$msi_version', 768, 'OLDERVERSIONFOUND')"
sign "$stage/out/$msi"

touch -d "@$SOURCE_DATE_EPOCH" "$stage/tarnell.exe" "$stage/README.txt"
(cd "$stage" && TZ=UTC zip -q -X "out/Tarnell-$version-x64-portable.zip" tarnell.exe README.txt)

# The winget manifests for this installer. The fields are filled in literally (no pattern language sees
# the text); the URL is quoted for YAML.
property() { msiinfo export "$stage/out/$msi" Property | tr -d '\r' | awk -F'\t' -v n="$1" '$1 == n { print $2 }'; }
url=${TARNELL_DOWNLOAD_URL:-https://downloads.tarnell.example/releases/$version/$msi}
export F_VERSION=$version F_MSI_VERSION=$msi_version F_URL=${url//\'/\'\'} \
  F_SHA256=$(sha256sum "$stage/out/$msi" | cut -d' ' -f1 | tr a-f A-F) \
  F_PRODUCT_CODE=$(property ProductCode) F_UPGRADE_CODE=$(property UpgradeCode)
for template in packaging/winget/*.yaml; do
  awk 'function fill(line, name, value,   at, out) {
         out = ""
         while ((at = index(line, "@" name "@")) > 0) {
           out = out substr(line, 1, at - 1) value; line = substr(line, at + length(name) + 2)
         }
         return out line
       }
       /^# / { next }
       { n = split("VERSION MSI_VERSION URL SHA256 PRODUCT_CODE UPGRADE_CODE", names, " ")
         for (i = 1; i <= n; i++) $0 = fill($0, names[i], ENVIRON["F_" names[i]])
         print }' "$template" >"$stage/out/winget/$(basename "$template")"
done

# Only our own outputs in dist/ are replaced; anything else there stays.
mkdir -p "$dist"
rm -f "$dist"/Tarnell-*-x64.msi "$dist"/Tarnell-*-x64-portable.zip "$dist"/winget/Vorbeck.Tarnell*.yaml \
  "$dist"/symbols/tarnell-*.debug
cp -R "$stage/out/." "$dist/"

echo "$dist:"
(cd "$stage/out" && find . -type f | sort | sed 's|^\./|  |')
if [ -n "$release" ]; then
  echo "release $version: tarnell.exe and the MSI signed and time-stamped"
elif [ -n "$signed" ]; then
  echo "development build $version: signed$([ -n "${TARNELL_SIGN_TIMESTAMP_URL:-}" ] || echo ', not time-stamped'), not a release (--release checks)"
else
  echo "UNSIGNED development build $version: not for release (scripts/package.sh --release signs and checks)"
fi
