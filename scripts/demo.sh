#!/usr/bin/env bash
# The main job: builds the launcher with the sample payloads and runs it under
# Wine, first as a user would (interactive first install), then silently,
# showing each run's log and where the payload ran; then an attributed
# download: the launcher signed and reserved, served by nginx with the
# attribution module through a signed link, downloaded with curl, the same
# link downloaded through the edge Worker (workerd) and compared, verified,
# run under Wine, and the value it stored in HKCU shown. Idempotent. Fails
# unless every run reached its last log line and its payload reported, and
# the downloaded launcher stored the link's value, and unless every payload
# ran in the work directory its launcher logged.
source "$(dirname "$0")/common.sh"
cd "$top"
"$top/scripts/setup.sh"

build="$top/build/windows"
echo "=== building the launcher"
build windows "$top/build/demo-build.log" --target mir_setup_launcher payload_probe
"$build/wine-run" --start

launcher="$build/bin/mir_setup_launcher.exe"
temp_dir="$build/wineprefix/drive_c/users/$(id -un)/Temp"
log="$temp_dir/mir_setup_launcher.log"
report="$build/demo-report.txt"
echo "launcher: $launcher ($(stat -c %s "$launcher") bytes)"

# The payload reports its current directory; it must be the work directory
# the launcher made and logged, not wherever Wine would start it otherwise.
check_payload_directory() {
  local work current
  work=$(sed -n 's/.*\] Temp directory created: //p' "$log" | tr -d '\r')
  current=$(sed -n 's/^current_directory=//p' "$report" | tr -d '\r')
  [ -n "$work" ] && [ "$current" = "$work" ] ||
    { echo "demo.sh: the payload ran in '$current', not in the work directory '$work'" >&2; exit 1; }
  echo "the payload ran in the work directory the launcher logged: $work"
}

run() {  # TITLE LAUNCHER [ARGUMENT...]
  local title=$1 program=$2
  shift 2
  echo
  echo "=== $title: ${program##*/} $*"
  rm -f "$report" "$log"
  local status=0
  # The sample payload (the payload probe) reports how it was started to the
  # file named by MIR_PROBE_REPORT, which it inherits from the launcher.
  MIR_PROBE_REPORT="Z:${report//\//\\}" "$build/wine-run" "$program" "$@" || status=$?
  echo "exit code: $status"
  echo "--- log ($log)"
  [ -f "$log" ] || { echo "demo.sh: the launcher wrote no log" >&2; exit 1; }
  cat "$log"
  grep -q "Setup Launcher Completed with exit code: " "$log" ||
    { echo "demo.sh: the launcher did not run to its end" >&2; exit 1; }
  echo "--- where the payload ran (its own report)"
  [ -f "$report" ] || { echo "demo.sh: no payload ran" >&2; exit 1; }
  cat "$report"
  check_payload_directory
}

run "interactive first install" "$launcher"
run "silent install" "$launcher" --silent

echo
echo "=== an attributed download: one signed base, a value per link, served by nginx"
download="$top/build/demo-download"
rm -rf "$download"
mkdir -p "$download/downloaded"
build native "$top/build/demo-native-build.log" --target mir_attribution ngx_http_mir_attribution_module
base="$download/mirelo_browser_setup.exe"
reserve_test_base "$launcher" "$base"
echo "signed the launcher with a throw-away certificate: $download/cert.pem"
echo "reserved the base: $base ($(stat -c %s "$base") bytes, the last 4112 an empty slot)"
make_key "$download/demo.key"
demo_config() { download_config "$download/nginx.conf" "$1" "$download" "$base" demo "$download/demo.key"; }
trap nginx_stop EXIT
nginx_start "$download" demo_config /download/mirelo_browser_setup.exe ||
  { echo "demo.sh: nginx did not start" >&2; exit 1; }
echo "nginx (Debian's, with the module) serves it on 127.0.0.1:$nginx_port"
value="src=demo-campaign&utm_medium=email"
link=$(make_link "$download/demo.key" demo 3600 "http://127.0.0.1:$nginx_port/download" --value="$value")
echo "signed link for $value: $link"
downloaded="$download/downloaded/mirelo_browser_setup.exe"
curl -sf -o "$downloaded" "$link"
nginx_stop
echo "downloaded with curl: $downloaded ($(stat -c %s "$downloaded") bytes, the base's size)"

echo "=== the same link through the edge: the Worker under workerd, nginx as its static origin"
mkdir -p "$download/origin"
ln -sfn "$base" "$download/origin/mirelo_browser_setup.exe"
"$tool" plan "$base" >"$download/plan.json"
origin_config() { edge_origin_config "$download/nginx.conf" "$1" "$download" "$download/origin"; }
trap 'edge_stop; nginx_stop' EXIT
nginx_start "$download" origin_config /releases/mirelo_browser_setup.exe ||
  { echo "demo.sh: the origin did not start" >&2; exit 1; }
edge_catalogue mirelo_browser_setup.exe http://origin/releases/mirelo_browser_setup.exe \
  "$download/plan.json" >"$download/catalogue.json"
edge_config "$download/edge" "$download/catalogue.json" /download/ demo
edge_start "$download/edge" "127.0.0.1:$nginx_port" 127.0.0.1:0 "$download/demo.key" ||
  { echo "demo.sh: workerd did not start" >&2; exit 1; }
edge_link="http://127.0.0.1:$edge_port/download/${link#*/download/}"
echo "the link on the Worker: $edge_link"
curl -sf -o "$download/downloaded/through-the-worker.exe" "$edge_link"
edge_stop
nginx_stop
echo "what the origin was asked for (the first: the start-up check):"
cut -d'"' -f2 "$download/origin.log" | uniq -c
sha256sum "$downloaded" "$download/downloaded/through-the-worker.exe" | sed 's|  .*/| |'
cmp "$downloaded" "$download/downloaded/through-the-worker.exe" ||
  { echo "demo.sh: the Worker's download differs from nginx's" >&2; exit 1; }
echo "the Worker's download is the same file as nginx's"
osslsigncode verify -CAfile "$download/cert.pem" "$downloaded" >"$download/verify.log" 2>&1 ||
  { cat "$download/verify.log"; echo "demo.sh: the download's signature does not verify" >&2; exit 1; }
echo "osslsigncode verify: $(tail -1 "$download/verify.log")"
"$build/wine-run" reg delete 'HKCU\Software\Mirelo Browser' /f >/dev/null 2>&1 || true
run "the downloaded launcher" "$downloaded" --silent
stored=$("$build/wine-run" reg query 'HKCU\Software\Mirelo Browser\InstallAttribution' /v CHANNEL_INFO |
  tr -d '\r' | sed -n 's/.*CHANNEL_INFO *REG_SZ *//p')
echo "HKCU\Software\Mirelo Browser\InstallAttribution CHANNEL_INFO = $stored"
"$build/wine-run" reg delete 'HKCU\Software\Mirelo Browser' /f >/dev/null 2>&1 || true
[ "$stored" = "$value" ] || { echo "demo.sh: the launcher stored '$stored', not '$value'" >&2; exit 1; }
"$build/wine-run" --stop
echo
echo "demo passed: both runs completed and their payloads reported from their work directories; the downloaded launcher stored its link's value; the Worker sent the same file as nginx"
