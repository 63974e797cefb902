# Sourced (through fixture.sh, after nginx_run.sh) by the scripts and tests
# that run the download Worker (server/edge/) under workerd from a private
# directory WORK (its configuration, modules and plan), in the foreground as
# a child, never as a daemon.
edge_dir=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../server/edge")
workerd_bin="$edge_dir/node_modules/@cloudflare/workerd-linux-64/bin/workerd"

# edge_origin_location WORK DIR: the origin's nginx location, DIR's files as
# static files under /releases/, with its own access log in WORK/origin.log.
edge_origin_location() { echo "location /releases/ { alias $2/; access_log $1/origin.log; }"; }

# edge_origin_config FILE PORT WORK DIR [LOCATIONS]: Debian's nginx as a plain
# static origin (edge_origin_location), everything else of it inside WORK;
# LOCATIONS are added to its server block (nginx_config, from nginx_run.sh).
edge_origin_config() {
  nginx_config "$1" "$2" "$3" "" "$(edge_origin_location "$3" "$4") ${5:-}" "" error
}

# edge_catalogue NAME ORIGIN_URL PLAN_FILE [NAME ORIGIN_URL PLAN_FILE]...:
# prints a catalogue of those files (each PLAN_FILE as `mir_attribution plan`
# prints it).
edge_catalogue() {
  local separator=
  echo '{"files": ['
  while (($# >= 3)); do
    printf '%s{"file_name": "%s", "origin_url": "%s", "plan":\n' "$separator" "$1" "$2"
    cat "$3"
    echo '}'
    separator=,
    shift 3
  done
  echo ']}'
}

# edge_config WORK CATALOGUE PREFIX KEY_ID...: writes WORK/workerd.capnp for
# the catalogue CATALOGUE (a file as edge_catalogue prints it, or the URL it
# is published at), with one key binding per KEY_ID and the capnp bindings
# in $edge_bindings (e.g. RESUME_GRACE_SECONDS) if set.
edge_config() {
  local work=$1 catalogue=$2 prefix=$3 bindings=${edge_bindings:-} n=0 id
  shift 3
  for id in "$@"; do
    n=$((n + 1))
    bindings+="(name = \"LINK_KEY_$id\", fromEnvironment = \"MIR_LINK_KEY_$n\"), "
  done
  rm -rf "$work/src"
  mkdir -p "$work"
  cp -r "$edge_dir/src" "$work/src"
  case $catalogue in
    http://* | https://*) bindings+="(name = \"CATALOGUE_URL\", text = \"$catalogue\"), " ;;
    *) cp "$catalogue" "$work/catalogue.json"
       bindings+='(name = "CATALOGUE", json = embed "catalogue.json"), ' ;;
  esac
  sed -e "s|@PREFIX@|$prefix|" -e "s|@BINDINGS@|$bindings|" "$edge_dir/workerd.capnp.in" >"$work/workerd.capnp"
}

# edge_start WORK ORIGIN_ADDRESS LISTEN_ADDRESS KEY_FILE...: starts workerd
# with WORK/workerd.capnp, the origin at ORIGIN_ADDRESS (host:port), listening
# on LISTEN_ADDRESS (port 0: any free port), the keys (the base64 of each
# file's bytes, or a *.secret file's text as it is, in the order of
# edge_config's ids) in its environment only. Waits until it
# listens; sets edge_pid and edge_port. Its output: WORK/workerd.log.
edge_start() {
  local work=$1 origin=$2 listen=$3 n=0 file secret
  shift 3
  rm -f "$work/control"
  (
    for file in "$@"; do
      n=$((n + 1))
      case $file in
        *.secret) secret=$(cat "$file" && echo .) && export "MIR_LINK_KEY_$n=${secret%.}" ;;
        *) export "MIR_LINK_KEY_$n=$(base64 -w0 <"$file")" ;;
      esac
    done
    # Appended to, so that a test may empty the log between requests.
    : >"$work/workerd.log"
    exec "$workerd_bin" serve "$work/workerd.capnp" -s "http=$listen" -e "origin=$origin" \
      --control-fd=3 3>"$work/control" >>"$work/workerd.log" 2>&1
  ) &
  edge_pid=$!
  edge_port=
  for _ in $(seq 100); do
    edge_port=$(sed -n 's/.*"socket":"http","port":\([0-9]*\).*/\1/p' "$work/control" 2>/dev/null)
    [ -z "$edge_port" ] || return 0
    kill -0 "$edge_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/workerd.log" >&2
  edge_stop
  return 1
}

edge_stop() { stop_child edge_pid; }
