#!/usr/bin/env bash
# Builds every preset and runs every test: the native core, the Windows build under Wine,
# and the core again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

for preset in native windows sanitize; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzz"
  scripts/fuzz.sh "${TARNELL_FUZZ_SECONDS:-60}"
fi
