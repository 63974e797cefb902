# shellcheck shell=bash
# The statistics of the download benchmarks (scripts/benchmark-*.sh),
# sourced by them: interleaved wrk rounds against two modes, their medians.

# wrk_rounds ROUNDS SECONDS PID RESULTS MODE URL MODE URL: interleaved rounds
# of wrk (one thread, 1 and then 8 connections) against each mode's URL, a
# line per run in RESULTS: the mode, the connections, MB/s, the CPU seconds
# per GB sent of process PID, the requests. Sets rss_before and rss_after
# (KiB of PID) by mode; runs the function after_round, if any, after each
# round.
wrk_rounds() {
  local rounds=$1 seconds=$2 pid=$3 results=$4 ticks round connections mode bytes micros requests
  local -A urls=(["$5"]=$6 ["$7"]=$8)
  ticks=$(getconf CLK_TCK)
  cat >"$results.lua" <<'LUA'
done = function(summary, latency, requests)
  io.write(string.format("%d %d %d\n", summary.bytes, summary.duration, summary.requests))
end
LUA
  cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
  rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
  : >"$results"
  declare -gA rss_before=() rss_after=()
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  for ((round = 1; round <= rounds; round++)); do
    for connections in 1 8; do
      for mode in "$5" "$7"; do
        [ -n "${rss_before[$mode]:-}" ] || rss_before[$mode]=$(rss)
        local before after
        before=$(cpu)
        read -r bytes micros requests < <(wrk -t1 -c$connections -d"${seconds}s" -s "$results.lua" \
          "${urls[$mode]}" | tail -1)
        after=$(cpu)
        rss_after[$mode]=$(rss)
        awk -v m="$mode" -v c=$connections -v b="$bytes" -v u="$micros" -v r="$requests" \
          -v t=$((after - before)) -v hz="$ticks" 'BEGIN {
            printf "%s\t%d\t%.1f\t%.3f\t%d\n", m, c, b / u, (t / hz) / (b / 1e9), r }' >>"$results"
      done
    done
    ! declare -F after_round >/dev/null || after_round
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# median RESULTS MODE CONNECTIONS COLUMN: the median of a column of wrk_rounds' lines.
median() {
  awk -F'\t' -v m="$2" -v c="$3" -v k="$4" '$1 == m && $2 == c { print $k }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# print_medians RESULTS WHAT MODE MODE: the medians of the two modes by
# connections, the second against the first, and WHAT's memory.
print_medians() {
  local connections mode rate cost ratio='BEGIN { printf "%.2f", a / b }'
  printf '%-28s %10s %14s %10s %14s\n' "" "MB/s" "CPU s per GB" "x MB/s" "x CPU per GB"
  for connections in 1 8; do
    for mode in "$3" "$4"; do
      rate=$(median "$1" "$mode" $connections 3) cost=$(median "$1" "$mode" $connections 4)
      printf '%-28s %10s %14s %10s %14s\n' "$mode, $connections connection(s)" "$rate" "$cost" \
        "$(awk -v a="$rate" -v b="$(median "$1" "$3" $connections 3)" "$ratio")" \
        "$(awk -v a="$cost" -v b="$(median "$1" "$3" $connections 4)" "$ratio")"
    done
  done
  for mode in "$3" "$4"; do
    echo "$2 RSS, $mode: ${rss_before[$mode]} KiB before, ${rss_after[$mode]} KiB after"
  done
}
