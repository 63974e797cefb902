#!/usr/bin/env bash
# The site of docs/serving-nginx.md through Debian's nginx with the module on
# 127.0.0.1 and a free port: whole, resumed, interrupted, segmented and HEAD
# downloads of three campaigns, counted from its access log by the doc's
# command, equal the true counts, over HTTP/1.1 and over TLS with HTTP/2;
# a release replaced by the doc's steps while a download is in flight. The
# doc's blocks run here with this test's folder for /srv/releases, its
# releases for out/mirelo_browser_setup.exe and its log for
# /var/log/nginx/mirelo-access.log.
#   nginx_site_test.sh MIR_ATTRIBUTION MODULE.so SMALL.exe SERVING_DOC WORK_DIR
set -euo pipefail
tool=$(realpath "$1") module=$(realpath "$2") small=$(realpath "$3") doc=$(realpath "$4")
work=$(realpath -m "$5")
here=$(dirname "$(realpath "$0")")
source "$here/../../testing/fixture.sh"
source "$here/../../testing/download_counts.sh"
test_work "$work"

# Two 32 MB releases of one size: the small PE with 0 or 1 bytes appended,
# signed, reserved.
for release in 0 1; do
  { cat "$small" && head -c 32000000 /dev/zero | tr '\0' "\\$release"; } >unsigned.exe
  reserve_test_base unsigned.exe release-$release.exe && rm unsigned.exe
done
make_key k1.key
# The documented steps that put a release in place, with this test's paths.
install_release() {
  local steps
  steps=$(grep -E '^(install -d -m 755 /srv/releases$|install -m 644 out/|mv -f /srv/releases/)' "$doc")
  [ "$(grep -c . <<<"$steps")" = 3 ] || fail "the release steps are not in $doc"
  steps=${steps//\/srv\/releases/$work/releases}
  eval "${steps//out\/mirelo_browser_setup.exe/$1}"
}
install_release release-0.exe

# The site's log lines as the documentation gives them.
site_log=$(sed -n '/^map \$request_completion/p; /^log_format mirelo /,/;$/p' "$doc")
[ "$(grep -c . <<<"$site_log")" -ge 4 ] || fail "no log_format in $doc"
site_config() {
  nginx_config nginx.conf "$1" "$work" "$module" \
    "location /download/ { mir_attribution $work/releases/; access_log $work/access.log mirelo; }
     location = /ready { return 204; }" \
    "$site_log mir_attribution_key k1 $work/k1.key;" error
}
# Ready when /ready answers, which is not logged: the log holds the driver's requests only.
nginx_start "$work" site_config /ready || fail "nginx did not start"
scheme=http
campaign_link() { make_link k1.key k1 3600 "$scheme://127.0.0.1:$nginx_port/download" --value="$1"; }
drive_downloads campaign_link
check_download_counts access.log
# The doc's count command itself, on this log.
count_command=$(sed -n '/^jq -r /,/uniq -c$/p' "$doc")
[ -n "$count_command" ] || fail "no count command in $doc"
eval "${count_command//\/var\/log\/nginx\/mirelo-access.log/access.log}" | sed 's/^ *//' | sort |
  cmp -s - true-counts.txt || fail "the doc's count command does not give the true counts"

# A release replaced while a download is in flight (its reader paused after
# 100,000 bytes): it finishes with the old release's bytes; new requests get
# the new release; a resume with the old copy's ETag gets the whole new copy.
url=$(campaign_link src=release)
for release in 0 1; do "$tool" stamp --value=src=release release-$release.exe stamped-$release.exe >/dev/null; done
mkfifo in-flight
curl -s -D in-flight.headers "$url" >in-flight &
curl_pid=$!
exec 3<in-flight
head -c 100000 <&3 >in-flight.bin
install_release release-1.exe
curl -sf "$url" | cmp -s - stamped-1.exe || fail "after the change: not the new release"
cat <&3 >>in-flight.bin
exec 3<&-
wait $curl_pid || fail "the download in flight failed"
cmp -s in-flight.bin stamped-0.exe || fail "the download in flight is not the old release"
etag=$(tr -d '\r' <in-flight.headers | sed -n 's/^etag: //Ip')
code=$(curl -s -o resumed.bin -w '%{http_code}' -r 100000- -H "If-Range: $etag" "$url")
[ "$code" = 200 ] && cmp -s resumed.bin stamped-1.exe || fail "a resume across the change: $code"
nginx_stop

# The same downloads over TLS with HTTP/2 (`listen ... ssl http2;`, as in
# Debian 12's nginx), counted from a new log.
tls_config() {
  site_config "$1"
  sed -i "s|listen 127.0.0.1:$1;|listen 127.0.0.1:$1 ssl http2; ssl_certificate $work/cert.pem; ssl_certificate_key $work/cert.key;|" nginx.conf
}
: >access.log
nginx_start "$work" tls_config /ready https || fail "nginx did not start with TLS"
scheme=https
[ "$(curl -sk --http2 -o /dev/null -w '%{http_version}' "https://127.0.0.1:$nginx_port/ready")" = 2 ] ||
  fail "not HTTP/2"
download_curl=(--http2 -k)
drive_downloads campaign_link
check_download_counts access.log
echo "nginx site test passed: $(tr '\n' ';' <true-counts.txt)"
