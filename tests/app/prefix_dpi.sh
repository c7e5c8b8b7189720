#!/usr/bin/env bash
# A Wine prefix of its own with a given display DPI, for tests that need a DPI other than 96.
#   prefix_dpi.sh start PREFIX DPI   makes the prefix (once), sets LogPixels, lets its server end
#   prefix_dpi.sh stop PREFIX DPI    ends the prefix's server
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake" && pwd)
cmd=$1 prefix=$2 dpi=$3
export TARNELL_WINEPREFIX=$prefix
# shellcheck source=../../cmake/wine-env.sh
. "$here/wine-env.sh"
case $cmd in
  start)
    tarnell_wine_prefix "$(dirname "$prefix")" || exit 1
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || exit 1
    "$WINESERVER" -w ;;
  stop)
    "$WINESERVER" -k 2>/dev/null
    true ;;
esac
