#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time on a copy of its seed corpus.
#   scripts/fuzz.sh [SECONDS]      default 60 per target; a crash or sanitizer report fails the run
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers
build=build/fuzz
failed=0; ran=0
for fuzzer in "$build"/fuzzers/*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  work=$build/corpus/$name
  mkdir -p "$work" "$build/artifacts"
  [ -d "tests/fuzz/corpus/$name" ] && cp -n tests/fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
  log=$build/$name.log
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$name-" "$work" >"$log" 2>&1; then
    echo "fuzz $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no crash"
    ran=$((ran + 1))
  else
    echo "fuzz $name: FAILED"; tail -n 40 "$log"; failed=$((failed + 1))
  fi
done
echo "fuzz: $ran passed, $failed failed"
[ "$failed" -eq 0 ]
