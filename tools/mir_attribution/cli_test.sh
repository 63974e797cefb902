#!/usr/bin/env bash
# The command line of mir_attribution, natively, on the synthetic signed image.
#   cli_test.sh MIR_ATTRIBUTION IMAGE WORK_DIR FAILING_IO_LIBRARY
set -euo pipefail
tool=$(realpath "$1") image=$(realpath "$2") work=$(realpath -m "$3")
bases=$(realpath "$(dirname "$0")/testdata/base") failing_io=$(realpath "$4")
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

"$tool" --help | grep -q "mir_attribution stamp" || fail "--help"
for option in --value= --value-file= --form=trailer --form=delimited --fix-checksum --in-place; do
  "$tool" stamp --help | grep -q -- "$option" || fail "stamp --help does not document $option"
done
"$tool" read --help | grep -q -- "--verbose" || fail "read --help"
[[ $("$tool" --version) =~ ^mir_attribution\ [0-9]+(\.[0-9]+){3}$ ]] || fail "--version"
for arguments in "stamp --version" "--version --help" "--version extra"; do
  status=0; "$tool" $arguments >/dev/null 2>&1 || status=$?
  [ $status -eq 2 ] || fail "$arguments exits $status"
done
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
printf 'a\nb\n\n' >value.bin
"$tool" stamp --value-file=value.bin --form=delimited "$image" lines.exe >/dev/null
cmp <("$tool" read lines.exe) <(printf 'a\nb\n\n\n') || fail "--value-file did not stamp its bytes"
printf 'a\0b' >nul.bin
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
refuse 'cannot carry a value that holds "MIRBCH01"' --value=xMIRBCH01abcdz "$image" out.exe
refuse "holds a NUL byte (byte 1)" --value-file=nul.bin "$image" out.exe
refuse "cannot carry a value that holds" --value=a:CHANNEL_INFOb --form=delimited "$image" out.exe
refuse "4097 bytes long" --value="$(head -c 4097 /dev/zero | tr '\0' a)" "$image" out.exe
if ls -a | grep -q stamping; then fail "a temporary file was left behind"; fi
status=0; message=$("$tool" read plain.bin 2>&1) || status=$?
[ $status -eq 1 ] || fail "read of a file without a record exits $status"
[ "$message" = "mir_attribution: plain.bin: no CHANNEL_INFO record found" ] || fail "read: $message"

# A read-only input is only read; the output is an ordinary file.
cp "$image" readonly.exe
chmod 444 readonly.exe
"$tool" stamp --value=ro readonly.exe from_readonly.exe >/dev/null
[ "$("$tool" read from_readonly.exe)" = ro ] || fail "stamp of a read-only input"
[ "$(stat -c %a from_readonly.exe)" = 444 ] || fail "the output does not keep the input's mode"

# Command-line faults: each row is a stamp that must exit with the status
# given and leave out.exe as it was.
head -c 4097 /dev/zero | tr '\0' a >long.bin
while IFS='|' read -r expected reason arguments; do
  status=0
  # shellcheck disable=SC2086
  message=$(eval "\"\$tool\" stamp $arguments" 2>&1) || status=$?
  [ $status -eq "$expected" ] || fail "stamp $arguments exits $status: $message"
  [[ $message == *"$reason"* ]] || fail "stamp $arguments: message: $message"
  [ "$(cat out.exe)" = "an earlier output" ] || fail "stamp $arguments changed its output"
done <<'ROWS'
1|longer than 4096 bytes|--value-file=long.bin "$image" out.exe
2|usage|--value=a --value-file=value.bin "$image" out.exe
2|unknown --form trailr|--value=a --form=trailr "$image" out.exe
1|a base's checksum is left alone|--value=a --fix-checksum "$bases/base.exe" out.exe
ROWS

# Whole command lines: each command takes its own switches only, "--" ends
# the switches, and a record the launcher would find in a base or in place
# of the value is named with where it lies. Each row ends with the status
# given and prints the text given (standard output and error together).
cp "$bases/signed.exe" payload.exe
printf 'CHANNEL_INFO:x:CHANNEL_INFO' | dd of=payload.exe bs=1 seek=$((0x600)) conv=notrunc 2>/dev/null
cp "$image" tag_in_signature.exe
printf '\x30\x0eCHANNEL_INFO:x' | dd of=tag_in_signature.exe bs=1 seek=$((0x208)) conv=notrunc 2>/dev/null
while IFS='|' read -r expected text arguments; do
  status=0
  output=$(eval "\"\$tool\" $arguments" 2>&1) || status=$?
  [ $status -eq "$expected" ] || fail "$arguments exits $status: $output"
  [[ $output == *"$text"* ]] || fail "$arguments: output: $output"
done <<'ROWS'
0|mir_attribution link --key-file=FILE|--help
0|       mir_attribution reserve IN BASE|-h
0|mir_attribution |--version
0|--verbose  the search's log lines|read --help
2|unknown command frobnicate|frobnicate
2|unknown switch --value=a|--value=a stamp "$image" out.exe
2|unknown switch --in-place|read --in-place "$image"
2|unknown switch --verbose|stamp --value=a --verbose "$image" out.exe
2|unknown switch --value|reserve --value=a "$image" out.exe
2|--in-place takes no value|stamp --value=a --in-place=yes out.exe
2|--key-id without its value|link --key-file=k --expires=9 --value=a https://x --key-id
2|a usage error|plan --value=a --value-file=value.bin "$bases/base.exe"
2|a usage error|reserve "$image"
0|source=promo|read -- "$image"
1|--verbose: cannot be opened|read -- --verbose
1|a value in the base: a delimited record at offset 1536, inside section .rdata|reserve payload.exe out.exe
1|another value in the stamped file: a delimited record at offset 522, inside the certificate table|stamp --value=later --form=delimited tag_in_signature.exe out.exe
ROWS
[ "$(cat out.exe)" = "an earlier output" ] || fail "a refused command changed out.exe"

# A restamp in place with a shorter value gives what a copy gives.
"$tool" stamp --value="a long first value" "$image" long.exe >/dev/null
"$tool" stamp --value=short long.exe short.exe >/dev/null
"$tool" stamp --value=short --in-place long.exe >/dev/null
cmp long.exe short.exe || fail "an in-place restamp differs from a copy"

# --fix-checksum, against the checksum computed here: 16-bit words folded
# at every carry, the checksum field (0xD8) counted as zero, plus the size.
# 256 KiB of 0xFF bytes carry past 32 bits without the folds.
{ head -c 512 "$image"; head -c $((0x40000 - 512)) /dev/zero | tr '\0' '\377'
  tail -c +513 "$image"; } >ones.exe
put32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) \
  $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" | dd of="$1" bs=1 seek=$(($2)) conv=notrunc 2>/dev/null; }
put32 ones.exe 0x128 0x40000
"$tool" stamp --value=sum --fix-checksum ones.exe summed.exe >/dev/null
expected=$(od -An -v -tu2 -w2 summed.exe | awk -v size="$(stat -c %s summed.exe)" '
  NR != 109 && NR != 110 { s += $1; s = s % 65536 + int(s / 65536) }  # words 0xD8, 0xDA skipped
  END { printf "%u", s + size }')
[ "$(od -An -tu4 -j $((0xD8)) -N4 summed.exe | tr -d ' ')" = "$expected" ] || fail "--fix-checksum"

# Hostile files. Each row makes hostile.exe; stamping it (to a copy, and in
# place) must end with the status and reason given, in bounded time and
# memory, and leave hostile.exe and out.exe as they were with nothing left
# beside them. FSIZE limits the size of files written (KiB); XFSZ=ignore
# turns going past it into a failed write, as on a full disk, and otherwise
# the tool is killed in the middle of writing. MIR_FAIL_IO makes writes fail
# as a full disk (ENOSPC) or a failing device (EIO at fsync, and at close) does.
sparse() {  # size, table offset: the image's table moved to the end of a sparse file
  cp "$image" hostile.exe
  truncate -s "$1" hostile.exe
  tail -c +513 "$image" | dd of=hostile.exe bs=1M seek="$2" oflag=seek_bytes conv=notrunc 2>/dev/null
  put32 hostile.exe 0x128 "$2"
}
huge() { sparse $((0x120000000)) $((0x80000000)); put32 hostile.exe 0x12C 0xA0000000; }
over_512_mib() { sparse $((0x20000000 + 40)) $((0x20000000)); }
big_table() { sparse $((0x12C00000)) 512; put32 hostile.exe 0x12C $((0x12C00000 - 512)); }
in_headers() {  # table offset: a first entry from there to the signature
  cp "$image" hostile.exe
  put32 hostile.exe 0x128 "$1"
  put32 hostile.exe 0x12C $((552 - $1))
  put32 hostile.exe "$1" $((0x200 - $1))
}
truncated() { head -c 548 "$image" >hostile.exe; }
past_end() { cp "$image" hostile.exe; put32 hostile.exe 0x128 0x1000; }
long_value() { cp "$image" hostile.exe; head -c 1500 /dev/zero | tr '\0' v >value.bin; }
# At most 400 MB, by the address space, or by ASan's allocator in its build.
memory_limit='ulimit -v 400000'
if grep -q AddressSanitizer "$tool"; then memory_limit='export ASAN_OPTIONS=max_allocation_size_mb=400'; fi
fingerprint() { stat -c %s "$1"; head -c 65536 "$1" | sha256sum; tail -c 65536 "$1" | sha256sum; }
while IFS='|' read -r name maker modes limits expected reason; do
  rm -f hostile.exe && printf 'v' >value.bin && $maker
  before=$(fingerprint hostile.exe)
  for mode in $modes; do
    [ "$mode" = copy ] && files=(hostile.exe out.exe) || files=(--in-place hostile.exe)
    status=0
    message=$(eval "$limits"; eval "$memory_limit"; timeout 20 "$tool" stamp --value-file=value.bin \
      "${files[@]}" 2>&1) || status=$?
    [ $status -eq "$expected" ] || fail "$name ($mode) exits $status: $message"
    [[ $message == *"$reason"* ]] || fail "$name ($mode): message: $message"
    [[ $message != *InstallAttribution* ]] || fail "$name ($mode) logs without --verbose: $message"
    [ "$(fingerprint hostile.exe)" = "$before" ] || fail "$name ($mode) changed the file"
    [ "$(cat out.exe)" = "an earlier output" ] || fail "$name ($mode) changed its output"
    if ls -a | grep -q stamping; then fail "$name ($mode) left a temporary file"; fi
  done
done <<'ROWS'
4.5 GiB, a 2.5 GiB table|huge|copy in-place||1|the file is 4831838208 bytes; the launcher reads no file over 536870912
a launcher over 512 MiB|over_512_mib|copy in-place||1|the launcher reads no file over 536870912
a table of 300 MiB|big_table|copy in-place||1|the certificate table is 314572288 bytes; at most 1048576 are read
a table inside the DOS header|in_headers 0x40|copy in-place||1|the certificate table starts inside the headers (at 64)
a table inside the optional header|in_headers 0x120|copy in-place||1|starts inside the headers (at 288)
a truncated table|truncated|copy in-place||1|the certificate table is cut short: it should end at 552, the file ends at 548
a directory past the end|past_end|copy in-place||1|the certificate directory points past the end of the file
in place past the file size limit|long_value|in-place|ulimit -f 1; trap '' XFSZ|1|cannot be written; it was put back as it was
a copy past the file size limit|long_value|copy|ulimit -f 1; trap '' XFSZ|1|cannot be written
a copy killed while it writes|long_value|copy|ulimit -f 1|153|
in place on a full disk|long_value|in-place|export LD_PRELOAD=$failing_io MIR_FAIL_IO=enospc:0|1|cannot be written; it was put back as it was
a copy onto a full disk|long_value|copy|export LD_PRELOAD=$failing_io MIR_FAIL_IO=enospc:600|1|cannot be written (No space left on device)
a copy onto a failing disk|long_value|copy|export LD_PRELOAD=$failing_io MIR_FAIL_IO=sync|1|cannot be written (Input/output error)
in place on a disk that fails to sync|long_value|in-place|export LD_PRELOAD=$failing_io MIR_FAIL_IO=fsync|1|cannot be written
ROWS

# A base: reserve writes it, stamping fills its slot, plan describes it.
cp "$bases/signed.exe" signed.exe
"$tool" reserve signed.exe base.exe >/dev/null
cmp base.exe "$bases/base.exe" || fail "reserve does not give the checked-in base"
if "$tool" read base.exe 2>/dev/null; then fail "the base reads as stamped"; fi
status=0; "$tool" reserve base.exe again.exe 2>/dev/null || status=$?
[ $status -eq 1 ] && [ ! -e again.exe ] || fail "a base reserved again"
plan=$("$tool" plan base.exe)
field() { sed -n "s/^  \"$1\": //p" <<<"$2" | sed 's/,$//; s/^"//; s/"$//'; }
size=$(stat -c %s base.exe) offset=$((size - 4112))
# The first 16 hex digits of the SHA-256 of the checked-in base's checksum
# field, certificate directory entry and table up to the slot (Python's hashlib).
etag=8462fb0ad537f5d9
[ "$(field file_size "$plan")" = "$size" ] && [ "$(field slot_offset "$plan")" = $offset ] &&
  [ "$(field slot_size "$plan")" = 4112 ] && [ "$(field form "$plan")" = trailer ] &&
  [ "$(field base_sha256 "$plan")" = "$(sha256sum <base.exe | cut -c1-64)" ] &&
  [ "$(field etag "$plan")" = "\\\"$etag\\\"" ] && ! grep -q last_modified <<<"$plan" ||
  fail "plan: $plan"
# release_check: the base's bytes in its ranges hash to its sha256, which the ETag begins.
check=$(field release_check "$plan")
check_sha=$(sed 's/.*"sha256": "\([0-9a-f]*\)".*/\1/' <<<"$check")
[ "$(grep -o '\[[0-9]*, [0-9]*\]' <<<"$check" | tr -d '[],' | while read -r at n; do
  tail -c +$((at + 1)) base.exe | head -c "$n"; done | sha256sum | cut -c1-64)" = "$check_sha" ] &&
  [ "${check_sha:0:16}" = $etag ] || fail "release_check: $check"
# The checked-in base's ETag for the value src=web, as every server must give it.
[ "$(field stamped_etag "$("$tool" plan --value=src=web base.exe)")" = '\"8462fb0ad537f5d9-17e68c6e02eccc2b\"' ] ||
  fail "stamped_etag of src=web: $("$tool" plan --value=src=web base.exe)"
# The ETag is the content's: a copy with another file time has it too, a stamped copy is no base.
cp base.exe copy.exe && touch -d @1000000000 copy.exe
[ "$("$tool" plan copy.exe)" = "$plan" ] || fail "plan of a copy: $("$tool" plan copy.exe)"
"$tool" stamp --value=x base.exe stamped.exe >/dev/null
status=0; "$tool" plan stamped.exe >plan.out 2>&1 || status=$?
[ $status = 1 ] && grep -q "its slot holds a record: a stamped copy, not a base" plan.out ||
  fail "plan of a stamped copy: $(cat plan.out)"

# The checked-in vectors: a value, and the SHA-256 of the base stamped with
# it, which is the base's first slot_offset bytes, the trailer record and
# zeros. The tool (copy, in place, plan) and this script must give them.
while read -r digest value; do
  "$tool" stamp --value="$value" base.exe vector.exe >/dev/null
  cp base.exe in_place.exe
  "$tool" stamp --value="$value" --in-place in_place.exe >/dev/null
  length=$(LC_ALL=C; echo ${#value})
  by_hand=$({ head -c $offset base.exe; printf 'MIRBCH01'
    printf "$(printf '\\x%02x\\x%02x\\0\\0' $((length & 255)) $((length >> 8)))"
    printf '%s' "$value"; head -c $((4112 - 12 - length)) /dev/zero; } | sha256sum | cut -c1-64)
  plan=$("$tool" plan --value="$value" base.exe)
  for got in "$(sha256sum <vector.exe | cut -c1-64)" "$(sha256sum <in_place.exe | cut -c1-64)" \
    "$by_hand" "$(field stamped_sha256 "$plan")"; do
    [ "$got" = "$digest" ] || fail "vector ${value:0:20}: $got"
  done
  [ "$("$tool" read vector.exe)" = "$value" ] || fail "vector ${value:0:20} read back"
  osslsigncode verify -CAfile "$bases/ca.pem" vector.exe >verify.log 2>&1 ||
    fail "vector ${value:0:20} does not verify: $(cat verify.log)"
done <"$bases/vectors.txt"
echo "cli test passed"
