#!/usr/bin/env bash
# Speed and footprint of tarnell.exe under Wine, printed as one table:
# start-up and memory against a baseline empty window, the stripped size, and the run switch figures.
#   scripts/bench.sh [RUNS]    default 10 start-ups of each program, alternating
# The run switch figures need a tarnell.exe whose probe is the loopback fixture server: the e2e preset's,
# built in build/e2e and run against tests/app/loopback_server.py on 127.0.0.1:18471.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target tarnell baseline_window startup_bench >/dev/null
build=$PWD/build/windows

stripped=$build/bench/tarnell-stripped.exe
x86_64-w64-mingw32-strip -o "$stripped" "$build/tarnell.exe"
size=$(stat -c %s "$stripped")
echo "size       tarnell.exe stripped: $size bytes ($(awk "BEGIN{printf \"%.2f\", $size/1048576}") MiB, target <= 2 MiB)"

e2e=$PWD/build/e2e
loopback=$e2e/bench/loopback
loopback_started=
e2e_started=
cleanup() {
  [ -z "$loopback_started" ] || python3 tests/app/loopback_server.py stop "$loopback" || true
  [ -z "$e2e_started" ] || cmake/wine-env.sh stop "$e2e" || true
  cmake/wine-env.sh stop "$build"
}
cmake/wine-env.sh start "$build"
trap cleanup EXIT
winpath() { echo "Z:${1//\//\\}"; }
cmake/wine-run.sh "$build/bench/startup_bench.exe" "$runs" "$(winpath "$stripped")" \
  "$(winpath "$build/bench/baseline_window.exe")"

cmake --preset e2e >/dev/null
cmake --build build/e2e --target tarnell run_switch_bench -j2 >/dev/null
e2e_started=1
cmake/wine-env.sh start "$e2e"
rm -f "$loopback/loopback.pid"
loopback_started=1
python3 tests/app/loopback_server.py start 18471 "$loopback"
cmake/wine-run.sh "$e2e/bench/run_switch_bench.exe" "$(winpath "$e2e/tarnell.exe")" "$(winpath "$loopback")" 20
