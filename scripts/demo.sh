#!/usr/bin/env bash
# The main job: builds the launcher with the sample payloads and runs it under
# Wine, first as a user would (interactive first install), then silently,
# showing each run's log and where the payload ran; then attributed
# downloads of a catalogue of two files: the launcher and a small test
# program, each signed and reserved in one folder, served by nginx with the
# attribution module and by the edge Worker (workerd, nginx as its origin),
# each downloaded with curl through a signed link of its own from both,
# compared, read back and verified; the launcher's download run under Wine,
# and the value it stored in HKCU shown. Idempotent. Fails unless every run
# reached its last log line and its payload reported, each download carries
# its link's value and is the same file from both servers, the downloaded
# launcher stored the link's value, and every payload ran in the work
# directory its launcher logged.
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
echo "=== attributed downloads: two signed bases of one catalogue, a value per link, from nginx and the Worker"
download="$top/build/demo-download"
releases="$download/releases"
rm -rf "$download"
mkdir -p "$releases" "$download/downloaded/nginx" "$download/downloaded/worker"
build native "$top/build/demo-native-build.log" --target mir_attribution ngx_http_mir_attribution_module
# The catalogue: the launcher, and the small test program as a second
# channel's file, each signed with a throw-away certificate and reserved.
name=mirelo_browser_setup.exe second=small.exe
sign "$launcher" "$download/signed.exe"
sign "$top/server/nginx/testdata/small.exe" "$download/signed-$second"
"$tool" reserve "$download/signed.exe" "$releases/$name" >/dev/null
"$tool" reserve "$download/signed-$second" "$releases/$second" >/dev/null
for file in $name $second; do
  "$tool" plan "$releases/$file" >"$download/$file.plan.json"
  echo "reserved the base: $releases/$file ($(stat -c %s "$releases/$file") bytes, the last 4112 an empty slot)"
done
make_key "$download/demo.key"
# One nginx: the module serving every base of the folder under /download/,
# and the same folder as the Worker's plain static origin under /releases/.
demo_config() {
  download_config "$download/nginx.conf" "$1" "$download" "$releases/" demo "$download/demo.key" \
    "$(edge_origin_location "$download" "$releases")"
}
trap 'edge_stop; nginx_stop' EXIT
nginx_start "$download" demo_config /download/$name || { echo "demo.sh: nginx did not start" >&2; exit 1; }
echo "nginx (Debian's, with the module) serves the folder on 127.0.0.1:$nginx_port"
edge_catalogue $name http://origin/releases/$name "$download/$name.plan.json" \
  $second http://origin/releases/$second "$download/$second.plan.json" >"$download/catalogue.json"
edge_config "$download/edge" "$download/catalogue.json" /download/ demo
edge_start "$download/edge" "127.0.0.1:$nginx_port" 127.0.0.1:0 "$download/demo.key" ||
  { echo "demo.sh: workerd did not start" >&2; exit 1; }
echo "the Worker (workerd) serves the catalogue of both on 127.0.0.1:$edge_port, nginx as its origin"
value="src=demo-campaign&utm_medium=email"
declare -A values=([$name]=$value [$second]="src=demo-second-channel")
for file in $name $second; do
  link=$(make_link "$download/demo.key" demo 3600 "http://127.0.0.1:$nginx_port/download" \
    --value="${values[$file]}" --file-name=$file)
  echo "signed link for ${values[$file]}: $link"
  curl -sf -o "$download/downloaded/nginx/$file" "$link"
  curl -sf -o "$download/downloaded/worker/$file" "http://127.0.0.1:$edge_port/download/${link#*/download/}"
  sha256sum "$download/downloaded/"{nginx,worker}/$file | sed 's|  .*/downloaded/| |'
  cmp "$download/downloaded/"{nginx,worker}/$file ||
    { echo "demo.sh: the Worker's download of $file differs from nginx's" >&2; exit 1; }
  stamped=$("$tool" read "$download/downloaded/nginx/$file")
  echo "the Worker's download is the same file as nginx's; mir_attribution read: $stamped"
  [ "$stamped" = "${values[$file]}" ] || { echo "demo.sh: $file carries '$stamped'" >&2; exit 1; }
  osslsigncode verify -CAfile "$download/cert.pem" "$download/downloaded/nginx/$file" \
    >"$download/verify.log" 2>&1 ||
    { cat "$download/verify.log"; echo "demo.sh: the signature of $file does not verify" >&2; exit 1; }
  echo "osslsigncode verify: $(tail -1 "$download/verify.log")"
done
edge_stop
nginx_stop
echo "what the Worker asked the origin for (the release check's small ranges and the body, per file):"
cut -d' ' -f6,7,9,10 "$download/origin.log" | tr -d '"'
downloaded="$download/downloaded/nginx/$name"
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
