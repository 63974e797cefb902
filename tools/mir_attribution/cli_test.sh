#!/usr/bin/env bash
# The command line of mir_attribution, natively, on the synthetic signed image.
#   cli_test.sh MIR_ATTRIBUTION IMAGE WORK_DIR
set -euo pipefail
tool=$(realpath "$1") image=$(realpath "$2") work=$(realpath -m "$3")
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

"$tool" --help | grep -q "mir_attribution stamp" || fail "--help"
"$tool" stamp --help | grep -q -- "--in-place" || fail "stamp --help"
"$tool" read --help | grep -q -- "--verbose" || fail "read --help"
status=0; "$tool" frobnicate 2>/dev/null || status=$?
[ $status -eq 2 ] || fail "an unknown command exits $status"

# The image carries "source=promo"; stamping replaces it.
[ "$("$tool" read "$image")" = source=promo ] || fail "read of the image"
"$tool" stamp --value "src=cli test" --form delimited "$image" stamped.exe | grep -q stamped.exe
[ "$("$tool" read stamped.exe)" = "src=cli test" ] || fail "read after stamp"
"$tool" read --verbose stamped.exe 2>&1 >/dev/null | grep -q "CHANNEL_INFO from file tail window" ||
  fail "--verbose shows no log lines"
cp stamped.exe inplace.exe
"$tool" stamp --value=second --in-place inplace.exe >/dev/null
[ "$("$tool" read inplace.exe)" = second ] || fail "in-place restamp"

# Refusals name the file and the reason, exit non-zero and write nothing.
printf 'MZ but nothing else' >plain.bin
message=$("$tool" stamp --value=x plain.bin out.exe 2>&1) && fail "stamped a non-PE file"
[[ $message == *plain.bin*"not a PE image"* ]] || fail "message: $message"
[ ! -e out.exe ] || fail "a refused stamp wrote its output"
status=0; "$tool" read plain.bin 2>/dev/null || status=$?
[ $status -eq 1 ] || fail "read of a file without a record exits $status"
echo "cli test passed"
