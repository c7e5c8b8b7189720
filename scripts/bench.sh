#!/usr/bin/env bash
# Speed and footprint of tarnell.exe under Wine, printed as one table:
# start-up and memory against an empty window of its size and against the floor (a program that does only
# the platform work the job needs), the stripped size, the start-up phases, and the run switch figures.
#   scripts/bench.sh [RUNS]    default 10 start-ups of each program, alternating
# The run switch figures need a tarnell.exe whose probe is the loopback fixture server: the e2e preset's,
# built in build/e2e and run against tests/app/loopback_server.py on 127.0.0.1:18471 (TARNELL_BENCH_PORT
# changes the port, for a machine where another build tree uses that one).
# Then the same memory figures 5 s after start-up, for the program and the floor.
# The phases come from a second tarnell.exe built with TARNELL_BENCH_PHASES in build/bench-phases; the
# start-up and memory ratios are always taken on the normal program.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target tarnell baseline_window floor_window startup_bench memory_regions >/dev/null
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
  "$(winpath "$build/bench/baseline_window.exe")" "$(winpath "$build/bench/floor_window.exe")"
# Memory and threads once settled (5 s after start-up, the service check over): fewer rounds, each is long.
cmake/wine-run.sh "$build/bench/startup_bench.exe" steady "$(( runs < 5 ? runs : 5 ))" "$(winpath "$stripped")" \
  "$(winpath "$build/bench/floor_window.exe")"

phases=$PWD/build/bench-phases
cmake --preset windows -B "$phases" -DTARNELL_BENCH_PHASES=ON >/dev/null
cmake --build "$phases" --target tarnell -j2 >/dev/null
x86_64-w64-mingw32-strip -o "$phases/tarnell-phases.exe" "$phases/tarnell.exe"
cmake/wine-run.sh "$build/bench/startup_bench.exe" phases "$runs" "$(winpath "$phases/tarnell-phases.exe")"

port=${TARNELL_BENCH_PORT:-18471}
# Every endpoint on the same port: the preset's own would reach the other tree's fixture.
cmake --preset e2e -DTARNELL_PROBE_URL=http://127.0.0.1:$port/generate_204 \
  -DTARNELL_SERVICE_URL=http://127.0.0.1:$port/api.init.php -DTARNELL_HOME_URL=http://127.0.0.1:$port/tarnell \
  -DTARNELL_REPORT_URL=http://127.0.0.1:$port/except.php -DTARNELL_ERROR_PAGE_URL=http://127.0.0.1:$port/error \
  >/dev/null
cmake --build build/e2e --target tarnell run_switch_bench -j2 >/dev/null
e2e_started=1
cmake/wine-env.sh start "$e2e"
rm -f "$loopback/loopback.pid"
loopback_started=1
python3 tests/app/loopback_server.py start "$port" "$loopback"
cmake/wine-run.sh "$e2e/bench/run_switch_bench.exe" "$(winpath "$e2e/tarnell.exe")" "$(winpath "$loopback")" 20
