#!/usr/bin/env bash
# Two builds of the launcher from the same sources and payloads must be
# identical byte for byte: builds a second tree elsewhere, in the release
# configuration, and compares.
#   reproducible_build_test.sh SOURCE_DIR LAUNCHER.exe WORK_DIR GUIDE INSTALLER VERSION
set -euo pipefail
source_dir=$1 launcher=$2 work=$3
export MIR_SETUP_GUIDE_PAYLOAD=$4 MIR_INSTALLER_PAYLOAD=$5 MIR_VERSION=$6
rm -rf "$work"
cmake -S "$source_dir" --preset release -B "$work" >"$work.log" 2>&1 || { cat "$work.log"; exit 1; }
cmake --build "$work" --target mir_setup_launcher >>"$work.log" 2>&1 || { tail -40 "$work.log"; exit 1; }
if cmp "$launcher" "$work/bin/mir_setup_launcher.exe"; then
  echo "identical: $(sha256sum "$launcher" | cut -d' ' -f1)"
  rm -rf "$work" "$work.log"
else
  echo "FAILED: the rebuilt launcher differs ($(cmp -l "$launcher" "$work/bin/mir_setup_launcher.exe" | wc -l) bytes)"
  exit 1
fi
