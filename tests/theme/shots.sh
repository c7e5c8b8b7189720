#!/usr/bin/env bash
# Screenshots of the theme's controls under Wine on a private Xvfb display.
#   tests/theme/shots.sh BUILD    (a windows-preset build tree with theme_demo built)
# Writes BUILD/shots/theme_*.png: at 96 DPI the normal looks, the run switch hot, a header button hot and
# the window inactive; at 144 DPI the normal looks again. The prefix is BUILD/shots-prefix, with the CJK
# fonts linked to the faces the controls ask for, so Korean and Japanese render instead of boxes.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../cmake/wine-env.sh
. "$root/cmake/wine-env.sh"
export TARNELL_WINEPREFIX=$build/shots-prefix
tarnell_wine_prefix "$build"

shots=$build/shots
mkdir -p "$shots"
work=$(mktemp -d)
tarnell_start_xvfb "$work"
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

link="NotoSansCJK-Regular.ttc,Noto Sans CJK KR"
for face in "Segoe UI" "Tahoma" "MS Shell Dlg 2"; do
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d "$link" /f >/dev/null 2>&1
done

set_dpi() {
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$WINESERVER" -w
}

points=$work/points.txt
# run_demo [inactive]: starts the demo and waits until it has written the hot targets' positions.
run_demo() {
  rm -f "$points"
  "$WINE" "$build/tests/theme_demo.exe" "Z:${points//\//\\}" 40 "${1:-}" &
  demo=$!
  for _ in $(seq 1 200); do [ -s "$points" ] && break; sleep 0.1; done
  [ -s "$points" ] || { echo "the demo did not start" >&2; exit 1; }
  sleep 2
}
end_demo() {
  kill "$demo" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}
shot() { import -window root -crop "$2" "$shots/$1.png"; echo "$shots/$1.png"; }

set_dpi 96
run_demo
read -r sx sy < <(sed -n 1p "$points")
read -r hx hy < <(sed -n 2p "$points")
xdotool mousemove 1200 1000; sleep 1
shot theme_normal 760x360+0+0
xdotool mousemove "$sx" "$sy"; sleep 1
shot theme_run_switch_hot 760x360+0+0
xdotool mousemove "$hx" "$hy"; sleep 1
shot theme_header_hot 760x360+0+0
end_demo

run_demo inactive
xdotool mousemove 1200 1000; sleep 1
shot theme_inactive 760x360+0+0
end_demo

set_dpi 144
run_demo
xdotool mousemove 1200 1000; sleep 1
shot theme_normal_144dpi 1120x520+0+0
end_demo
set_dpi 96
