#!/usr/bin/env bash
# Installs what the build and the tests need on Debian, and nothing when all is there.
set -euo pipefail

packages=(
  cmake make g++ python3
  g++-mingw-w64-x86-64-posix    # the Windows build
  wine wine64 xvfb xdotool imagemagick fonts-noto-cjk   # running and looking at it
  doctest-dev                   # the test framework of both builds
  clang libclang-rt-14-dev      # sanitizer lane and fuzzers
  clang-format                  # the format check
  librsvg2-bin                  # the logo is drawn as SVG and rasterised at build time
  locales                       # locale sources: the Wine locale tests compile ko_KR, ja_JP... into the build tree
  wixl msitools osslsigncode zip unzip openssl   # the release packages, their signing and their tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
