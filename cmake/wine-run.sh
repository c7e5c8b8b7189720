#!/usr/bin/env bash
# Runs a Windows executable under Wine with the build tree's private prefix.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every Windows test through it.
# The display: the one the test fixture started for this build tree, else the caller's,
# else a private Xvfb that lives as long as this one run.
set -u
exe=$1; shift

# The build tree is the nearest folder above the executable that holds CMakeCache.txt.
build=$(cd "$(dirname "$exe")" && pwd)
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
[ -f "$build/CMakeCache.txt" ] || build=$(cd "$(dirname "$exe")" && pwd)

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
tarnell_wine_prefix "$build" || exit 1

own_xvfb=
if [ -f "$build/xvfb.display" ] && kill -0 "$(cat "$build/xvfb.pid" 2>/dev/null)" 2>/dev/null; then
  export DISPLAY=":$(cat "$build/xvfb.display")"
elif [ -z "${DISPLAY:-}" ]; then
  tarnell_start_xvfb "$(mktemp -d)" || exit 1
  own_xvfb=$XVFB_PID
fi

"$WINE" "$exe" "$@"
rc=$?
if [ -n "$own_xvfb" ]; then
  "$WINESERVER" -k 2>/dev/null
  kill "$own_xvfb" 2>/dev/null
fi
exit $rc
