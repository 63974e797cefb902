#!/usr/bin/env bash
# Two builds of the launcher from the same sources and payloads must be
# identical byte for byte: builds a second tree elsewhere and compares.
#   reproducible_build_test.sh SOURCE_DIR LAUNCHER.exe WORK_DIR GUIDE INSTALLER
set -euo pipefail
source_dir=$1 launcher=$2 work=$3 guide=$4 installer=$5
rm -rf "$work"
cmake -S "$source_dir" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw.cmake" \
  -DMIR_SETUP_GUIDE_PAYLOAD="$guide" -DMIR_INSTALLER_PAYLOAD="$installer" >/dev/null 2>&1
cmake --build "$work" --target mir_setup_launcher >/dev/null
if cmp "$launcher" "$work/bin/mir_setup_launcher.exe"; then
  echo "identical: $(sha256sum "$launcher" | cut -d' ' -f1)"
  rm -rf "$work"
else
  echo "FAILED: the rebuilt launcher differs ($(cmp -l "$launcher" "$work/bin/mir_setup_launcher.exe" | wc -l) bytes)"
  exit 1
fi
