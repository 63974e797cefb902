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
source "$(dirname "$(realpath "$0")")/../../testing/fixture.sh"
source "$(dirname "$(realpath "$0")")/../../testing/download_checks.sh"
test_work "$work"

# The base: the small PE signed with a throw-away certificate, then reserved.
name=mirelo_browser_setup.exe
base=$work/$name
reserve_test_base "$small" "$base"
size=$(stat -c %s "$base")
offset=$((size - 4112))
for id in k1 k2 k3; do head -c 40 /dev/urandom >$id.key; done
head -c 31 /dev/urandom >short.key
head -c 32 /dev/urandom >open.key
chmod 600 ./*.key
chmod 644 open.key
mkdir modes
for mode in 600 640 602 622 660; do install -m $mode k1.key modes/$mode.key; done
install -m 600 -o 65534 k1.key modes/nobody.key 2>/dev/null || true
# A base larger than directio 4m: the small PE with 5 MB appended, signed.
{ cat "$small" && head -c 5000000 /dev/zero; } >big-unsigned.exe
mkdir big && reserve_test_base big-unsigned.exe big/$name
big_size=$(stat -c %s big/$name)
# File names a link must carry through nginx's decoding, each a copy of the
# base in a folder of its own (printf formats).
mapfile -t name_formats <<'EOF'
x%%41.exe
a b+c&d=e;.exe
caf\xc3\xa9.exe
EOF
name_locations=
for i in "${!name_formats[@]}"; do
  mkdir -p names/$i && cp "$base" "names/$i/$(printf "${name_formats[$i]}")"
  name_locations+="location /names/$i/ { mir_attribution \"$work/names/$i/$(printf "${name_formats[$i]}")\"; }"
done
mkdir swap && cp "$base" swap/$name && touch -d @1000000000 swap/$name
# Catalogue folders: bases under two names, and what a folder may not hold.
mkdir -p folder/sub folder-unreserved folder-stamped
cp "$base" folder/$name && cp "$base" folder/other.exe && cp "$small" folder/.partial.exe
cp "$small" folder/sub/ && cp "$small" folder-unreserved/

write_config() {  # file, port, key directives, [base]
  nginx_config "$1" "$2" "$work" "$module" "location /download/ { mir_attribution ${4:-$base}; }
    location /vectors/ { mir_attribution $vectors/base.exe; } location /swap/ { mir_attribution $work/swap/; }
    location /nograce/ { mir_attribution $base; mir_attribution_resume_grace 0; }
    location /etagoff/ { mir_attribution $base; etag off; }
    $name_locations" "$3"
}
serving_config() {
  write_config nginx.conf "$1" "mir_attribution_key k1 $work/k1.key; mir_attribution_key k2 $work/k2.key;"
}
nginx_start "$work" serving_config "/download/$name" || fail "nginx did not start"
port=$nginx_port
curl -sf "http://127.0.0.1:$port/download/$name" | cmp - "$base" || fail "the base is not served"
prefix="http://127.0.0.1:$port/download"
link() { make_link "$work/k1.key" k1 3600 "$prefix" "$@"; }

# Bodies: each download is the tool's stamp of the base, reads back, verifies.
check_stamped_bodies "$base" cert.pem

# The published vectors: each value's download has the SHA-256 given.
while read -r sha256 value; do
  got=$(curl -sf "$(link --value="$value" --file-name=base.exe | sed 's|/download/|/vectors/|')" | sha256sum)
  [ "${got%% *}" = "$sha256" ] || fail "vector $value: $got"
done <"$vectors/vectors.txt"

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

# Ranges of one stamped download (and of the base), against the expected
# file; and of links that expired while a browser paused them, resumed with
# its headers: within the grace (7 days here, 0 under /nograce/, none
# without ETags under /etagoff/) a range of
# the very copy it began, the base otherwise.
url=$(link --value-file=multibyte.value)
in_grace=$(by_hand multibyte.value $(($(date +%s) - 100)))
past_grace=$(by_hand multibyte.value $(($(date +%s) - 7 * 86400 - 100)))
browser="-H Accept-Encoding:identity -H User-Agent:Mozilla/5.0"
expected=expected-multibyte.exe
etag=$(header multibyte.headers etag)
http_date=$(TZ=GMT LC_ALL=C date -r "$base" '+%a, %d %b %Y %T GMT')
printf 'If-Range: %s\r\n' "$http_date" >if-range-date.h
printf 'If-Modified-Since: %s\r\n' "$http_date" >if-modified-since.h
while IFS='|' read -r label target status start length args; do
  case $target in
    base) set -- "$prefix/$name" "$base" ;;
    stamped) set -- "$url" $expected ;;
    in-grace*) set -- "$in_grace" "${target#* }" ;;
    past-grace*) set -- "$past_grace" "${target#* }" ;;
    no-grace*) set -- "$(sed 's|/download/|/nograce/|' <<<"$in_grace")" "${target#* }" ;;
    etag-off*) set -- "$(sed 's|/download/|/etagoff/|' <<<"$in_grace")" "${target#* }" ;;
  esac
  # shellcheck disable=SC2086
  code=$(curl -s -o part.bin -w '%{http_code}' $args "$1")
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  if [ -n "$start" ]; then
    cmp part.bin <(tail -c +$((start + 1)) "$2" | head -c "$length") || fail "$label: body"
  fi
done <<EOF
straddling the slot|stamped|206|$((offset - 100))|200|-r $((offset - 100))-$((offset + 99))
inside the slot|stamped|206|$((offset + 8))|20|-r $((offset + 8))-$((offset + 27))
suffix|stamped|206|$((size - 50))|50|-r -50
open|stamped|206|$((size - 5000))|5000|-r $((size - 5000))-
past the end|stamped|416|||-r $size-
several ranges: the whole file|stamped|200|0|$size|-r 0-9,$offset-$((offset + 9))
several ranges of the base: the whole file|base|200|0|$size|-r 0-9,$offset-$((offset + 9))
If-Range with the current ETag|stamped|206|10|10|-r 10-19 -H If-Range:$etag
If-Range with a stale ETag|stamped|200|0|$size|-r 10-19 -H If-Range:"stale"
If-Range with another value's ETag|stamped|200|0|$size|-r 10-19 -H If-Range:$(header ascii.headers etag)
If-Range with the base's ETag|stamped|200|0|$size|-r 10-19 -H If-Range:$(planned etag "$base")
If-Range with the file's date|stamped|200|0|$size|-r 10-19 -H @if-range-date.h
If-Range with the file's date, the base|base|200|0|$size|-r 10-19 -H @if-range-date.h
If-None-Match with the current ETag|stamped|304|||-H If-None-Match:$etag
If-Modified-Since the file's date|stamped|200|0|$size|-H @if-modified-since.h
If-None-Match and If-Modified-Since|stamped|304|||-H If-None-Match:$etag -H @if-modified-since.h
If-Unmodified-Since: no date, ignored|stamped|206|10|10|-r 10-19 -H If-Unmodified-Since:x
expired, resumed with its copy's ETag|in-grace $expected|206|100|$((size - 100))|-r 100- -H If-Range:$etag $browser
expired, resumed across the slot|in-grace $expected|206|$((offset - 9))|20|-r $((offset - 9))-$((offset + 10)) -H If-Range:$etag $browser
expired, the whole copy|in-grace $base|200|0|$size|$browser
expired, a range without If-Range|in-grace $base|206|$offset|10|-r $offset-$((offset + 9)) $browser
expired, If-Range without a range|in-grace $base|200|0|$size|-H If-Range:$etag $browser
expired, If-Range: the base's ETag|in-grace $base|206|$offset|10|-r $offset-$((offset + 9)) -H If-Range:$(planned etag "$base")
expired, resumed past the grace|past-grace $base|200|0|$size|-r 100- -H If-Range:$etag $browser
expired, resumed with grace 0|no-grace $base|200|0|$size|-r 100- -H If-Range:$etag $browser
expired, resumed with etag off: no grace|etag-off $base|200|0|$size|-r 100- -H If-Range:$etag $browser
EOF
curl -sfI "$url" >head.headers
[ "$(header head.headers content-length)" = "$size" ] || fail "HEAD: Content-Length"
[ "$(header head.headers etag)" = "$etag" ] || fail "HEAD: ETag"
[ "$(header head.headers accept-ranges)" = bytes ] || fail "HEAD: Accept-Ranges"
[ -z "$(header head.headers last-modified)" ] || fail "HEAD: Last-Modified"
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
group-writable key|1|writable by its group|--key-file=modes/660.key --key-id=k1 --expires=9 --value=a
EOF

# Links that would not work are refused too: names a path cannot carry as
# one segment (printf formats), expiries not in the future, prefixes that
# would cut the URL.
now=$(date +%s)
while IFS='|' read -r label status message file_name expires url_prefix; do
  code=0
  "$tool" link --key-file=k1.key --key-id=k1 --value=a --file-name="$(printf "$file_name")" \
    --expires="$expires" "${url_prefix:-$prefix}" >link.out 2>&1 || code=$?
  [ "$code" = "$status" ] || fail "link, $label: exit $code"
  grep -qF -- "$message" link.out || { cat link.out; fail "link, $label: not the message"; }
  ! grep -q "^http" link.out || fail "link, $label: printed a link"
done <<EOF
a line feed in the name|2|control character|x\ny|$((now + 600))
a slash in the name|2|holds '/'|a/b.exe|$((now + 600))
the name ..|2|empty, "." or ".."|..|$((now + 600))
expiring at 0|1|expired already|$name|0
expired a second ago|1|expired already|$name|$((now - 1))
expiring now|1|expired already|$name|$now
20 digits|2|1 to 19 digits|$name|10000000000000000000
a leading zero|2|1 to 19 digits|$name|0$((now + 600))
a space in the prefix|1|URL prefix|$name|$((now + 600))|http://127.0.0.1/a b
a query in the prefix|1|URL prefix|$name|$((now + 600))|http://127.0.0.1/a?b=
EOF
# Names nginx decodes from the printed link back to the name that was signed.
for i in "${!name_formats[@]}"; do
  got=$(make_link k1.key k1 600 "http://127.0.0.1:$port/names/$i/" --value-file=ascii.value \
    --file-name="$(printf "${name_formats[$i]}")")
  curl -sf "$got" | cmp - expected-ascii.exe || fail "the name ${name_formats[$i]}: $got"
done

# Token faults: the base unchanged, and the reason in the error log.
token=$(basename "$(dirname "$url")")
IFS=. read -r value64 expires key_id mac64 <<<"$token"
alphabet=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_
flip() {  # the lowest bit of the first character's six
  local before=${alphabet%%"${1:0:1}"*}
  echo "${alphabet:$((${#before} ^ 1)):1}${1:1}"
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
expired|$(by_hand ascii.value $(($(date +%s) - 10)))|expired
unknown key id|$(make_link k3.key k3 600 "$prefix" --value=a)|no key has the token's id k3
bit in the MAC|$prefix/$value64.$expires.$key_id.$(flip "$mac64")/$name|MAC does not match
bit in the value|$prefix/$(flip "$value64").$expires.$key_id.$mac64/$name|MAC does not match
bit in the expiry|$prefix/$value64.${expires%?}$((${expires: -1} ^ 1)).$key_id.$mac64/$name|MAC does not match
malformed|$prefix/not-a-token/$name|fewer than four fields
refused value|$(by_hand refused.value $future)|the launcher would refuse the link's value
EOF

# The base replaced under its name while nginx serves it: a stamped copy is
# refused, with one line in the error log however many requests; the base
# again is served; a missing base is a missing file, as for static files. A copy with another
# file time has the same ETag.
curl -sfI "http://127.0.0.1:$port/swap/$name" >swap.headers
[ "$(header swap.headers etag)" = "$(planned etag "$base")" ] || fail "a copy's ETag differs"
swap_link=$(link --value-file=ascii.value | sed 's|/download/|/swap/|')
while IFS='|' read -r label file status lines; do
  : >error.log
  if [ -n "$file" ]; then cp "$file" swap/.new && mv swap/.new swap/$name; else rm swap/$name; fi
  for _ in 1 2 3; do
    code=$(curl -s -o body.bin -w '%{http_code}' "$swap_link")
    [ "$code" = "$status" ] || fail "$label: status $code"
    [ "$status" != 200 ] || cmp body.bin expected-ascii.exe || fail "$label: not the stamped copy"
  done
  [ "$(grep -c 'is not a reserved base' error.log)" = "$lines" ] || { cat error.log; fail "$label: log"; }
done <<EOF
removed||404|0
a stamped copy|expected-multibyte.exe|500|1
the base again|$base|200|0
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
key id twice|mir_attribution_key k1 $work/k1.key; mir_attribution_key k1 $work/k2.key;||mir_attribution_key "k1": the key id is given twice
no key|||needs at least one mir_attribution_key
unreserved base|mir_attribution_key k1 $work/k1.key;|$small|is not a reserved base
EOF

# Configurations: each either serves the stamped copy (or a range of it)
# byte for byte, answers 404, or stops nginx -t with its message.
"$tool" stamp --value-file=ascii.value big/$name expected-big.exe >/dev/null
long=$work/$(printf 'd%.0s' {1..200})
mkdir -p "$long" && cp short.key "$long"
token=$(basename "$(dirname "$(link --value-file=ascii.value)")")
other_token=$(basename "$(dirname "$(link --value-file=ascii.value --file-name=other.exe)")")
cp expected-ascii.exe folder-stamped/
folder="location /download/ { mir_attribution $work/folder/; }"
keys="mir_attribution_key k1 $work/k1.key;"
download="location /download/ { mir_attribution $base; "
row_config() { nginx_config nginx.conf "$1" "$work" "$module" "$row_locations" "$row_http"; }
while IFS='|' read -r label row_http row_locations at path expected range; do
  [[ $label != *"another user"* ]] || [ "$(id -u)" = 0 ] || continue  # only root gives files away
  if [ "${expected%%:*}" = refused ]; then
    nginx_config bad.conf 1 "$work" "$module" "$row_locations" "$row_http"
    if /usr/sbin/nginx -t -p "$work" -c "$work/bad.conf" >check.out 2>&1; then fail "$label: accepted"; fi
    grep -qF -- "${expected#refused:}" check.out || { cat check.out; fail "$label: not the message"; }
    continue
  fi
  nginx_start "$work" row_config "$at/$name" || fail "$label: nginx did not start"
  code=$(curl -s -o body.bin -w '%{http_code}' ${range:+-r "$range"} "http://127.0.0.1:$nginx_port$at$path")
  nginx_stop
  if [ "$expected" = 404 ]; then
    [ "$code" = 404 ] || fail "$label: status $code"
  elif [ -n "$range" ]; then
    [ "$code" = 206 ] && cmp body.bin <(tail -c +$((${range%-*} + 1)) expected-$expected.exe |
      head -c $((${range#*-} - ${range%-*} + 1))) || fail "$label: status $code, or not the range"
  else
    [ "$code" = 200 ] && cmp body.bin expected-$expected.exe || fail "$label: status $code, or not the copy"
  fi
done <<EOF
if, no open_file_cache|$keys|$download if (\$arg_x) { add_header X-If 1; } }|/download|/$token/$name?x=1|ascii
if with open_file_cache|$keys open_file_cache max=8;|$download if (\$arg_x) { add_header X-If 1; } }|/download|/$token/$name?x=1|ascii
if with open_file_cache, the bare prefix|$keys open_file_cache max=8;|$download if (\$arg_x) { add_header X-If 1; } }|/download|/?x=1|404
nested regex location|$keys|$download location ~ \.exe\$ { add_header X-Nested 1; } }|/download|/$token/$name|ascii
nested prefix location taking the token|$keys|$download location /download/${token:0:4} { } }|/download|/$token/$name|ascii
prefix without a slash|$keys|location /dl { mir_attribution $base; }|/dl|/$token/$name|ascii
prefix without a slash, the token glued to it|$keys|location /dl { mir_attribution $base; }|/dl|$token/$name|404
directio 4k|$keys directio 4k;|$download }|/download|/$token/$name|ascii
directio 4m on 5 MB|$keys directio 4m;|location /download/ { mir_attribution $work/big/$name; }|/download|/$token/$name|big
directio 4m on 5 MB, a range across the slot|$keys directio 4m;|location /download/ { mir_attribution $work/big/$name; }|/download|/$token/$name|big|$((big_size - 4200))-$((big_size - 4000))
key file 0600|mir_attribution_key k1 $work/modes/600.key;|$download }|/download|/$token/$name|ascii
key file 0640|mir_attribution_key k1 $work/modes/640.key;|$download }|/download|/$token/$name|ascii
key file 0602|mir_attribution_key k1 $work/modes/602.key;|$download }|||refused:writable by its group or every user
key file 0622|mir_attribution_key k1 $work/modes/622.key;|$download }|||refused:writable by its group or every user
key file 0660|mir_attribution_key k1 $work/modes/660.key;|$download }|||refused:writable by its group or every user
key file of another user|mir_attribution_key k1 $work/modes/nobody.key;|$download }|||refused:is owned by user 65534
a short key file in a long folder|mir_attribution_key k1 $long/short.key;|$download }|||refused:$long/short.key" holds 31 bytes; a key is 32 to 4096 bytes
a stamped copy as the base|$keys|location /download/ { mir_attribution $work/expected-ascii.exe; }|||refused:its slot holds a record: a stamped copy, not a base
regex location|$keys|location ~ ^/download/ { mir_attribution $base; }|||refused:needs a prefix location
exact location|$keys|location = /download/$name { mir_attribution $base; }|||refused:needs a prefix location
a folder|$keys|$folder|/download|/$token/$name|ascii
a folder, its other base|$keys|$folder|/download|/$other_token/other.exe|ascii
a folder, a hidden file|$keys|$folder|/download|/$token/.partial.exe|404
a folder, its subfolder|$keys|$folder|/download|/$token/sub|404
a folder, a file in its subfolder|$keys|$folder|/download|/sub/small.exe|404
a folder, its parent|$keys|$folder|/download|/$token/..|404
a folder, the bare prefix|$keys|$folder|/download|/|404
a folder holding an unreserved file|$keys|location /download/ { mir_attribution $work/folder-unreserved/; }|||refused:small.exe" is not a reserved base
a folder holding a stamped copy|$keys|location /download/ { mir_attribution $work/folder-stamped/; }|||refused:a stamped copy, not a base
a missing folder|$keys|location /download/ { mir_attribution $work/none/; }|||refused:opendir()
EOF
! grep "exited on signal" error.log || fail "a worker crashed"
echo "nginx module test passed (port $port)"
