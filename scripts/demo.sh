#!/usr/bin/env bash
# The main job: builds the launcher with the sample payloads and runs it under
# Wine, first as a user would (interactive first install), then silently,
# showing each run's log and where the payload ran. Idempotent. Fails unless
# every run reached its last log line and its payload reported.
source "$(dirname "$0")/common.sh"
cd "$top"
"$top/scripts/setup.sh"

build="$top/build/windows"
mkdir -p "$top/build"
echo "=== building the launcher"
cmake --preset windows >"$top/build/demo-build.log" 2>&1 &&
  cmake --build --preset windows --target mir_setup_launcher payload_probe >>"$top/build/demo-build.log" 2>&1 ||
  { tail -40 "$top/build/demo-build.log"; echo "demo.sh: the build failed" >&2; exit 1; }
"$build/wine-run" --start

launcher="$build/bin/mir_setup_launcher.exe"
temp_dir="$build/wineprefix/drive_c/users/$(id -un)/Temp"
log="$temp_dir/mir_setup_launcher.log"
report="$build/demo-report.txt"
echo "launcher: $launcher ($(stat -c %s "$launcher") bytes)"

run() {
  local title=$1
  shift
  echo
  echo "=== $title: mir_setup_launcher.exe $*"
  rm -f "$report" "$log"
  local status=0
  # The sample payload (the payload probe) reports how it was started to the
  # file named by MIR_PROBE_REPORT, which it inherits from the launcher.
  MIR_PROBE_REPORT="Z:${report//\//\\}" "$build/wine-run" "$launcher" "$@" || status=$?
  echo "exit code: $status"
  echo "--- log ($log)"
  [ -f "$log" ] || { echo "demo.sh: the launcher wrote no log" >&2; exit 1; }
  cat "$log"
  grep -q "Setup Launcher Completed with exit code: " "$log" ||
    { echo "demo.sh: the launcher did not run to its end" >&2; exit 1; }
  echo "--- where the payload ran (its own report)"
  [ -f "$report" ] || { echo "demo.sh: no payload ran" >&2; exit 1; }
  cat "$report"
}

run "interactive first install"
run "silent install" --silent
"$build/wine-run" --stop
echo
echo "demo passed: both runs completed and their payloads reported"
