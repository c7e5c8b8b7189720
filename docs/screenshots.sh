#!/usr/bin/env bash
# Screenshots of both cards of tarnell.exe in English and Korean at 96 and 144 DPI, each in a Wine
# desktop window (so the title bar shows) on a private Xvfb display.
#   docs/screenshots.sh BUILD OUTDIR
# BUILD must be a Windows build tree whose probe and service point at 127.0.0.1 (see
# tests/app/program_tests.cmake); the loopback server answers them while the pictures are taken.
set -euo pipefail
build=$(cd "$1" && pwd) out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
port=$(sed -n 's|^TARNELL_SERVICE_URL:STRING=http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$build/CMakeCache.txt")
[ -n "$port" ] || { echo "the build's service URL is not a loopback address" >&2; exit 1; }
cmake --build "$build" --target tarnell click_control translate_test_locales >/dev/null

. "$here/cmake/wine-env.sh"
python3 "$here/tests/app/loopback_server.py" start "$port" "$build/shots-loopback"
trap 'python3 "$here/tests/app/loopback_server.py" stop "$build/shots-loopback"' EXIT

# Korean glyphs come from Noto Sans CJK, linked to the faces the window asks for.
fontlink=$(mktemp --suffix=.reg)
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
  for face in Tahoma "Segoe UI" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    printf '"%s"=hex(7):%s\r\n' "$face" \
      "$(printf 'NotoSansCJK-Regular.ttc,Noto Sans CJK KR\0\0' | iconv -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//')"
  done
} >"$fontlink"

for dpi in 96 144; do
  export TARNELL_WINEPREFIX=$build/shots-prefix-$dpi
  tarnell_wine_prefix "$build"
  "$WINE" regedit "$(winepath -w "$fontlink" 2>/dev/null || echo "Z:${fontlink//\//\\}")" >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$WINESERVER" -w
  for lang in en_US ko_KR; do
    tarnell_start_xvfb "$(mktemp -d)"
    LANG=$lang.UTF-8 LOCPATH=$build/tests/translate/locales \
      "$WINE" explorer /desktop=shot,1000x800 "$build/tarnell.exe" >/dev/null 2>&1 &
    sleep 6
    import -window root -crop 1000x800+0+0 +repage "$out/raw.png"
    convert "$out/raw.png" -fuzz 2% -trim +repage "$out/${lang%%_*}-$dpi-home.png"
    "$WINE" explorer /desktop=shot,1000x800 "$build/tests/click_control.exe" BtnConfig >/dev/null 2>&1 || true
    sleep 1
    import -window root -crop 1000x800+0+0 +repage "$out/raw.png"
    convert "$out/raw.png" -fuzz 2% -trim +repage "$out/${lang%%_*}-$dpi-config.png"
    "$WINESERVER" -k || true
    kill "$XVFB_PID" 2>/dev/null || true
    sleep 1
  done
done
rm -f "$out/raw.png" "$fontlink"
ls "$out"
