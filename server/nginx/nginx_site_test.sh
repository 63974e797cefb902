#!/usr/bin/env bash
# The documented site's access log, through Debian's nginx with the module on
# 127.0.0.1 and a free port: whole, resumed, interrupted, segmented and HEAD
# downloads of three campaigns, counted from the log by the documented
# command, equal the true counts.
#   nginx_site_test.sh MIR_ATTRIBUTION MODULE.so SMALL.exe README WORK_DIR
set -euo pipefail
tool=$(realpath "$1") module=$(realpath "$2") small=$(realpath "$3") readme=$(realpath "$4")
work=$(realpath -m "$5")
here=$(dirname "$(realpath "$0")")
source "$here/nginx_run.sh"
source "$here/../../testing/download_counts.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() {
  echo "FAILED: $*"
  exit 1
}
trap nginx_stop EXIT

# A 32 MB base: the small PE with zeros appended, signed, reserved.
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.pem -days 2 \
  -subj "/CN=Mirelo Test Signing" >/dev/null 2>&1
{ cat "$small" && head -c 32000000 /dev/zero; } >unsigned.exe
osslsigncode sign -certs cert.pem -key cert.key -n "Mirelo Browser Setup" -in unsigned.exe \
  -out signed.exe >/dev/null
name=mirelo_browser_setup.exe
"$tool" reserve signed.exe $name >/dev/null
head -c 32 /dev/urandom >k1.key && chmod 600 k1.key

# The site's log lines as the documentation gives them.
site_log=$(sed -n '/^map \$request_completion/p; /^log_format mirelo /,/;$/p' "$readme")
[ "$(grep -c . <<<"$site_log")" -ge 4 ] || fail "no log_format in $readme"
site_config() {
  nginx_config nginx.conf "$1" "$work" "$module" \
    "location /download/ { mir_attribution $work/$name; access_log $work/access.log mirelo; }
     location = /ready { return 204; }" \
    "$site_log mir_attribution_key k1 $work/k1.key;" error
}
# Ready when /ready answers, which is not logged: the log holds the driver's requests only.
nginx_start "$work" site_config /ready || fail "nginx did not start"
campaign_link() {
  "$tool" link --key-file=k1.key --key-id=k1 --expires=$(($(date +%s) + 3600)) --value="$1" \
    "http://127.0.0.1:$nginx_port/download" | tail -1
}
drive_downloads campaign_link
check_download_counts access.log
echo "nginx site test passed: $(tr '\n' ';' <true-counts.txt)"
