#!/usr/bin/env bash
# Debian's nginx with the module, serving a small signed and reserved base on
# 127.0.0.1 and a free port: bodies against mir_attribution's own stamp,
# ranges, token faults and configuration faults. The test starts nginx in the
# foreground and stops it on every way out.
#   nginx_test.sh MIR_ATTRIBUTION MODULE.so SMALL.exe VECTORS_DIR WORK_DIR
# SMALL.exe: a do-nothing PE (x86_64-w64-mingw32-gcc -Os -nostdlib -e start -s).
# VECTORS_DIR: the tool's published base.exe and vectors.txt (SHA-256, value).
set -euo pipefail
tool=$(realpath "$1") module=$(realpath "$2") small=$(realpath "$3") vectors=$(realpath "$4")
work=$(realpath -m "$5")
source "$(dirname "$(realpath "$0")")/nginx_run.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() {
  echo "FAILED: $*"
  exit 1
}
trap nginx_stop EXIT

# The base: the small PE signed with a throw-away certificate, then reserved.
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.pem -days 2 \
  -subj "/CN=Mirelo Test Signing" >/dev/null 2>&1
osslsigncode sign -certs cert.pem -key cert.key -n "Mirelo Browser Setup" -in "$small" \
  -out signed.exe >/dev/null
name=mirelo_browser_setup.exe
base=$work/$name
"$tool" reserve signed.exe "$base" >/dev/null
size=$(stat -c %s "$base")
offset=$((size - 4112))
for id in k1 k2 k3; do head -c 40 /dev/urandom >$id.key; done
head -c 31 /dev/urandom >short.key
head -c 32 /dev/urandom >open.key
chmod 600 ./*.key
chmod 644 open.key

write_config() {  # file, port, key directives, [base]
  nginx_config "$1" "$2" "$work" "$module" "location /download/ { mir_attribution ${4:-$base}; }
    location /vectors/ { mir_attribution $vectors/base.exe; }" "$3"
}
serving_config() {
  write_config nginx.conf "$1" "mir_attribution_key k1 $work/k1.key; mir_attribution_key k2 $work/k2.key;"
}
nginx_start "$work" serving_config "/download/$name" || fail "nginx did not start"
port=$nginx_port
curl -sf "http://127.0.0.1:$port/download/$name" | cmp - "$base" || fail "the base is not served"
prefix="http://127.0.0.1:$port/download"
link() { "$tool" link --key-file="$work/k1.key" --key-id=k1 --expires=$(($(date +%s) + 3600)) "$@" "$prefix" | tail -1; }
header() { tr -d '\r' <"$1" | sed -n "s/^$2: //Ip"; }

# Bodies: each download is the tool's stamp of the base, reads back, verifies.
printf 'src=web' >ascii.value
printf 'src=caf\xc3\xa9&who=\xe6\x97\xa5\xf0\x9f\x98\x80' >multibyte.value
head -c 4096 /dev/zero | tr '\0' L >longest.value
for value in ascii multibyte longest; do
  "$tool" stamp --value-file=$value.value "$base" expected-$value.exe >/dev/null
  curl -sf -D $value.headers -o got-$value.exe "$(link --value-file=$value.value)"
  cmp got-$value.exe expected-$value.exe || fail "$value: not the stamped base"
  cmp <("$tool" read got-$value.exe) <(cat $value.value && echo) || fail "$value: read back"
  osslsigncode verify -CAfile cert.pem got-$value.exe >/dev/null || fail "$value: signature"
  etag=$(header $value.headers etag)
  [ "$etag" = "\"$(printf %x "$(stat -c %Y "$base")")-$(printf %x "$size")-$(sha256sum <$value.value | cut -c1-16)\"" ] ||
    fail "$value: ETag $etag"
done

# The published vectors: each value's download has the SHA-256 given.
while read -r sha256 value; do
  got=$(curl -sf "$(link --value="$value" --file-name=base.exe | sed 's|/download/|/vectors/|')" | sha256sum)
  [ "${got%% *}" = "$sha256" ] || fail "vector $value: $got"
done <"$vectors/vectors.txt"

# Ranges of one stamped download, against the expected file.
url=$(link --value-file=multibyte.value)
expected=expected-multibyte.exe
etag=$(header multibyte.headers etag)
while IFS='|' read -r label status start length args; do
  # shellcheck disable=SC2086
  code=$(curl -s -o part.bin -w '%{http_code}' $args "$url")
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  if [ -n "$start" ]; then
    cmp part.bin <(tail -c +$((start + 1)) $expected | head -c "$length") || fail "$label: body"
  fi
done <<EOF
straddling the slot|206|$((offset - 100))|200|-r $((offset - 100))-$((offset + 99))
inside the slot|206|$((offset + 8))|20|-r $((offset + 8))-$((offset + 27))
suffix|206|$((size - 50))|50|-r -50
open|206|$((size - 5000))|5000|-r $((size - 5000))-
past the end|416|||-r $size-
several ranges: the whole file|200|0|$size|-r 0-9,$offset-$((offset + 9))
If-Range with the current ETag|206|10|10|-r 10-19 -H If-Range:$etag
If-Range with a stale ETag|200|0|$size|-r 10-19 -H If-Range:"stale"
If-None-Match with the current ETag|304|||-H If-None-Match:$etag
EOF
curl -sfI "$url" >head.headers
[ "$(header head.headers content-length)" = "$size" ] || fail "HEAD: Content-Length"
[ "$(header head.headers etag)" = "$etag" ] || fail "HEAD: ETag"
[ "$(header head.headers accept-ranges)" = bytes ] || fail "HEAD: Accept-Ranges"
[ "$(header head.headers last-modified)" = "$(TZ=GMT date -r "$base" '+%a, %d %b %Y %H:%M:%S GMT')" ] ||
  fail "HEAD: Last-Modified"
: >joined.bin
for range in 0-$((offset - 1)) $offset-$((offset + 2000)) $((offset + 2001))-; do
  curl -sf -r "$range" "$url" >>joined.bin
done
cmp joined.bin $expected || fail "three ranges joined are not the whole"

# Links the launcher could not use are refused by the tool, with the reason.
printf 'a\0b' >nul.value
head -c 4097 /dev/zero | tr '\0' L >long.value
while IFS='|' read -r label status message args; do
  code=0
  # shellcheck disable=SC2086
  "$tool" link $args "$prefix" >link.out 2>&1 || code=$?
  [ "$code" = "$status" ] || fail "link, $label: exit $code"
  grep -qF -- "$message" link.out || { cat link.out; fail "link, $label: not the message"; }
  ! grep -q "^http" link.out || fail "link, $label: printed a link"
done <<EOF
NUL byte|1|would refuse the value|--key-file=k1.key --key-id=k1 --expires=9 --value-file=nul.value
not UTF-8|1|would refuse the value|--key-file=k1.key --key-id=k1 --expires=9 --value=$(printf 'a\xff')
4097 bytes|1|longer than 4096 bytes|--key-file=k1.key --key-id=k1 --expires=9 --value-file=long.value
world-readable key|1|readable by every user|--key-file=open.key --key-id=k1 --expires=9 --value=a
malformed key id|2|a key id is|--key-file=k1.key --key-id=k/1 --expires=9 --value=a
no expiry|2|--expires=TIME|--key-file=k1.key --key-id=k1 --value=a
EOF

# Token faults: the base unchanged, and the reason in the error log.
token=$(basename "$(dirname "$url")")
IFS=. read -r value64 expires key_id mac64 <<<"$token"
alphabet=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_
flip() {  # the lowest bit of the first character's six
  local before=${alphabet%%"${1:0:1}"*}
  echo "${alphabet:$((${#before} ^ 1)):1}${1:1}"
}
b64url() { base64 -w0 | tr '+/' '-_' | tr -d '='; }
be() { for ((i = $2 - 1; i >= 0; i--)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done; }
# A token made by hand, the way an edge function would check one.
by_hand() {  # value file, expires
  local mac
  mac=$({ printf MIRLINK1 && be ${#name} 4 && printf %s $name && be "$(stat -c %s "$1")" 4 && cat "$1" &&
    be "$2" 8; } | openssl dgst -sha256 -mac HMAC -macopt "hexkey:$(od -An -tx1 -v k1.key | tr -d ' \n')" -binary |
    b64url)
  echo "$prefix/$(b64url <"$1").$2.k1.$mac/$name"
}
future=$(($(date +%s) + 600))
curl -sf -o by-hand.exe "$(by_hand multibyte.value $future)"
cmp by-hand.exe $expected || fail "a token made by hand is not accepted"
printf 'src=\xff' >refused.value
while IFS='|' read -r label link reason; do
  : >error.log
  curl -sf -o body.bin "$link" || fail "$label: the download failed"
  cmp body.bin "$base" || fail "$label: not the base"
  grep -qF "$reason" error.log || { cat error.log; fail "$label: no reason in the error log"; }
done <<EOF
missing|$prefix/$name|the link has no token
expired|$(link --value=src=old --expires=$(($(date +%s) - 10)) 2>/dev/null)|expired
unknown key id|$("$tool" link --key-file=k3.key --key-id=k3 --expires=$future --value=a "$prefix" | tail -1)|no key has the token's id k3
bit in the MAC|$prefix/$value64.$expires.$key_id.$(flip "$mac64")/$name|MAC does not match
bit in the value|$prefix/$(flip "$value64").$expires.$key_id.$mac64/$name|MAC does not match
bit in the expiry|$prefix/$value64.${expires%?}$((${expires: -1} ^ 1)).$key_id.$mac64/$name|MAC does not match
malformed|$prefix/not-a-token/$name|fewer than four fields
refused value|$(by_hand refused.value $future)|the launcher would refuse the link's value
EOF
nginx_stop

# Configuration faults stop nginx -t with the reason.
while IFS='|' read -r label keys served message; do
  write_config bad.conf 1 "$keys" "$served"
  if /usr/sbin/nginx -t -p "$work" -c "$work/bad.conf" >check.out 2>&1; then fail "$label: accepted"; fi
  grep -qF "$message" check.out || { cat check.out; fail "$label: not the message"; }
done <<EOF
missing key file|mir_attribution_key k1 $work/none.key;||none.key" cannot be read
short key file|mir_attribution_key k1 $work/short.key;||holds 31 bytes; a key is 32 to 4096 bytes
world-readable key file|mir_attribution_key k1 $work/open.key;||is readable by every user
key id twice|mir_attribution_key k1 $work/k1.key; mir_attribution_key k1 $work/k2.key;||given twice
no key|||needs at least one mir_attribution_key
unreserved base|mir_attribution_key k1 $work/k1.key;|$small|is not a reserved base
EOF
echo "nginx module test passed (port $port)"
