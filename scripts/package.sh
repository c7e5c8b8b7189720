#!/usr/bin/env bash
# Builds the release from the sources into dist/:
#   Tarnell-<version>-x64.msi            the installer (wixl, from packaging/wix/tarnell.wxs)
#   Tarnell-<version>-x64-portable.zip   tarnell.exe and README.md
#   winget/                              the winget manifests, filled for that installer
# <version> is the CMake project version (TARNELL_VERSION), the same as the program's version resource.
#
#   scripts/package.sh [--dist DIR] [--build DIR] [--keep-build] [-- CMAKE_ARGS...]
#
# The build folder (build/package) is made afresh each time, so nothing of an earlier build ends up in a
# package; --keep-build builds on in it instead (the tests make two versions one after the other).
# Signing: with TARNELL_SIGN_CERT and TARNELL_SIGN_KEY (PEM files; TARNELL_SIGN_KEY_PASSWORD when the
# key is encrypted, TARNELL_SIGN_TIMESTAMP_URL for a time-stamp server) tarnell.exe and the MSI are
# signed with osslsigncode. TARNELL_DOWNLOAD_URL is where the MSI will be published (the winget
# installer URL); without it the manifest carries a placeholder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

dist=$root/dist
build=$root/build/package
cmake_args=()
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --keep-build) keep=1; shift ;;
    --) shift; cmake_args=("$@"); break ;;
    *) echo "usage: $0 [--dist DIR] [--build DIR] [--keep-build] [-- CMAKE_ARGS...]" >&2; exit 2 ;;
  esac
done

[ -n "${TARNELL_SKIP_BOOTSTRAP:-}" ] || scripts/bootstrap.sh

[ -n "$keep" ] || rm -rf "$build"
cmake --preset windows -B "$build" "${cmake_args[@]}" >/dev/null
cmake --build "$build" --target tarnell -j2 >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "unexpected project version '$version'" >&2; exit 1; }
# Windows Installer compares the first three numbers of a product version only.
msi_version=${version%.*}

rm -rf "$dist"
mkdir -p "$dist"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$build/tarnell.exe" "$stage/tarnell.exe"
cp "$build/generated/resources/tarnell.ico" "$stage/tarnell.ico"
cp packaging/wix/tarnell.wxs "$stage/tarnell.wxs"

sign() {  # sign IN: signs the file in place
  [ -n "${TARNELL_SIGN_CERT:-}" ] && [ -n "${TARNELL_SIGN_KEY:-}" ] || return 0
  local args=(sign -certs "$TARNELL_SIGN_CERT" -key "$TARNELL_SIGN_KEY" -n Tarnell -h sha256)
  [ -z "${TARNELL_SIGN_KEY_PASSWORD:-}" ] || args+=(-pass "$TARNELL_SIGN_KEY_PASSWORD")
  [ -z "${TARNELL_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$TARNELL_SIGN_TIMESTAMP_URL")
  osslsigncode "${args[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

sign "$stage/tarnell.exe"

msi=$dist/Tarnell-$version-x64.msi
# wixl looks up source files relative to the folder it runs in.
(cd "$stage" && wixl -a x64 -D Version="$msi_version" -D Exe=tarnell.exe -D Icon=tarnell.ico -o "$msi" \
  tarnell.wxs 2>wixl.log) || { cat "$stage/wixl.log" >&2; exit 1; }
sign "$msi"

cp README.md "$stage/README.md"
(cd "$stage" && zip -q -X "$dist/Tarnell-$version-x64-portable.zip" tarnell.exe README.md)

# The winget manifests for this installer.
product_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
upgrade_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
sha256=$(sha256sum "$msi" | cut -d' ' -f1 | tr a-f A-F)
url=${TARNELL_DOWNLOAD_URL:-https://downloads.tarnell.example/releases/$version/Tarnell-$version-x64.msi}
mkdir -p "$dist/winget"
for template in packaging/winget/*.yaml; do
  sed -e "/^# /d" -e "s|@VERSION@|$version|g" -e "s|@MSI_VERSION@|$msi_version|g" -e "s|@URL@|$url|g" \
      -e "s|@SHA256@|$sha256|g" -e "s|@PRODUCT_CODE@|$product_code|g" -e "s|@UPGRADE_CODE@|$upgrade_code|g" \
      "$template" >"$dist/winget/$(basename "$template")"
done

echo "$dist:"
(cd "$dist" && find . -type f | sort | sed 's|^\./|  |')
