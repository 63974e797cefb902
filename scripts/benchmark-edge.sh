#!/usr/bin/env bash
# The download Worker under workerd serving a catalogue of three files (the
# 234 MB reserved base under three names, three objects to the cache),
# behind an nginx proxy_cache (the stand-in for the CDN's cache) in front of
# a static nginx origin, all on 127.0.0.1:
#   1. 100 downloads of 100 distinct signed links over the three files, 8 at
#      a time, from a cold cache: the bytes the origin sent (its access log),
#      against one base per file; every download's SHA-256 distinct, one
#      checked against the tool's stamp;
#   2. workerd passing the base through unchanged against workerd stamping it
#      through a signed link, the same origin, with wrk at 1 and 8
#      connections as interleaved rounds: the median throughput, workerd's
#      CPU seconds per GB sent (from /proc/<pid>/stat) and its resident
#      memory before and after;
#   3. a rotation of 1,000 distinct links over the three files, 8
#      connections, for SECONDS: throughput, CPU per GB and the origin's bytes.
#   scripts/benchmark-edge.sh [ROUNDS] [SECONDS]   (default 3 rounds of 8 s)
# The base: see benchmark_setup in scripts/common.sh.
source "$(dirname "$0")/common.sh"
source "$top/testing/benchmark_stats.sh"
rounds=${1:-3}
seconds=${2:-8}
benchmark_setup benchmark-edge
"$tool" plan "$base" >"$work/plan.json"

# One nginx: the static origin under /releases/ (the only access log) and, on
# /cdn/, a cache in front of it that stores the whole base once; requests
# for one object wait for its first fill, as a CDN collapses them.
rm -rf "$work/cache"
origin_config() {
  edge_origin_config "$work/nginx.conf" "$1" "$work" "$work/static" \
    "location /cdn/ { proxy_pass http://127.0.0.1:$1/releases/; proxy_cache edge; proxy_cache_valid 200 1h;
       proxy_cache_lock on; proxy_cache_lock_timeout 10m; proxy_cache_lock_age 10m; }"
  sed -i "s|^http {|http {\n  proxy_cache_path $work/cache keys_zone=edge:1m max_size=2g inactive=1h;|" "$work/nginx.conf"
}
trap 'edge_stop; nginx_stop' EXIT
nginx_start "$work" origin_config "/releases/$name" ||
  { echo "benchmark-edge.sh: nginx did not start" >&2; exit 1; }
files=($name mirelo_browser_setup_beta.exe mirelo_browser_setup_arm64.exe)
catalogue=()
for file in "${files[@]}"; do
  [ "$file" = $name ] || ln -f "$base" "$work/static/$file"
  catalogue+=("$file" "http://origin/cdn/$file" "$work/plan.json")
done
edge_catalogue "${catalogue[@]}" >"$work/catalogue.json"
edge_config "$work/edge" "$work/catalogue.json" /download/ bench
edge_start "$work/edge" "127.0.0.1:$nginx_port" 127.0.0.1:0 "$work/bench.key" ||
  { echo "benchmark-edge.sh: workerd did not start" >&2; exit 1; }
edge="http://127.0.0.1:$edge_port/download"
link() { make_link "$work/bench.key" bench 86400 "$edge" --value="$1" --file-name="${2:-$name}"; }
origin_bytes() { awk '{ total += $10 } END { print total + 0 }' "$work/origin.log"; }

# 1. The CDN's cache: 100 distinct links, one base per file from the origin.
echo "=== 100 downloads of 100 distinct links over ${#files[@]} files through the cache, 8 at a time"
"$tool" plan --value=src=check-0 "$base" | sed -n 's/.*"stamped_sha256": "\(.*\)",/\1/p' >"$work/expected-0"
: >"$work/origin.log"
for i in $(seq 0 99); do echo "$(link "src=check-$i" "${files[i % 3]}")"; done >"$work/links.txt"
xargs -P 8 -I{} sh -c 'curl -sf "{}" | sha256sum | cut -c1-64' <"$work/links.txt" >"$work/digests.txt"
[ "$(grep -c . "$work/digests.txt")" = 100 ] || { echo "benchmark-edge.sh: a download failed" >&2; exit 1; }
[ "$(sort -u "$work/digests.txt" | wc -l)" = 100 ] ||
  { echo "benchmark-edge.sh: two links gave the same bytes" >&2; exit 1; }
curl -sf "$(sed -n 1p "$work/links.txt")" | sha256sum | cut -c1-64 | cmp -s - "$work/expected-0" ||
  { echo "benchmark-edge.sh: the Worker sent other bytes than the stamp" >&2; exit 1; }
awk -v o="$(origin_bytes)" -v s="$((size * ${#files[@]}))" -v n="$(wc -l <"$work/origin.log")" 'BEGIN {
  printf "origin sent %d bytes in %d responses: %.3f x one base per file (goal <= 1.05)\n", o, n, o / s }'

# 2. Pass-through against stamping.
wrk_rounds "$rounds" "$seconds" "$edge_pid" "$work/results.txt" pass-through "$edge/$name" \
  stamping "$(link "src=benchmark&campaign=$(printf 'caf\xc3\xa9')")"
echo "median of $rounds interleaved rounds of ${seconds} s (wrk -t1 on 127.0.0.1, one workerd):"
print_medians "$work/results.txt" workerd pass-through stamping

# 3. A rotation of 1,000 distinct links over the catalogue.
echo "=== a rotation of 1,000 distinct links over ${#files[@]} files, 8 connections, ${seconds} s"
for i in $(seq 0 999); do link "src=rotation-$i" "${files[i % 3]}"; done |
  sed 's|^http://[^/]*||; s|.*|"&",|' >"$work/rotation.paths"
cat >"$work/rotation.lua" <<LUA
paths = { $(tr -d '\n' <"$work/rotation.paths") }
n = 0
request = function()
  n = n + 1
  return wrk.format("GET", paths[(n % #paths) + 1])
end
done = function(summary, latency, requests)
  io.write(string.format("%d %d %d\\n", summary.bytes, summary.duration, summary.requests))
end
LUA
: >"$work/origin.log"
before=$(awk '{ print $14 + $15 }' "/proc/$edge_pid/stat")
read -r bytes micros requests < <(wrk -t1 -c8 -d"${seconds}s" -s "$work/rotation.lua" \
  "http://127.0.0.1:$edge_port" | tail -1)
after=$(awk '{ print $14 + $15 }' "/proc/$edge_pid/stat")
awk -v b="$bytes" -v u="$micros" -v r="$requests" -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" \
  -v o="$(origin_bytes)" 'BEGIN {
  printf "%d requests, %.1f MB/s, %.3f CPU s per GB, the origin sent %d bytes\n", r, b / u, (t / hz) / (b / 1e9), o }'
