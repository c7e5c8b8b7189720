#!/usr/bin/env bash
# Builds every preset and runs every test: the source's format, the native core, the Windows build under
# Wine with the release packages (installed, upgraded and removed under Wine), the program end to end under
# Wine, the core under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

echo "== format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

# e2e: the real tarnell.exe driven from outside, its probe and service on a loopback fixture.
for preset in native windows e2e sanitize; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzz"
  scripts/fuzz.sh "${TARNELL_FUZZ_SECONDS:-60}"
fi
