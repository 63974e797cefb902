#!/usr/bin/env bash
# The download Worker under workerd with a 234 MB reserved base, behind an
# nginx proxy_cache (the stand-in for the CDN's cache) in front of a static
# nginx origin, all on 127.0.0.1:
#   1. 100 downloads of 100 distinct signed links, 8 at a time, from a cold
#      cache: the bytes the origin sent (its access log), against one base;
#      every download checked against the tool's stamp by its SHA-256;
#   2. workerd passing the base through unchanged against workerd stamping it
#      through a signed link, the same origin, with wrk at 1 and 8
#      connections as interleaved rounds: the median throughput, workerd's
#      CPU seconds per GB sent (from /proc/<pid>/stat) and its resident
#      memory before and after.
#   scripts/benchmark-edge.sh [ROUNDS] [SECONDS]   (default 3 rounds of 8 s)
# The base is the signed launcher from scripts/benchmark-launcher.sh when it
# has been run (build/benchmark/launcher.exe), otherwise the small test PE
# padded with random bytes to the same size; either is signed with a
# throw-away certificate and reserved.
source "$(dirname "$0")/common.sh"
rounds=${1:-3}
seconds=${2:-8}
cd "$top"
"$top/scripts/setup.sh"
work="$top/build/benchmark-edge"
mkdir -p "$work/static"
{ cmake --preset native && cmake --build --preset native --target mir_attribution; } >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; echo "benchmark-edge.sh: the build failed" >&2; exit 1; }
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
"$tool" plan "$base" >"$work/plan.json"
(umask 077 && head -c 32 /dev/urandom >"$work/bench.key")

# One nginx: the static origin under /releases/ (the only access log) and, on
# /cdn/, a cache in front of it that stores the whole base once; requests
# for one object wait for its first fill, as a CDN collapses them.
rm -rf "$work/cache"
source "$top/server/nginx/nginx_run.sh"
source "$top/server/edge/edge_run.sh"
origin_config() {
  edge_origin_config "$work/nginx.conf" "$1" "$work" "$work/static" \
    "location /cdn/ { proxy_pass http://127.0.0.1:$1/releases/; proxy_cache edge; proxy_cache_valid 200 1h;
       proxy_cache_lock on; proxy_cache_lock_timeout 10m; proxy_cache_lock_age 10m; }"
  sed -i "s|^http {|http {\n  proxy_cache_path $work/cache keys_zone=edge:1m max_size=2g inactive=1h;|" "$work/nginx.conf"
}
trap 'edge_stop; nginx_stop' EXIT
nginx_start "$work" origin_config "/releases/$name" ||
  { echo "benchmark-edge.sh: nginx did not start" >&2; exit 1; }
edge_config "$work/edge" "$work/plan.json" $name /download/ "http://origin/cdn/$name" bench
edge_start "$work/edge" "127.0.0.1:$nginx_port" 127.0.0.1:0 "$work/bench.key" ||
  { echo "benchmark-edge.sh: workerd did not start" >&2; exit 1; }
edge="http://127.0.0.1:$edge_port/download"
link() { "$tool" link --key-file="$work/bench.key" --key-id=bench --expires=$(($(date +%s) + 86400)) \
  --value="$1" "$edge" | tail -1; }

# 1. The CDN's cache: 100 distinct links, one base from the origin.
echo "=== 100 downloads of 100 distinct links through the cache, 8 at a time"
"$tool" plan --value=src=check-0 "$base" | sed -n 's/.*"stamped_sha256": "\(.*\)",/\1/p' >"$work/expected-0"
: >"$work/origin.log"
for i in $(seq 0 99); do echo "$(link "src=check-$i")"; done >"$work/links.txt"
xargs -P 8 -I{} sh -c 'curl -sf "{}" | sha256sum | cut -c1-64' <"$work/links.txt" >"$work/digests.txt"
[ "$(grep -c . "$work/digests.txt")" = 100 ] || { echo "benchmark-edge.sh: a download failed" >&2; exit 1; }
[ "$(sort -u "$work/digests.txt" | wc -l)" = 100 ] ||
  { echo "benchmark-edge.sh: two links gave the same bytes" >&2; exit 1; }
curl -sf "$(sed -n 1p "$work/links.txt")" | sha256sum | cut -c1-64 | cmp -s - "$work/expected-0" ||
  { echo "benchmark-edge.sh: the Worker sent other bytes than the stamp" >&2; exit 1; }
origin_bytes=$(awk '{ total += $10 } END { print total + 0 }' "$work/origin.log")
awk -v o="$origin_bytes" -v s="$size" -v n="$(wc -l <"$work/origin.log")" 'BEGIN {
  printf "origin sent %d bytes in %d responses: %.3f x one base (goal <= 1.05)\n", o, n, o / s }'

# 2. Pass-through against stamping.
link=$(link "src=benchmark&campaign=$(printf 'caf\xc3\xa9')")
plain="$edge/$name"
cat >"$work/report.lua" <<'EOF'
done = function(summary, latency, requests)
  io.write(string.format("%d %d %d\n", summary.bytes, summary.duration, summary.requests))
end
EOF
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$edge_pid/stat"; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$edge_pid/status"; }
results="$work/results.txt"
: >"$results"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A rss_before rss_after
for ((round = 1; round <= rounds; round++)); do
  for connections in 1 8; do
    for mode in pass-through stamping; do
      url=$plain
      [ $mode = pass-through ] || url=$link
      [ -n "${rss_before[$mode]:-}" ] || rss_before[$mode]=$(rss)
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
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() {  # mode connections column
  awk -F'\t' -v m="$1" -v c="$2" -v k="$3" '$1 == m && $2 == c { print $k }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
echo "median of $rounds interleaved rounds of ${seconds} s (wrk -t1 on 127.0.0.1, one workerd):"
printf '%-28s %10s %14s %10s %14s\n' "" "MB/s" "CPU s per GB" "x MB/s" "x CPU per GB"
for connections in 1 8; do
  for mode in pass-through stamping; do
    printf '%-28s %10s %14s %10s %14s\n' "$mode, $connections connection(s)" \
      "$(median $mode "$connections" 3)" "$(median $mode "$connections" 4)" \
      "$(awk -v a="$(median $mode "$connections" 3)" -v b="$(median pass-through "$connections" 3)" 'BEGIN { printf "%.2f", a / b }')" \
      "$(awk -v a="$(median $mode "$connections" 4)" -v b="$(median pass-through "$connections" 4)" 'BEGIN { printf "%.2f", a / b }')"
  done
done
for mode in pass-through stamping; do
  echo "workerd RSS, $mode: ${rss_before[$mode]} KiB before, ${rss_after[$mode]} KiB after"
done
