#!/usr/bin/env bash
# The main job: builds the launcher with the sample payloads and runs it under
# Wine, first as a user would (interactive first install), then silently,
# showing each run's log and where the payload ran. Idempotent.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/setup.sh"

build="$top/build/windows"
echo "=== building the launcher"
cmake --preset windows >/dev/null
cmake --build --preset windows --target mir_setup_launcher payload_probe >/dev/null
"$build/wine-run" --start >/dev/null

launcher="$build/bin/mir_setup_launcher.exe"
temp_dir="$build/wineprefix/drive_c/users/$(id -un)/Temp"
report="$build/demo-report.txt"
echo "launcher: $launcher ($(stat -c %s "$launcher") bytes)"

run() {
  local title=$1
  shift
  echo
  echo "=== $title: mir_setup_launcher.exe $*"
  rm -f "$report"
  local status=0
  # The sample payload (the payload probe) reports how it was started to the
  # file named by MIR_PROBE_REPORT, which it inherits from the launcher.
  MIR_PROBE_REPORT="Z:${report//\//\\}" "$build/wine-run" "$launcher" "$@" || status=$?
  echo "exit code: $status"
  echo "--- log ($temp_dir/mir_setup_launcher.log)"
  cat "$temp_dir/mir_setup_launcher.log"
  echo "--- where the payload ran (its own report)"
  if [ -f "$report" ]; then cat "$report"; else echo "(no payload ran)"; fi
}

run "interactive first install"
run "silent install" --silent
"$build/wine-run" --stop
