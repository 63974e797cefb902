#!/usr/bin/env bash
# Sign the launcher with a throwaway certificate, stamp it with mir_attribution
# in both forms, and check that the signature still verifies, that the tool
# reads the value back, and that the launcher run under Wine stores it.
#   round_trip_test.sh WINE_RUN LAUNCHER.exe MIR_ATTRIBUTION.exe WORK_DIR
set -Eeuo pipefail
# Every failure names itself: a step whose output is kept quiet, or a program
# Wine fails to start (silent under WINEDEBUG=-all), must not end the test
# without a word.
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND (status $?)"' ERR
wine_run=$(realpath "$1") launcher=$(realpath "$2") tool=$(realpath "$3") work=$(realpath -m "$4")
source "$(dirname "$(realpath "$0")")/../../testing/fixture.sh"
for program in openssl osslsigncode; do
  if ! command -v "$program" >/dev/null; then
    echo "FAILED: $program is not installed (scripts/setup.sh installs it)"
    exit 1
  fi
done
test_work "$work"
windows() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }
tool() { "$wine_run" "$tool" "$@"; }
verify() { osslsigncode verify -CAfile cert.pem "$1" >verify.log 2>&1 || { cat verify.log; fail "$1 no longer verifies"; }; }

sign "$launcher" signed.exe
verify signed.exe
osslsigncode sign -certs cert.pem -key cert.key -nest -in signed.exe -out dual.exe >sign.log 2>&1 ||
  { cat sign.log; fail "nested signing"; }
verify dual.exe

for form in trailer delimited; do
  for input in signed dual; do
    value="src=$form-$input&name=caf$(printf '\xc3\xa9')"
    tool stamp --value="$value" --form=$form "$(windows $input.exe)" "$(windows $input-$form.exe)" \
      >/dev/null || fail "stamp $form $input"
    verify $input-$form.exe
    read_back=$(tool read "$(windows $input-$form.exe)" | tr -d '\r')
    [ "$read_back" = "$value" ] || fail "read gave '$read_back' for $input-$form"
  done
done

# A value from a file, line feeds and all, is stamped byte for byte.
printf 'src=file\nafter a line feed' >value.bin
tool stamp --value-file="$(windows value.bin)" --form=delimited "$(windows signed.exe)" \
  "$(windows from-file.exe)" >/dev/null || fail "stamp --value-file"
verify from-file.exe
cmp <(tool read "$(windows from-file.exe)" | tr -d '\r') <(printf 'src=file\nafter a line feed\n') ||
  fail "--value-file was not stamped byte for byte"

# The launcher run from a stamped file stores the value for the browser
# (ASCII here: reg.exe prints in the console's code page).
stores() {  # value, launcher
  "$wine_run" reg delete 'HKCU\Software\Mirelo Browser' /f >/dev/null 2>&1 || true
  "$wine_run" "$2" --silent || fail "the stamped launcher $2 failed"
  stored=$("$wine_run" reg query 'HKCU\Software\Mirelo Browser\InstallAttribution' /v CHANNEL_INFO |
    tr -d '\r' | sed -n 's/.*CHANNEL_INFO *REG_SZ *//p')
  "$wine_run" reg delete 'HKCU\Software\Mirelo Browser' /f >/dev/null 2>&1 || true
  [ "$stored" = "$1" ] || fail "registry holds '$stored' after $2"
}
tool stamp --value=src=registry-check "$(windows signed.exe)" "$(windows registry.exe)" >/dev/null
stores src=registry-check registry.exe

# A base: reserved once; a stamped copy differs from it only in its slot,
# verifies, and the launcher run from it stores the value. Filling the slot
# in place gives the same file.
tool reserve "$(windows signed.exe)" "$(windows base.exe)" >/dev/null || fail "reserve"
verify base.exe
if tool read "$(windows base.exe)" >/dev/null 2>&1; then fail "the base reads as stamped"; fi
plan=$(tool plan "$(windows base.exe)" | tr -d '\r')
grep -q "\"base_sha256\": \"$(sha256sum <base.exe | cut -c1-64)\"" <<<"$plan" || fail "plan: $plan"
# The checked-in base's ETag, as the native tool gives it.
tool plan "$(windows "$(dirname "$(realpath "$0")")/testdata/base/base.exe")" |
  grep -qF '"etag": "\"8462fb0ad537f5d9\""' || fail "plan's ETag of the checked-in base"
tool stamp --value=src=from-base "$(windows base.exe)" "$(windows from-base.exe)" >/dev/null ||
  fail "stamp of the base"
verify from-base.exe
[ "$(stat -c %s from-base.exe)" = "$(stat -c %s base.exe)" ] || fail "the copy's size differs"
cmp -n $(($(stat -c %s base.exe) - 4112)) base.exe from-base.exe || fail "more than the slot changed"
cp base.exe filled.exe
tool stamp --value=src=from-base --in-place "$(windows filled.exe)" >/dev/null || fail "fill in place"
cmp filled.exe from-base.exe || fail "filling in place differs from a copy"
stores src=from-base from-base.exe

# Restamping replaces the record in place, and can fix the checksum.
cp signed-delimited.exe restamped.exe
tool stamp --value=second --in-place --fix-checksum "$(windows restamped.exe)" >/dev/null
verify restamped.exe
[ "$(tool read "$(windows restamped.exe)" | tr -d '\r')" = second ] || fail "restamp not read"
if grep -q "src=delimited" restamped.exe; then fail "the old record is still there"; fi
# osslsigncode 2.5 (Debian 12) prints the stored and the calculated checksum;
# later versions print the stored one and warn "invalid PE checksum" when it is wrong.
stored=$(sed -n 's/^Current PE checksum *: *//p' verify.log)
if [ -n "$stored" ]; then
  [ "$stored" = "$(sed -n 's/^Calculated PE checksum *: *//p' verify.log)" ] || fail "checksum not fixed"
elif grep -q "invalid PE checksum" verify.log || ! grep -q "^PE checksum" verify.log; then
  fail "checksum not fixed"
fi

# A refused stamp leaves its input byte for byte as it was.
for bad in "--value=$(printf 'bad\xef\xbf\xbe') $(windows signed.exe) $(windows out.exe)" \
           "--value=x --in-place $(windows "$launcher")" \
           "--value=a:CHANNEL_INFOb --form=delimited --in-place $(windows signed.exe)"; do
  before=$(sha256sum signed.exe "$launcher")
  # shellcheck disable=SC2086
  if tool stamp $bad >/dev/null 2>&1; then fail "accepted: $bad"; fi
  [ "$before" = "$(sha256sum signed.exe "$launcher")" ] || fail "input changed by: $bad"
done
[ ! -e out.exe ] || fail "a refused stamp wrote its output"
if tool read "$(windows signed.exe)" >/dev/null 2>&1; then fail "an unstamped file read as stamped"; fi
echo "round trip passed"
