#!/usr/bin/env bash
# The command line of mir_attribution, natively, on the synthetic signed image.
#   cli_test.sh MIR_ATTRIBUTION IMAGE WORK_DIR
set -euo pipefail
tool=$(realpath "$1") image=$(realpath "$2") work=$(realpath -m "$3")
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

"$tool" --help | grep -q "mir_attribution stamp" || fail "--help"
for option in --value= --value-file= --form=trailer --form=delimited --fix-checksum --in-place; do
  "$tool" stamp --help | grep -q -- "$option" || fail "stamp --help does not document $option"
done
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

# A value's bytes are taken as given, from the argument or from a file.
printf 'a\tb\nc\n' >value.bin
"$tool" stamp --value-file=value.bin --form=delimited "$image" lines.exe >/dev/null
cmp <("$tool" read lines.exe) <(printf 'a\tb\nc\n\n') || fail "--value-file did not stamp its bytes"
"$tool" stamp --value="$(printf 'caf\xc3\xa9')" "$image" utf8.exe >/dev/null
[ "$("$tool" read utf8.exe)" = "$(printf 'caf\xc3\xa9')" ] || fail "UTF-8 value"

# Refusals name the file and the reason, exit 1 and write nothing: OUT
# keeps what it held, and no temporary file is left beside it.
printf 'MZ but nothing else' >plain.bin
echo "an earlier output" >out.exe
refuse() {  # expected-reason, stamp arguments...
  local reason=$1 message status=0
  shift
  message=$("$tool" stamp "$@" 2>&1) || status=$?
  [ $status -eq 1 ] || fail "stamp $* exits $status"
  [[ $message == *"$reason"* ]] || fail "stamp $*: message: $message"
  [ "$(cat out.exe)" = "an earlier output" ] || fail "stamp $* changed its output"
}
refuse "not a PE image" --value=x plain.bin out.exe
refuse "not well-formed UTF-8 (byte 3)" --value="$(printf 'bad\xff')" "$image" out.exe
refuse "not well-formed UTF-8 (byte 1)" --value="$(printf 'a\x80b')" "$image" out.exe
refuse "the launcher would find no value" --value=xMIRBCH01abcdz "$image" out.exe
refuse "cannot carry a value that holds" --value=a:CHANNEL_INFOb --form=delimited "$image" out.exe
printf 'a\0b' >nul.bin  # the registry string would end at the NUL
refuse "NUL byte (byte 1)" --value-file=nul.bin "$image" out.exe
refuse "4097 bytes long" --value="$(head -c 4097 /dev/zero | tr '\0' a)" "$image" out.exe
if ls -a | grep -q stamping; then fail "a temporary file was left behind"; fi
status=0; "$tool" read plain.bin 2>/dev/null || status=$?
[ $status -eq 1 ] || fail "read of a file without a record exits $status"

# A read-only input is only read; the output is an ordinary file.
cp "$image" readonly.exe
chmod 444 readonly.exe
"$tool" stamp --value=ro readonly.exe from_readonly.exe >/dev/null
[ "$("$tool" read from_readonly.exe)" = ro ] || fail "stamp of a read-only input"
[ "$(stat -c %a from_readonly.exe)" != 444 ] || fail "the output inherited the input's mode"
echo "cli test passed"
