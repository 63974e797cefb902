#!/usr/bin/env bash
# Time from start to the installer having run: builds the launcher with
# payloads of the shipped sizes (the payload probe padded to 552,250 and
# 232,935,280 bytes; generated, never checked in) and an NSIS launcher doing
# the same job (the same two files, no compression, NSIS's other defaults;
# Debian's makensis), runs both silently under Wine with a child that exits
# at once, and reports, as the fastest and the median of interleaved rounds:
# their wall time and peak memory, the native first-touch floor (malloc and
# memcpy of a fresh buffer of the installer's size, the cost of the
# launcher's one heap buffer that no streaming installer pays), cp of both
# payloads and a do-nothing Windows program under Wine; the launcher against
# NSIS, raw and less the floor; and where the launcher's time goes, from the
# timestamps of its own log, and step by step in its extraction of the
# installer (the same calls, timed by a program of their own).
# A second launcher built the same way (an earlier version, say) can run in
# the same rounds, for a before and after under the same load.
#   scripts/benchmark-launcher.sh [ROUNDS [OTHER_LAUNCHER.exe]]   (default 8; with another
#   launcher, a multiple of 6 runs every order equally often; run after scripts/demo.sh)
source "$(dirname "$0")/common.sh"
rounds=${1:-8}
other=${2:+$(realpath "$2")}
[ -z "$other" ] || [ -f "$other" ] || { echo "no such launcher: $2" >&2; exit 2; }
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

echo "building the NSIS peer, the native floor and the extraction steps..."
# The launcher's job in NSIS: both payloads into a folder of the temporary
# directory, the installer started with --silent and waited for, the folder
# removed, the installer's exit code returned.
cat >"$work/peer.nsi" <<EOF
Unicode true
Target amd64-unicode
SetCompress off
SilentInstall silent
RequestExecutionLevel user
OutFile "$work/nsis.exe"
Section
  SetOutPath "\$TEMP\\NsisPeer"
  File "/oname=MIR_SETUP_GUIDE_EXE_NAME" "$work/guide.exe"
  File "/oname=mir_installer_win_temp.exe" "$work/installer.exe"
  ExecWait '"\$OUTDIR\\mir_installer_win_temp.exe" --silent' \$0
  SetOutPath "\$TEMP"
  RMDir /r "\$TEMP\\NsisPeer"
  SetErrorLevel \$0
SectionEnd
EOF
logged "$work/makensis.log" "makensis" makensis -V2 "$work/peer.nsi"
ls -l "$work/nsis.exe"
build native "$work/native-build.log" --target first_touch_floor
build windows "$work/windows-build.log" --target extraction_steps
floor="$top/build/native/bin/first_touch_floor"

wine_run="$top/build/windows/wine-run"
"$wine_run" --start >/dev/null
temp="$top/build/windows/wineprefix/drive_c/users/$(id -un)/Temp"
log="$temp/mir_setup_launcher.log"
results="$work/results.txt"
phases="$work/phases.txt"
steps="$top/build/windows/bin/extraction_steps.exe"
steps_results="$work/steps.txt"
: >"$results"
: >"$phases"
: >"$phases.other"
: >"$steps_results"
clock() { date +%H%M%S.%N; }  # local time of day, as the launcher's log writes it
# measure LABEL COMMAND...: wall seconds and peak resident memory of one
# run; its start and end times of day in started and ended.
measure() {
  local label=$1
  shift
  # No run pays for the write-out of what the one before left dirty (a file
  # Wine truncated is written out when it is closed, even if deleted at once).
  sync
  started=$(clock)
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
  ended=$(clock)
  read -r seconds kilobytes <"$work/time.txt"
  printf '%s\t%s\t%s\n' "$label" "$seconds" "$kilobytes" >>"$results"
}
# phases START END: the launcher's last run cut into phases by the times of
# its log lines (milliseconds; by source line of the launcher's statements),
# one "phase<TAB>seconds" line each.
phases() {
  awk -v start="$1" -v end="$2" '
    function seconds(t) { return substr(t, 1, 2) * 3600 + substr(t, 3, 2) * 60 + substr(t, 5) }
    /^\[[0-9][0-9][0-9][0-9]\/[0-9][0-9][0-9][0-9][0-9][0-9]\.[0-9][0-9][0-9]:/ {
      t = seconds(substr($0, 7, 10)); if (first == "") first = t; last = t
      if (index($0, "setup_launcher_main:") == 0) next
      line = substr($0, index($0, "setup_launcher_main:") + 20); line = substr(line, 1, index(line, "]") - 1)
      seen[line]++; at[line, seen[line]] = t
    }
    function phase(name, from, to) { if (from != "" && to != "") printf "%s\t%.3f\n", name, to - from }
    END {
      phase("process start, image load, logging set up", seconds(start), first)
      phase("guide (552,250 bytes): copy, write, read-back", at[48, 1], at[213, 1])
      phase("installer: resource lookup", at[48, 2], at[77, 2])
      phase("installer: heap copy, write, read-back", at[77, 2], at[89, 2])
      phase("installer: heap buffer freed", at[89, 2], at[225, 1])
      phase("child command, attribution search", at[225, 1], at[266, 1])
      phase("child start (CreateProcessW)", at[272, 1], at[285, 1])
      phase("child run until its end is seen", at[285, 1], at[288, 1])
      cleanup_end = at[292, 1] != "" ? at[292, 1] : at[294, 1]
      phase("clean-up: holds released, work directory deleted", at[290, 1], cleanup_end)
      phase("after the last line, to process end", last, seconds(end))
      phase("whole run", seconds(start), seconds(end))
    }' "$log"
}
run_nsis() {
  rm -rf "$temp/NsisPeer"
  measure "${labels[3]}" "$wine_run" "$work/nsis.exe"
}
run_launcher() {
  measure "${labels[4]}" "$wine_run" "$work/launcher.exe" --silent
  phases "$started" "$ended" >>"$phases"
}
run_other() {
  measure "${labels[5]}" "$wine_run" "$other" --silent
  phases "$started" "$ended" >>"$phases.other"
}
labels=("native first touch (floor)" "cp of both payloads" "do-nothing program under Wine"
        "NSIS peer --silent under Wine" "launcher --silent under Wine")
peers=(run_nsis run_launcher) orders=("0 1" "1 0")
[ -z "$other" ] || labels+=("other launcher --silent") peers+=(run_other) \
  orders=("0 1 2" "2 1 0" "1 2 0" "0 2 1" "2 0 1" "1 0 2")
for ((round = 1; round <= rounds; round++)); do
  printf '%s\t%s\t0\n' "${labels[0]}" "$("$floor")" >>"$results"
  rm -rf "$work/copy"
  mkdir -p "$work/copy"
  measure "${labels[1]}" cp "$work/guide.exe" "$work/installer.exe" "$work/copy/"
  measure "${labels[2]}" "$wine_run" "$probe"
  # NSIS and the launchers run in every order in turn, so that each follows
  # each as often: what ran just before matters (the memory it freed, the
  # processes it left ending).
  for i in ${orders[round % ${#orders[@]}]}; do "${peers[i]}"; done
  rm -f "$temp/payload.bin"
  sync
  "$wine_run" "$steps" "Z:${work//\//\\}\\installer.exe" 'C:\users\'"$(id -un)"'\Temp' |
    tr -d '\r' >>"$steps_results"
done
"$wine_run" --stop

# stat LABEL COLUMN FILE: "fastest median" of a label's values.
stat() {
  awk -F'\t' -v l="$1" -v k="$2" '$1 == l { print $k }' "$3" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%s %s\n", v[1], v[int((NR + 1) / 2)] }'
}
echo "fastest and median of $rounds interleaved rounds (seconds; peak memory, median):"
for label in "${labels[@]}"; do
  read -r fastest median < <(stat "$label" 2 "$results")
  read -r _ kilobytes < <(stat "$label" 3 "$results")
  printf '%-32s %7.3f %7.3f s %10d KiB peak\n' "$label" "$fastest" "$median" "$kilobytes"
done
read -r floor_fastest floor_median < <(stat "${labels[0]}" 2 "$results")
read -r nsis_fastest nsis_median < <(stat "${labels[3]}" 2 "$results")
for label in "${labels[@]:4}"; do
  read -r launcher_fastest launcher_median < <(stat "$label" 2 "$results")
  peak_max=$(awk -F'\t' -v l="$label" '$1 == l { print $3 }' "$results" | sort -g | tail -1)
  echo "${label%% --silent*}:"
  awk -v lf="$launcher_fastest" -v lm="$launcher_median" -v ff="$floor_fastest" \
    -v fm="$floor_median" -v nf="$nsis_fastest" -v nm="$nsis_median" -v peak="$peak_max" 'BEGIN {
      printf "  / NSIS:                 %5.2f fastest, %5.2f median\n", lf / nf, lm / nm
      printf "  (- floor) / NSIS:       %5.2f fastest, %5.2f median\n", (lf - ff) / nf, (lm - fm) / nm
      printf "  peak memory, highest:   %.0f MiB (limit 480 MiB)\n", peak / 1024 }'
done
# medians FILE UNIT: the median of each step's values, steps in their order.
medians() {
  awk -F'\t' -v unit="$2" '{ if (!($1 in n)) order[++count] = $1; v[$1, ++n[$1]] = $2 }
    END {
      for (i = 1; i <= count; i++) {
        p = order[i]; m = n[p]
        for (a = 1; a <= m; a++) for (b = a + 1; b <= m; b++)
          if (v[p, b] < v[p, a]) { t = v[p, a]; v[p, a] = v[p, b]; v[p, b] = t }
        printf "  %-58s %7.3f %s\n", p, v[p, int((m + 1) / 2)], unit
      }
    }' "$1"
}
echo "where the launcher's time goes, from its log (ms resolution), median of the rounds:"
medians "$phases" s
if [ -n "$other" ]; then
  echo "the same for the other launcher:"
  medians "$phases.other" s
fi
echo "its extraction of the installer step by step (extraction_steps.exe, the same calls), median:"
medians "$steps_results" ms
echo "--- the last run's log"
cut -c1-140 "$log"
