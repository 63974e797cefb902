#!/usr/bin/env bash
# Time from start to the installer running: builds the launcher with
# payloads of the shipped sizes (the payload probe padded to 552,250 and
# 232,935,280 bytes; generated, never checked in), runs it silently under
# Wine with a child that exits at once, and reports its wall time and peak
# memory next to copying the same two files with cp and to a do-nothing
# Windows program under Wine, as the median of interleaved rounds.
#   scripts/benchmark-launcher.sh [ROUNDS]   (default 7; run after scripts/demo.sh)
source "$(dirname "$0")/common.sh"
rounds=${1:-7}
work="$top/build/benchmark"
mkdir -p "$work"
probe="$top/build/windows/bin/payload_probe.exe"
[ -f "$probe" ] || { echo "build the windows preset first (scripts/demo.sh)" >&2; exit 1; }

make_payload() {  # a runnable program padded with random bytes (no sparse file) to an exact size
  local padding=$(($1 - $(stat -c %s "$probe")))
  [ $padding -ge 0 ] || { echo "the payload probe is larger than $1 bytes" >&2; exit 1; }
  cp "$probe" "$2"
  head -c $padding /dev/urandom >>"$2"
}
make_payload 552250 "$work/guide.exe"
make_payload 232935280 "$work/installer.exe"

echo "building the launcher with the shipped payload sizes..."
MIR_VERSION=$(cmake -P "$top/cmake/version.cmake" 2>&1) "$top/scripts/build-launcher.sh" "$work/guide.exe" "$work/installer.exe" "$work/launcher.exe" >/dev/null
ls -l "$work/launcher.exe"

wine_run="$top/build/windows/wine-run"
"$wine_run" --start >/dev/null
results="$work/results.txt"
: >"$results"
measure() {  # label, command...: wall seconds and peak resident memory of one run
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
  read -r seconds kilobytes <"$work/time.txt"
  printf '%s\t%s\t%s\n' "$label" "$seconds" "$kilobytes" >>"$results"
}
sync
for ((round = 1; round <= rounds; round++)); do
  rm -rf "$work/copy"
  mkdir -p "$work/copy"
  measure "cp of both payloads" cp "$work/guide.exe" "$work/installer.exe" "$work/copy/"
  measure "do-nothing program under Wine" "$wine_run" "$probe"
  measure "launcher --silent under Wine" "$wine_run" "$work/launcher.exe" --silent
done
echo "median of $rounds interleaved rounds:"
for label in "cp of both payloads" "do-nothing program under Wine" "launcher --silent under Wine"; do
  grep -F "$label"$'\t' "$results" | sort -t$'\t' -k2 -g |
    awk -F'\t' -v n="$rounds" 'NR == int((n + 1) / 2) {
      printf "%-32s %8.2f s %10d KiB peak\n", $1, $2, $3 }'
done
log="$top/build/windows/wineprefix/drive_c/users/$(id -un)/Temp/mir_setup_launcher.log"
echo "--- the last run's log, for where the time went"
cut -c1-140 "$log"
"$wine_run" --stop
