#!/usr/bin/env bash
# While the installer runs, a directory in the work directory is swapped for
# a link to a directory of someone else's: the launcher's clean-up afterwards
# removes at most the link, never anything behind it.
#   link_swap_test.sh WINE_RUN LAUNCHER.exe WORK_DIR
set -euo pipefail
wine_run=$1 launcher=$2 work=$(realpath -m "$3")
rm -rf "$work"
mkdir -p "$work/tmp" "$work/elsewhere"
echo keep >"$work/elsewhere/precious.txt"
windows() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }
fail() { echo "FAILED: $*"; exit 1; }
temp=$(windows "$work/tmp")
# The installer (the payload probe) inherits this and waits before it ends.
export MIR_PROBE_SLEEP_MS=4000
"$wine_run" cmd /c "set TMP=$temp&& set TEMP=$temp&& $(windows "$launcher") --silent" &
launcher_pid=$!
for _ in $(seq 200); do
  set -- "$work"/tmp/MirSetup_*/mir_installer_win_temp.exe
  [ -f "$1" ] && break
  sleep 0.05
done
[ -f "$1" ] || fail "the installer was never written"
directory=$(dirname "$1")
mkdir "$directory/sub"
echo mine >"$directory/sub/file.txt"
rm -rf "$directory/sub"
ln -s "$work/elsewhere" "$directory/sub"
status=0
wait $launcher_pid || status=$?
cat "$work/tmp/mir_setup_launcher.log"
[ "$status" = 0 ] || fail "exit status $status"
[ -f "$work/elsewhere/precious.txt" ] || fail "the clean-up deleted a file behind the link"
grep -q 'Process completed with exit code: 0$' "$work/tmp/mir_setup_launcher.log" ||
  fail "the installer did not run to its end"
rm -rf "$work"
echo "link swap test passed"
