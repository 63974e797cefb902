#!/usr/bin/env bash
# Builds the launcher with your own two payloads, in the release
# configuration, as the version that MIR_VERSION names (four numbers; always
# given: a release never takes its version from an earlier configure), and
# refuses it when the launcher's own attribution search finds a record in it:
#   MIR_VERSION=1.2.3.0 scripts/build-launcher.sh SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe
source "$(dirname "$0")/common.sh"
if [ $# -ne 3 ]; then
  echo "usage: MIR_VERSION=1.2.3.0 $0 SETUP_GUIDE.exe REAL_INSTALLER.exe OUTPUT.exe" >&2
  exit 2
fi
[ -n "${MIR_VERSION:-}" ] ||
  { echo "build-launcher.sh: name the release's version: MIR_VERSION=1.2.3.0 $0 $*" >&2; exit 2; }
for payload in "$1" "$2"; do
  [ -f "$payload" ] || { echo "build-launcher.sh: no such payload: $payload" >&2; exit 2; }
done
# Before the build, not after it: the output's folder, made when missing.
[ ! -d "$3" ] || { echo "build-launcher.sh: $3 is a folder; name the launcher's file" >&2; exit 2; }
mkdir -p "$(dirname "$3")" 2>/dev/null && [ -w "$(dirname "$3")" ] ||
  { echo "build-launcher.sh: cannot write into $(dirname "$3")" >&2; exit 2; }
export MIR_SETUP_GUIDE_PAYLOAD MIR_INSTALLER_PAYLOAD MIR_VERSION
MIR_SETUP_GUIDE_PAYLOAD=$(realpath "$1")
MIR_INSTALLER_PAYLOAD=$(realpath "$2")
output=$3
"$top/scripts/setup.sh" >/dev/null
# The release preset takes MIR_VERSION from the environment at every configure.
build release "$top/build/release-build.log" --target mir_setup_launcher
build native "$top/build/release-native-build.log" --target mir_attribution
launcher="$top/build/release/bin/mir_setup_launcher.exe"
"$top/scripts/check-launcher-tail.sh" "$launcher" "$tool" || exit 1
cp "$launcher" "$output"
echo "built $output, version $MIR_VERSION"
