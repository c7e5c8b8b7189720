#!/usr/bin/env bash
# Wine environment shared by the test harness and the run script.
#   wine-env.sh start BUILD   prefix ready, Xvfb started for the build tree's tests
#   wine-env.sh stop BUILD    the prefix's wineserver and that Xvfb ended
# Sourced, it defines the functions below.

export WINEDEBUG=-all
# No Mono or Gecko install prompts while the prefix is made. TARNELL_WINEDLLOVERRIDES adds a test's own.
export WINEDLLOVERRIDES="mscoree,mshtml=${TARNELL_WINEDLLOVERRIDES:+;$TARNELL_WINEDLLOVERRIDES}"
WINE=$(command -v wine || command -v wine-stable || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver)
[ -x /usr/lib/wine/wine64 ] && WINE=/usr/lib/wine/wine64 && export WINELOADER=/usr/lib/wine/wine64

# tarnell_start_xvfb DIR: starts Xvfb on a free display, exports DISPLAY, sets XVFB_PID.
tarnell_start_xvfb() {
  local dir=$1 i
  rm -f "$dir/xvfb.fd"
  Xvfb -displayfd 7 -screen 0 1280x1024x24 -nolisten tcp -noreset 7>"$dir/xvfb.fd" >/dev/null 2>&1 &
  XVFB_PID=$!
  for i in $(seq 1 100); do
    [ -s "$dir/xvfb.fd" ] && break
    sleep 0.05
  done
  [ -s "$dir/xvfb.fd" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$dir/xvfb.fd")"
}

# tarnell_wine_prefix BUILD: exports WINEPREFIX and makes the prefix once (under a lock).
tarnell_wine_prefix() {
  local build=$1
  export WINEPREFIX=${TARNELL_WINEPREFIX:-$build/wineprefix}
  [ -f "$WINEPREFIX/.tarnell-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tarnell-ready" ]; then
      "$WINE" wineboot.exe -i >/dev/null 2>&1
      # One virtual desktop instead of bare X windows: Wine draws the window frames itself, and a
      # window closes at once instead of waiting ~2 s for X events that no window manager sends.
      "$WINE" reg.exe add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
      "$WINE" reg.exe add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
      "$WINESERVER" -w
      touch "$WINEPREFIX/.tarnell-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  cmd=${1:?start or stop}; build=$(cd "${2:?build folder}" && pwd)
  case $cmd in
    start)
      tarnell_wine_prefix "$build" || exit 1
      # One persistent wineserver for the whole run: each test then starts in a fraction of a second.
      "$WINESERVER" -p >/dev/null 2>&1 </dev/null
      if ! kill -0 "$(cat "$build/xvfb.pid" 2>/dev/null)" 2>/dev/null; then
        tarnell_start_xvfb "$build" || exit 1
        echo "$XVFB_PID" >"$build/xvfb.pid"
        echo "${DISPLAY#:}" >"$build/xvfb.display"
      fi
      # Start the prefix's own background processes now, detached from our output: a test whose
      # first wine call started them would hand them its output pipe and never be seen to finish.
      DISPLAY=":$(cat "$build/xvfb.display")" "$WINE" wineboot.exe >/dev/null 2>&1 </dev/null ;;
    stop)
      export WINEPREFIX=${TARNELL_WINEPREFIX:-$build/wineprefix}
      "$WINESERVER" -k 2>/dev/null
      pid=$(cat "$build/xvfb.pid" 2>/dev/null) && kill "$pid" 2>/dev/null
      rm -f "$build/xvfb.pid" "$build/xvfb.display" "$build/xvfb.fd" ;;
    *) echo "usage: $0 start|stop BUILD" >&2; exit 2 ;;
  esac
fi
