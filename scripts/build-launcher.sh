#!/usr/bin/env bash
# Builds the launcher with your own two payloads, in the release configuration:
#   scripts/build-launcher.sh SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe
source "$(dirname "$0")/common.sh"
if [ $# -ne 3 ]; then
  echo "usage: $0 SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe" >&2
  exit 2
fi
for payload in "$1" "$2"; do
  [ -f "$payload" ] || { echo "build-launcher.sh: no such payload: $payload" >&2; exit 2; }
done
export MIR_SETUP_GUIDE_PAYLOAD MIR_INSTALLER_PAYLOAD
MIR_SETUP_GUIDE_PAYLOAD=$(realpath "$1")
MIR_INSTALLER_PAYLOAD=$(realpath "$2")
output=$3
"$top/scripts/setup.sh" >/dev/null
cmake -S "$top" --preset release >/dev/null
cmake --build "$top/build/release" --target mir_setup_launcher
cp "$top/build/release/bin/mir_setup_launcher.exe" "$output"
echo "built $output"
