#!/usr/bin/env bash
# Speed and footprint of tarnell.exe under Wine, printed as one table:
# start-up and memory against a baseline empty window, the stripped size, and the run switch figures.
#   scripts/bench.sh [RUNS]    default 10 start-ups of each program, alternating
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target tarnell baseline_window startup_bench run_switch_bench >/dev/null
build=$PWD/build/windows

stripped=$build/bench/tarnell-stripped.exe
x86_64-w64-mingw32-strip -o "$stripped" "$build/tarnell.exe"
size=$(stat -c %s "$stripped")
echo "size       tarnell.exe stripped: $size bytes ($(awk "BEGIN{printf \"%.2f\", $size/1048576}") MiB, target <= 2 MiB)"

cmake/wine-env.sh start "$build"
trap 'cmake/wine-env.sh stop "$build"' EXIT
winpath() { echo "Z:${1//\//\\}"; }
cmake/wine-run.sh "$build/bench/startup_bench.exe" "$runs" "$(winpath "$stripped")" \
  "$(winpath "$build/bench/baseline_window.exe")"
if [ -x "$build/bench/run_switch_bench.exe" ]; then
  python3 tests/app/bench_run_switch.py "$build" || true
fi
