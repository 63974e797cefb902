#!/usr/bin/env bash
# Serving a 234 MB reserved base: nginx as a plain static file against the
# attribution module through a signed link, in the same nginx and the same
# run, with wrk on 127.0.0.1 at 1 and 8 connections, as interleaved rounds.
# Reports the median throughput, the worker's CPU seconds per GB sent (from
# /proc/<pid>/stat), its resident memory before and after, and cp of the
# same file for scale.
#   scripts/benchmark-serve.sh [ROUNDS] [SECONDS]   (default 3 rounds of 8 s)
# The base: see benchmark_setup in scripts/common.sh.
source "$(dirname "$0")/common.sh"
source "$top/testing/benchmark_stats.sh"
rounds=${1:-3}
seconds=${2:-8}
benchmark_setup benchmark-serve ngx_http_mir_attribution_module

benchmark_config() {
  download_config "$work/nginx.conf" "$1" "$work" "$base" bench "$work/bench.key" \
    "location /static/ { alias $work/static/; }" notice
}
trap nginx_stop EXIT
nginx_start "$work" benchmark_config "/static/$name" ||
  { echo "benchmark-serve.sh: nginx did not start" >&2; exit 1; }
value="src=benchmark&campaign=$(printf 'caf\xc3\xa9')"
link=$(make_link "$work/bench.key" bench 86400 "http://127.0.0.1:$nginx_port/download" --value="$value")
worker=$(pgrep -P $nginx_pid)
[ -n "$worker" ] || { echo "benchmark-serve.sh: nginx did not start" >&2; exit 1; }
# The module's bytes are the tool's stamp, before anything is timed.
"$tool" stamp --value="$value" "$base" "$work/expected.exe" >/dev/null
curl -sf "$link" | cmp - "$work/expected.exe" ||
  { echo "benchmark-serve.sh: the module sent other bytes than the stamp" >&2; exit 1; }
rm -f "$work/expected.exe"

results="$work/results.txt"
after_round() {  # cp of the base, for scale
  rm -f "$work/copy.exe"
  sync "$work" 2>/dev/null || true
  local start end
  start=$(date +%s.%N)
  cp "$base" "$work/copy.exe"
  end=$(date +%s.%N)
  awk -v s="$size" -v a="$start" -v e="$end" 'BEGIN { printf "cp\t0\t%.1f\t0\t0\n", s / (e - a) / 1e6 }' >>"$results"
}
wrk_rounds "$rounds" "$seconds" "$worker" "$results" static "http://127.0.0.1:$nginx_port/static/$name" \
  module "$link"
rm -f "$work/copy.exe"
echo "median of $rounds interleaved rounds of ${seconds} s (wrk -t1 on 127.0.0.1, one nginx worker):"
print_medians "$results" worker static module
printf '%-28s %10s\n' "cp of the base" "$(median "$results" cp 0 3)"
