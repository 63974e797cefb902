#!/usr/bin/env bash
# The release build's check of the launcher's tail, on a launcher whose
# installer payload ends with a record's tags and on the ordinary one.
#   launcher_tail_check_test.sh CHECK WINE_RUN MIR_ATTRIBUTION.exe TAGGED_PAYLOAD_LAUNCHER LAUNCHER
set -euo pipefail
check=$1 wine_run=$2 tool=$3
fail() { echo "FAILED: $*"; exit 1; }
while IFS='|' read -r launcher expected message; do
  status=0
  output=$("$check" "$launcher" "$wine_run" "$tool" 2>&1) || status=$?
  [ $status = "$expected" ] || fail "$launcher: exit $status, not $expected: $output"
  [[ $output == *"$message"* ]] || fail "$launcher: $output"
done <<ROWS
$4|1|finds a record in $4 (the value "src=payload-text")
$5|0|
ROWS
echo "passed"
