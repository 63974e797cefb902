# Sourced by the scripts here: stop at the first failed step and say which,
# and the steps that several of them take.
set -Eeuo pipefail
trap 'echo "${0##*/}: failed at line $LINENO (exit status $?): $BASH_COMMAND" >&2' ERR
# The checkout's folder, also when the scripts are reached through a link.
top=$(cd -P "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
module="$top/build/native/nginx/ngx_http_mir_attribution_module.so"
tool="$top/build/native/bin/mir_attribution"
source "$top/server/nginx/nginx_run.sh"

# apt_install PACKAGE...: the packages installed from Debian, quietly.
apt_install() {
  echo "${0##*/}: installing $*" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "$@" >/dev/null || { echo "${0##*/}: could not install $*" >&2; exit 1; }
}

# apt_no_upgrade install PACKAGE... | build-dep FOLDER: on a build machine,
# what is missing installed, without recommendations, and no installed
# package upgraded: when one would be, says which and stops.
apt_no_upgrade() {
  local options=(-qq --no-upgrade --no-install-recommends -o DPkg::Lock::Timeout=120) plan upgrades
  apt-get update -qq || { echo "${0##*/}: apt-get update failed" >&2; exit 1; }
  plan=$(apt-get -s "${options[@]}" "$@") || { echo "${0##*/}: apt-get $* is not possible" >&2; exit 1; }
  upgrades=$(sed -n 's/^Inst \([^ ]*\) \[.*/\1/p' <<<"$plan" | tr '\n' ' ')
  [ -z "$upgrades" ] || { echo "${0##*/}: apt-get $* would upgrade ${upgrades% }: upgrade them first" >&2; exit 1; }
  echo "${0##*/}: apt-get $*" >&2
  DEBIAN_FRONTEND=noninteractive apt-get -y "${options[@]}" "$@" >/dev/null ||
    { echo "${0##*/}: apt-get $* failed" >&2; exit 1; }
}

# logged LOG WHAT COMMAND...: runs COMMAND with its output in LOG; when it
# fails, shows the log's last 40 lines, says that WHAT failed and stops.
logged() {
  local log=$1 what=$2
  shift 2
  mkdir -p "$(dirname "$log")"
  "$@" >"$log" 2>&1 && return
  tail -40 "$log"
  echo "${0##*/}: $what failed (whole log: $log)" >&2
  exit 1
}

# build PRESET LOG [ARGUMENT...]: configures PRESET and builds it, with
# cmake --build's ARGUMENTs (--target ..., -j N), as logged runs a command.
build() {
  local preset=$1 log=$2
  shift 2
  logged "$log" "the $preset build" configure_and_build "$preset" "$@"
}
configure_and_build() { (cd "$top" && cmake --preset "$1" && cmake --build --preset "$@"); }

# make_key FILE: a link key, 32 random bytes only their owner can read,
# unless FILE is there already.
make_key() { [ -f "$1" ] || (umask 077 && head -c 32 /dev/urandom >"$1"); }

# sign IN OUT: IN signed into OUT with a throw-away certificate made once
# beside OUT (cert.pem, cert.key).
sign() {
  local dir
  dir=$(dirname "$2")
  [ -f "$dir/cert.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/cert.key" \
    -out "$dir/cert.pem" -days 2 -subj "/CN=Mirelo Test Signing" >/dev/null 2>&1
  osslsigncode sign -certs "$dir/cert.pem" -key "$dir/cert.key" -n "Mirelo Browser Setup" \
    -in "$1" -out "$2" >/dev/null
}

# download_config FILE PORT WORK BASE KEY_ID KEY_FILE [LOCATIONS] [LOG_LEVEL]:
# nginx's configuration serving BASE through the build's module under
# /download/, with the key KEY_FILE under KEY_ID.
download_config() {
  nginx_config "$1" "$2" "$3" "$module" "location /download/ { mir_attribution $4; } ${7:-}" \
    "mir_attribution_key $5 $6;" "${8:-info}"
}

# serve_arguments DEFAULT_PORT BASE [PORT]: the serve scripts' base and port.
serve_arguments() {
  [ $# -ge 2 ] && [ $# -le 3 ] ||
    { echo "usage: [MIR_SERVE_KEY_FILE=FILE MIR_SERVE_KEY_ID=ID] scripts/${0##*/} BASE [PORT]" >&2; exit 2; }
  base=$(realpath "$2") port=${3:-$1}
  [ -f "$base" ] || { echo "${0##*/}: $2 is not a file" >&2; exit 1; }
}

# serve_key WORK: the serve scripts' key, as key_file and key_id: the file
# MIR_SERVE_KEY_FILE under MIR_SERVE_KEY_ID (default demo), or else a demo
# key made once in WORK (id demo).
serve_key() {
  key_file=${MIR_SERVE_KEY_FILE:-} key_id=${MIR_SERVE_KEY_ID:-demo}
  if [ -z "$key_file" ]; then
    key_file="$1/demo.key" key_id=demo
    make_key "$key_file"
  fi
  key_file=$(realpath -m "$key_file")
}

# serve_link VALUE PREFIX: prints a link valid for a day to BASE's name
# under PREFIX, signed with the serve key, and how to try it.
serve_link() {
  local link
  link=$("$tool" link --key-file="$key_file" --key-id="$key_id" --expires=$(($(date +%s) + 86400)) \
    --value="$1" --file-name="$(basename "$base")" "$2" | tail -1)
  echo "key: $key_file (id $key_id)"
  echo "link ($1, valid for a day): $link"
  echo "try:  curl -o '$(basename "$base")' '$link'"
  echo "stop: Ctrl-C"
}

# benchmark_setup NAME [TARGET...]: a download benchmark's set-up. Its work
# folder build/NAME (work), the tool and TARGETs built, a key
# (work/bench.key) and its base (base, its name and size), made once in
# work/static: the signed launcher from scripts/benchmark-launcher.sh when it
# has been run (build/benchmark/launcher.exe), otherwise the small test PE
# padded with random bytes to the same size; either signed with a
# throw-away certificate and reserved.
benchmark_setup() {
  cd "$top"
  "$top/scripts/setup.sh"
  work="$top/build/$1"
  mkdir -p "$work/static"
  build native "$work/build.log" --target mir_attribution "${@:2}"
  make_key "$work/bench.key"
  name=mirelo_browser_setup.exe
  base="$work/static/$name"
  if [ ! -f "$base" ]; then
    local unsigned="$work/static/unsigned.exe" signed="$work/static/signed.exe"
    if [ -f "$top/build/benchmark/launcher.exe" ]; then
      cp "$top/build/benchmark/launcher.exe" "$unsigned"
    else
      echo "no build/benchmark/launcher.exe: padding the small test PE to the launcher's size"
      cp "$top/server/nginx/testdata/small.exe" "$unsigned"
      head -c $((234000000 - $(stat -c %s "$unsigned"))) /dev/urandom >>"$unsigned"
    fi
    sign "$unsigned" "$signed"
    "$tool" reserve "$signed" "$base" >/dev/null
    rm -f "$unsigned" "$signed"
  fi
  size=$(stat -c %s "$base")
  echo "base: $base ($size bytes)"
}

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
