#!/usr/bin/env bash
# Builds the launcher with your own two payloads:
#   scripts/build-launcher.sh SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
guide=$(realpath "$1")
installer=$(realpath "$2")
output=$3
"$top/scripts/setup.sh" >/dev/null
build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw.cmake" \
  -DMIR_SETUP_GUIDE_PAYLOAD="$guide" -DMIR_INSTALLER_PAYLOAD="$installer" >/dev/null
cmake --build "$build" --target mir_setup_launcher
cp "$build/bin/mir_setup_launcher.exe" "$output"
echo "built $output"
