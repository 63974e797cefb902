#!/usr/bin/env bash
# Sets everything up, builds every configuration and runs every test: the
# portable code natively, the Windows programs under Wine, the portable
# parsers under ASan/UBSan with a short libFuzzer smoke run per target, and
# the Debian packages installed, used and purged as an operator would.
# Idempotent: a second run reuses what the first installed and built. Stops
# at the first step that fails. Builds and tests run CMAKE_BUILD_PARALLEL_LEVEL
# jobs at once (default: one per core).
source "$(dirname "$0")/common.sh"
cd "$top"
"$top/scripts/setup.sh"

jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
for preset in native windows fuzz; do
  echo "=== $preset: configure and build"
  build "$preset" "build/$preset.log" -j "$jobs"
  echo "=== $preset: test"
  if ! ctest --preset "$preset" -j "$jobs"; then
    echo "test.sh: $preset tests failed" >&2
    exit 1
  fi
done
echo "=== docs: the release engineer's shell blocks"
"$top/scripts/doc-test.sh" release
echo "=== packages: build"
"$top/scripts/package.sh"
echo "=== packages: install, serve a stamped download, purge"
"$top/scripts/package-test.sh"
echo "all builds and tests passed"
