#!/usr/bin/env bash
# Sets everything up, builds every configuration and runs every test: the
# portable code natively, the Windows programs under Wine, and the portable
# parsers under ASan/UBSan with a short libFuzzer smoke run per target.
# Idempotent: a second run reuses what the first installed and built.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/setup.sh" || exit 1

jobs=$(nproc)
failed=()
for preset in native windows fuzz; do
  echo "=== $preset: configure and build"
  log="build/$preset.log"
  mkdir -p build
  if ! cmake --preset "$preset" >"$log" 2>&1 ||
     ! cmake --build --preset "$preset" -j "$jobs" >>"$log" 2>&1; then
    tail -40 "$log"
    failed+=("$preset (build)")
    continue
  fi
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs" || failed+=("$preset")
done

if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all builds passed"
