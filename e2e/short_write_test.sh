#!/usr/bin/env bash
# A payload written short (a full disk; here a limit on the size of files)
# fails the run with the error of that write, never a stale one: line 85
# names ERROR_WRITE_FAULT (29), and the exit code is 1.
#   short_write_test.sh WINE_RUN LAUNCHER.exe PAYLOAD WORK_DIR
set -euo pipefail
wine_run=$1 launcher=$2 payload=$3 work=$(realpath -m "$4")
rm -rf "$work"
mkdir -p "$work/tmp"
windows() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }
fail() { echo "FAILED: $*"; exit 1; }
temp=$(windows "$work/tmp")
status=0
# Files of half the payload's size: the log fits, the payload does not. A
# write past the limit raises SIGXFSZ, ignored here so that it returns short.
limit_kib=$(($(stat -c %s "$payload") / 2048))
(ulimit -f $limit_kib; trap '' XFSZ
 "$wine_run" cmd /c "set TMP=$temp&& set TEMP=$temp&& $(windows "$launcher") --silent") || status=$?
log="$work/tmp/mir_setup_launcher.log"
[ -f "$log" ] || fail "no log"
cat "$log"
[ "$status" = 1 ] || fail "exit status $status"
grep -q 'ERROR:mir_installer_win/setup_launcher/setup_launcher_main:85] WriteFile failed for .*MIR_SETUP_GUIDE_EXE_NAME, error: 29$' "$log" ||
  fail "line 85 does not name ERROR_WRITE_FAULT"
grep -q 'Setup Launcher Completed with exit code: 1$' "$log" || fail "the run did not end with 1"
rm -rf "$work"
echo "short write test passed"
