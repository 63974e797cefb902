#!/usr/bin/env bash
# Serving a 234 MB reserved base: nginx as a plain static file against the
# attribution module through a signed link, in the same nginx and the same
# run, with wrk on 127.0.0.1 at 1 and 8 connections, as interleaved rounds.
# Reports the median throughput, the worker's CPU seconds per GB sent (from
# /proc/<pid>/stat), its resident memory before and after, and cp of the
# same file for scale.
#   scripts/benchmark-serve.sh [ROUNDS] [SECONDS]   (default 3 rounds of 8 s)
# The base is the signed launcher from scripts/benchmark-launcher.sh when it
# has been run (build/benchmark/launcher.exe), otherwise the small test PE
# padded with random bytes to the same size; either is signed with a
# throw-away certificate and reserved.
source "$(dirname "$0")/common.sh"
rounds=${1:-3}
seconds=${2:-8}
cd "$top"
"$top/scripts/setup.sh"
work="$top/build/benchmark-serve"
mkdir -p "$work/static"
{ cmake --preset native && cmake --build --preset native --target mir_attribution \
    ngx_http_mir_attribution_module; } >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; echo "benchmark-serve.sh: the build failed" >&2; exit 1; }
tool="$top/build/native/bin/mir_attribution"
name=mirelo_browser_setup.exe
base="$work/static/$name"

if [ ! -f "$base" ]; then
  launcher="$top/build/benchmark/launcher.exe"
  if [ -f "$launcher" ]; then
    cp "$launcher" "$work/unsigned.exe"
  else
    echo "no build/benchmark/launcher.exe: padding the small test PE to the launcher's size"
    cp "$top/server/nginx/testdata/small.exe" "$work/unsigned.exe"
    head -c $((234000000 - $(stat -c %s "$work/unsigned.exe"))) /dev/urandom >>"$work/unsigned.exe"
  fi
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/cert.key" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Mirelo Benchmark Signing" >/dev/null 2>&1
  osslsigncode sign -certs "$work/cert.pem" -key "$work/cert.key" -n "Mirelo Browser Setup" \
    -in "$work/unsigned.exe" -out "$work/signed.exe" >/dev/null
  "$tool" reserve "$work/signed.exe" "$base" >/dev/null
  rm -f "$work/unsigned.exe" "$work/signed.exe"
fi
size=$(stat -c %s "$base")
echo "base: $base ($size bytes)"
(umask 077 && head -c 32 /dev/urandom >"$work/bench.key")

source "$top/server/nginx/nginx_run.sh"
benchmark_config() {
  nginx_config "$work/nginx.conf" "$1" "$work" "$top/build/native/nginx/ngx_http_mir_attribution_module.so" \
    "location /static/ { alias $work/static/; } location /download/ { mir_attribution $base; }" \
    "mir_attribution_key bench $work/bench.key;" notice
}
trap nginx_stop EXIT
nginx_start "$work" benchmark_config "/static/$name" ||
  { echo "benchmark-serve.sh: nginx did not start" >&2; exit 1; }
port=$nginx_port
master=$nginx_pid
value="src=benchmark&campaign=$(printf 'caf\xc3\xa9')"
link=$("$tool" link --key-file="$work/bench.key" --key-id=bench --expires=$(($(date +%s) + 86400)) \
  --value="$value" "http://127.0.0.1:$port/download" | tail -1)
static="http://127.0.0.1:$port/static/$name"
worker=$(pgrep -P $master)
[ -n "$worker" ] || { echo "benchmark-serve.sh: nginx did not start" >&2; exit 1; }
# The module's bytes are the tool's stamp, before anything is timed.
"$tool" stamp --value="$value" "$base" "$work/expected.exe" >/dev/null
curl -sf "$link" | cmp - "$work/expected.exe" ||
  { echo "benchmark-serve.sh: the module sent other bytes than the stamp" >&2; exit 1; }
rm -f "$work/expected.exe"

cat >"$work/report.lua" <<'EOF'
done = function(summary, latency, requests)
  io.write(string.format("%d %d %d\n", summary.bytes, summary.duration, summary.requests))
end
EOF
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$worker/stat"; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$worker/status"; }
results="$work/results.txt"
: >"$results"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A rss_before rss_after
for mode in static module; do rss_before[$mode]=; done
for ((round = 1; round <= rounds; round++)); do
  for connections in 1 8; do
    for mode in static module; do
      url=$static
      [ $mode = static ] || url=$link
      [ -n "${rss_before[$mode]}" ] || rss_before[$mode]=$(rss)
      before=$(cpu)
      read -r bytes micros requests < <(wrk -t1 -c$connections -d${seconds}s -s "$work/report.lua" "$url" |
        tail -1)
      after=$(cpu)
      rss_after[$mode]=$(rss)
      awk -v m=$mode -v c=$connections -v b="$bytes" -v u="$micros" -v r="$requests" \
        -v t=$((after - before)) -v hz="$ticks" 'BEGIN {
          printf "%s\t%d\t%.1f\t%.3f\t%d\n", m, c, b / u, (t / hz) / (b / 1e9), r }' >>"$results"
    done
  done
  rm -f "$work/copy.exe"
  sync "$work" 2>/dev/null || true
  start=$(date +%s.%N)
  cp "$base" "$work/copy.exe"
  end=$(date +%s.%N)
  awk -v s="$size" -v a="$start" -v e="$end" 'BEGIN { printf "cp\t0\t%.1f\t0\t0\n", s / (e - a) / 1e6 }' >>"$results"
done
rm -f "$work/copy.exe"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() {  # mode connections column
  awk -F'\t' -v m="$1" -v c="$2" -v k="$3" '$1 == m && $2 == c { print $k }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
echo "median of $rounds interleaved rounds of ${seconds} s (wrk -t1 on 127.0.0.1, one nginx worker):"
printf '%-28s %12s %16s\n' "" "MB/s" "CPU s per GB"
for connections in 1 8; do
  for mode in static module; do
    printf '%-28s %12s %16s\n' "$mode, $connections connection(s)" "$(median $mode $connections 3)" \
      "$(median $mode $connections 4)"
  done
done
printf '%-28s %12s\n' "cp of the base" "$(median cp 0 3)"
for mode in static module; do
  echo "worker RSS, $mode: ${rss_before[$mode]} KiB before, ${rss_after[$mode]} KiB after"
done
