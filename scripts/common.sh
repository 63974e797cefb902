# Sourced by the scripts here: stop at the first failed step and say which,
# and the steps that several of them take.
set -Eeuo pipefail
trap 'echo "${0##*/}: failed at line $LINENO (exit status $?): $BASH_COMMAND" >&2' ERR
# The checkout's folder, also when the scripts are reached through a link.
top=$(cd -P "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
module="$top/build/native/nginx/ngx_http_mir_attribution_module.so"
tool="$top/build/native/bin/mir_attribution"
source "$top/testing/fixture.sh"

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
  link=$(make_link "$key_file" "$key_id" 86400 "$2" --value="$1" --file-name="$(basename "$base")")
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
    local unsigned="$work/static/unsigned.exe"
    if [ -f "$top/build/benchmark/launcher.exe" ]; then
      cp "$top/build/benchmark/launcher.exe" "$unsigned"
    else
      echo "no build/benchmark/launcher.exe: padding the small test PE to the launcher's size"
      cp "$top/server/nginx/testdata/small.exe" "$unsigned"
      head -c $((234000000 - $(stat -c %s "$unsigned"))) /dev/urandom >>"$unsigned"
    fi
    reserve_test_base "$unsigned" "$base"
    rm -f "$unsigned"
  fi
  size=$(stat -c %s "$base")
  echo "base: $base ($size bytes)"
}
