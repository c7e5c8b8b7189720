#!/usr/bin/env bash
# A Wine prefix of its own with a dark system colour scheme and no visual style, as a dark high contrast
# scheme gives its programs (Wine cannot switch high contrast itself on).
#   prefix_colors.sh start PREFIX   makes the prefix (once), sets the colours, lets its server end
#   prefix_colors.sh stop PREFIX    ends the prefix's server
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake" && pwd)
cmd=$1 prefix=$2
export TARNELL_WINEPREFIX=$prefix
# shellcheck source=../../cmake/wine-env.sh
. "$here/wine-env.sh"
case $cmd in
  start)
    tarnell_wine_prefix "$(dirname "$prefix")" || exit 1
    "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /d 0 /f \
      >/dev/null 2>&1 || exit 1
    while read -r name value; do
      "$WINE" reg add 'HKCU\Control Panel\Colors' /v "$name" /d "$value" /f >/dev/null 2>&1 || exit 1
    done <<'COLORS'
Window 0 0 0
WindowText 255 255 255
ButtonFace 0 0 0
ButtonText 255 255 255
GrayText 63 242 63
Hilight 26 235 255
HilightText 0 0 0
COLORS
    "$WINESERVER" -w ;;
  stop)
    "$WINESERVER" -k 2>/dev/null
    true ;;
esac
