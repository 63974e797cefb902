# Checks that the download servers' tests (the nginx module's, the edge
# Worker's) share, sourced after they define `tool` (mir_attribution),
# `fail`, and `link` (which prints a signed link for its arguments).

# The value of header $2 in the header dump $1.
header() { tr -d '\r' <"$1" | sed -n "s/^$2: //Ip"; }
# The string field $1 of `mir_attribution plan` with the other arguments.
planned() { "$tool" plan "${@:2}" | sed -n "s/^  \"$1\": \"\\(.*\\)\",*$/\\1/p" | tr -d '\\'; }

# check_stamped_bodies BASE CA.pem: for an ASCII, a multi-byte and the
# longest value (left in ascii.value, multibyte.value, longest.value, the
# headers in VALUE.headers), the download through its link is the tool's
# stamp of BASE, reads back, verifies, and has plan's ETag and no
# Last-Modified.
check_stamped_bodies() {
  local value etag
  printf 'src=web' >ascii.value
  printf 'src=caf\xc3\xa9&who=\xe6\x97\xa5\xf0\x9f\x98\x80' >multibyte.value
  head -c 4096 /dev/zero | tr '\0' L >longest.value
  for value in ascii multibyte longest; do
    "$tool" stamp --value-file=$value.value "$1" expected-$value.exe >/dev/null
    curl -sf -D $value.headers -o got-$value.exe "$(link --value-file=$value.value)"
    cmp got-$value.exe expected-$value.exe || fail "$value: not the stamped base"
    cmp <("$tool" read got-$value.exe) <(cat $value.value && echo) || fail "$value: read back"
    osslsigncode verify -CAfile "$2" got-$value.exe >/dev/null || fail "$value: signature"
    etag=$(header $value.headers etag)
    [ "$etag" = "$(planned stamped_etag --value-file=$value.value "$1")" ] || fail "$value: ETag $etag"
    [ -z "$(header $value.headers last-modified)" ] || fail "$value: Last-Modified"
  done
}
