#!/usr/bin/env bash
# The download Worker under workerd, in front of Debian's nginx as its origin,
# against the nginx module serving the same small base with the same keys:
# bodies against mir_attribution's stamp, ranges, token faults, headers equal
# to the module's, the differential run of every kind of link, and the
# origin's access log. Every server is started here, on 127.0.0.1 and free
# ports, and stopped on every way out.
#   edge_test.sh MIR_ATTRIBUTION MODULE.so SMALL.exe VECTORS_DIR WORK_DIR
set -euo pipefail
tool=$(realpath "$1") module=$(realpath "$2") small=$(realpath "$3") vectors=$(realpath "$4")
work=$(realpath -m "$5")
here=$(dirname "$(realpath "$0")")
source "$here/../nginx/nginx_run.sh"
source "$here/edge_run.sh"
source "$here/../../testing/download_checks.sh"
rm -rf "$work"
mkdir -p "$work/origin"
cd "$work"
fail() {
  echo "FAILED: $*"
  exit 1
}
stop_all() {
  edge_stop
  for pid in ${main_pid:-} ${vectors_pid:-}; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  nginx_stop
}
trap stop_all EXIT
[ -x "$workerd_bin" ] || fail "no workerd: run scripts/setup.sh"

openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.pem -days 2 \
  -subj "/CN=Mirelo Test Signing" >/dev/null 2>&1
osslsigncode sign -certs cert.pem -key cert.key -n "Mirelo Browser Setup" -in "$small" \
  -out signed.exe >/dev/null
name=mirelo_browser_setup.exe
base=$work/origin/$name
"$tool" reserve signed.exe "$base" >/dev/null
cp "$vectors/base.exe" origin/base.exe
"$tool" plan "$base" >plan.json
"$tool" plan origin/base.exe >vectors-plan.json
size=$(stat -c %s "$base")
offset=$((size - 4112))
for id in k1 k2 k3; do head -c 40 /dev/urandom >$id.key; done
chmod 600 ./*.key

# One nginx: the module under /download/ and /vectors/, the origin's static
# files under /releases/ with the only access log.
nginx_conf() {
  nginx_config nginx.conf "$1" "$work" "$module" "location /download/ { mir_attribution $base; }
    location /vectors/ { mir_attribution $work/origin/base.exe; }
    location /releases/ { alias $work/origin/; access_log $work/origin.log; }" \
    "mir_attribution_key k1 $work/k1.key; mir_attribution_key k2 $work/k2.key;"
}
nginx_start "$work" nginx_conf "/download/$name" || fail "nginx did not start"
origin=127.0.0.1:$nginx_port
edge_config "$work/vectors" vectors-plan.json base.exe /vectors/ http://origin/releases/base.exe k1
edge_start "$work/vectors" "$origin" 127.0.0.1:0 k1.key || fail "workerd (vectors) did not start"
vectors_pid=$edge_pid vectors_port=$edge_port
edge_config "$work/edge" plan.json $name /download/ http://origin/releases/$name k1 k2
edge_start "$work/edge" "$origin" 127.0.0.1:0 k1.key k2.key || fail "workerd did not start"
main_pid=$edge_pid main_port=$edge_port
edge="http://127.0.0.1:$main_port/download"
module="http://127.0.0.1:$nginx_port/download"
link() { "$tool" link --key-file="$work/k1.key" --key-id=k1 --expires=$(($(date +%s) + 3600)) "$@" "$edge" | tail -1; }

# Bodies: each download is the tool's stamp of the base, reads back, verifies.
check_stamped_bodies "$base" cert.pem

# Ranges of one stamped download and of the base, against the expected files
# and, header for header, against the module's answer to the same request.
url=$(link --value-file=multibyte.value)
token=$(basename "$(dirname "$url")")
etag=$(header multibyte.headers etag)
# The headers both servers send; nginx's error pages (a text/html body naming
# its version) are compared by status and Content-Range only.
compared='^(content-type|content-length|content-range|accept-ranges|etag|last-modified):'
answer() {  # URL, curl arguments: the status line and the compared headers
  local code
  # shellcheck disable=SC2086
  code=$(curl -s -o part.bin -D part.headers -w '%{http_code}' $2 "$1")
  echo "$code"
  case $code in 2* | 304) tr -d '\r' <part.headers | { grep -iE "$compared" || true; } | tr 'A-Z' 'a-z' | sort ;;
    416) tr -d '\r' <part.headers | grep -i '^content-range:' ;; esac
}
while IFS='|' read -r label status start length args; do
  for copy in stamped base; do
    edge_url="$edge/$token/$name" module_url="$module/$token/$name" expected=expected-multibyte.exe
    [ $copy = stamped ] || edge_url="$edge/$name" module_url="$module/$name" expected=$base
    # Each server's own current ETag, for the rows that send it back.
    own=$(curl -sfI "$edge_url" | tr -d '\r' | sed -n 's/^etag: //Ip')
    module_own=$(curl -sfI "$module_url" | tr -d '\r' | sed -n 's/^etag: //Ip')
    got=$(answer "$edge_url" "${args//ETAG/$own}")
    [ "${got%%$'\n'*}" = "$status" ] || fail "$label ($copy): status ${got%%$'\n'*}, not $status"
    if [ -n "$start" ]; then
      cmp part.bin <(tail -c +$((start + 1)) $expected | head -c "$length") || fail "$label ($copy): body"
    fi
    [ "$got" = "$(answer "$module_url" "${args//ETAG/$module_own}")" ] ||
      fail "$label ($copy): headers differ from the module's: $got"
  done
done <<EOF
whole|200|0|$size|
straddling the slot|206|$((offset - 100))|200|-r $((offset - 100))-$((offset + 99))
inside the slot|206|$((offset + 8))|20|-r $((offset + 8))-$((offset + 27))
before the slot|206|10|100|-r 10-109
suffix|206|$((size - 50))|50|-r -50
open|206|$((size - 5000))|5000|-r $((size - 5000))-
end past the end|206|$((size - 10))|10|-r $((size - 10))-$((size + 1000))
a larger suffix than the file|206|0|$size|-r -$((size + 5))
past the end|416|||-r $size-
empty suffix|416|||-r -0
malformed|416|||-r 0-9,x
end beyond 2^63|416|||-r 0-99999999999999999999
an empty range then one|206|0|10|-r 5-2,0-9
not bytes|200|0|$size|-H Range:pages=0-9
several ranges: the whole file (several)|200|0|$size|-r 0-9,$offset-$((offset + 9))
If-Range with the current ETag|206|10|10|-r 10-19 -H If-Range:ETAG
If-Range with a stale ETag|200|0|$size|-r 10-19 -H If-Range:"stale"
If-Range with a date: no Last-Modified to match|200|0|$size|-r 10-19 -H If-Range:Thu,_01_Jan_1970_00:00:00_GMT
If-None-Match with the current ETag|304|||-H If-None-Match:ETAG
If-None-Match in a list, weak|304|||-H If-None-Match:"x",W/ETAG
If-None-Match with another ETag|200|0|$size|-H If-None-Match:"x"
If-None-Match and If-Modified-Since|304|||-H If-None-Match:ETAG -H If-Modified-Since:x
If-Match another ETag|412|||-H If-Match:"x"
If-Unmodified-Since: no date, ignored|206|10|10|-r 10-19 -H If-Unmodified-Since:Thu,_01_Jan_1970_00:00:00_GMT
HEAD|200|||-I
HEAD of a range|206|||-I -r 0-9
EOF

# Token faults and other URLs: the base unchanged with the reason logged, or a status.
future=$(($(date +%s) + 600))
b64url() { base64 -w0 | tr '+/' '-_' | tr -d '='; }
be() { printf "$(printf '\\x%s' $(printf "%0$(($2 * 2))x" "$1" | fold -w2))"; }
by_hand() {  # ASCII value, expires, [key file]: a token for k1 made with openssl (the tool makes no expired link)
  local mac
  mac=$({ printf MIRLINK1 && be ${#name} 4 && printf %s $name && be ${#1} 4 && printf %s "$1" && be "$2" 8; } |
    openssl dgst -sha256 -mac HMAC -macopt "hexkey:$(od -An -tx1 -v "${3:-k1.key}" | tr -d ' \n')" -binary | b64url)
  echo "$(printf %s "$1" | b64url).$2.k1.$mac"
}
[ "$(by_hand src=web "$future")" = "$("$tool" link --key-file=k1.key --key-id=k1 --expires=$future --value=src=web x | cut -d/ -f2)" ] ||
  fail "a token made by hand differs from the tool's"
while IFS='|' read -r label path status reason; do
  : >"$work/edge/workerd.log"
  code=$(curl -s --path-as-is -o body.bin -w '%{http_code}' "http://127.0.0.1:$main_port$path")
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  [ "$code" != 200 ] || cmp body.bin "$base" || fail "$label: not the base"
  [ "$code" = "$(curl -s --path-as-is -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nginx_port$path")" ] ||
    fail "$label: the module answers otherwise"
  [ -z "$reason" ] || grep -qF "$reason" "$work/edge/workerd.log" || fail "$label: no reason logged"
done <<EOF
missing|/download/$name|200|the link has no token
expired|/download/$(by_hand src=old $(($(date +%s) - 10)))/$name|200|expired
unknown key id|/download/$("$tool" link --key-file=k3.key --key-id=k3 --expires=$future --value=a x | cut -d/ -f2)/$name|200|no key has the token's id k3
forged|/download/$(by_hand src=web $future k3.key)/$name|200|MAC does not match
for another file|/download/$("$tool" link --key-file=k1.key --key-id=k1 --expires=$future --value=a --file-name=other.exe x | cut -d/ -f2)/$name|200|MAC does not match
malformed|/download/not-a-token/$name|200|fewer than four fields
empty token|/download//$name|200|the link has no token
another file name|/download/$token/other.exe|404|
a deeper path|/download/$token/x/$name|404|
outside the prefix|/$name|404|
a dot segment|/download/x/../$name|200|the link has no token
a bad escape|/download/%zz/$name|400|
EOF
curl -s -o /dev/null -w '%{http_code}' -X POST "$url" | grep -qx 405 || fail "POST: not 405"

# A wrong setting fails every request with the reason logged, never sends other bytes.
head -c 31 /dev/urandom >short.key
head -c $((size - 1)) "$base" >origin/stale.exe  # the plan's size is what the Worker can check
while IFS='|' read -r label address origin_url ids keys status reason; do
  # shellcheck disable=SC2086
  edge_config "$work/bad" plan.json $name /download/ "$origin_url" $ids
  # shellcheck disable=SC2086
  edge_start "$work/bad" "$address" 127.0.0.1:0 $keys || fail "$label: workerd did not start"
  code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$edge_port/download/$token/$name")
  edge_stop
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  grep -qF "$reason" "$work/bad/workerd.log" || fail "$label: no reason logged"
done <<EOF
a stale plan|$origin|http://origin/releases/stale.exe|k1|k1.key|502|a stale plan?
the origin without the base|$origin|http://origin/releases/none.exe|k1|k1.key|502|status 404
no origin|127.0.0.1:1|http://origin/releases/$name|k1|k1.key|502|cannot be reached
a short key|$origin|http://origin/releases/$name|k1|short.key|500|holds 31 bytes
no key|$origin|http://origin/releases/$name|||500|every link would fail
EOF

# The differential run: every kind of link through the Worker and the module.
node "$here/differential_test.mjs" "$tool" "$work" "http://127.0.0.1:$main_port/download/$name" \
  "$module/$name" "$(realpath "$here/../testdata/link_token_fuzzer")" \
  "http://127.0.0.1:$vectors_port/vectors" "http://127.0.0.1:$nginx_port/vectors" "$vectors/vectors.txt" ||
  fail "differential run"
! grep -qF "$(base64 -w0 <k1.key)" "$work/edge/workerd.log" || fail "a key in the log"

# Whatever the links, the origin was asked for the one fixed URL only.
[ -s origin.log ] || fail "the origin was never asked"
if grep -v '"GET /releases/\(mirelo_browser_setup\|base\|none\|stale\)\.exe HTTP/1.1"' origin.log; then
  fail "the origin was asked for another URL"
fi
echo "edge worker test passed ($(wc -l <origin.log) origin requests, all for the fixed URLs)"
