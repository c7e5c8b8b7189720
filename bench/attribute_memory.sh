#!/usr/bin/env bash
# Private bytes of a Windows program under Wine, by owner (thread stacks, heaps, images, Wine's own), half a
# second after its window is up and idle: the figure the start-up bench reads, taken apart.
#   bench/attribute_memory.sh [PROGRAM]     default: the stripped tarnell.exe of build/windows
# Needs the programs of the windows preset (scripts/bench.sh builds them). Reading another process's
# /proc/PID/pagemap needs the same user (or root).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build/windows
program=${1:-$build/bench/tarnell-stripped.exe}
[ -f "$program" ] || { echo "no $program: run scripts/bench.sh first, or name a program"; exit 2; }
cmake/wine-env.sh start "$build"
trap 'cmake/wine-env.sh stop "$build"' EXIT
. cmake/wine-env.sh
export WINEPREFIX=$build/wineprefix DISPLAY=":$(cat "$build/xvfb.display")"
name=$(basename "$program")
"$WINE" "$program" </dev/null >/dev/null 2>&1 &
started=$!
xdotool search --sync --onlyvisible --pid "$started" >/dev/null 2>&1 || true
linux=
for _ in $(seq 1 100); do
  linux=$(grep -lsa "$name" /proc/[0-9]*/cmdline | cut -d/ -f3 | while read -r p; do
            echo "$(awk '/RssAnon/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0) $p"; done |
          sort -n | tail -n1 | cut -d' ' -f2) || true
  [ -n "$linux" ] && break
  sleep 0.1
done
sleep 1.5  # the bench reads memory 0.5 s after the window is idle; the search above may be early
windows=
for _ in $(seq 1 20); do
  windows=$("$WINE" "$build/bench/memory_regions.exe" --name "$name" </dev/null 2>/dev/null | head -n1 | tr -d '\r') || true
  [ -n "$windows" ] && break
  sleep 0.2
done
[ -n "$linux" ] && [ -n "$windows" ] || { echo "$name not found running (Linux pid '$linux', Windows pid '$windows')" >&2; exit 1; }
"$WINE" "$build/bench/memory_regions.exe" "$windows" </dev/null 2>/dev/null | tr -d '\r' >"$build/bench/regions.txt"
python3 bench/private_bytes.py "$linux" "$build/bench/regions.txt"
kill "$started" 2>/dev/null || true
