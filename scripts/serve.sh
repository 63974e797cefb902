#!/usr/bin/env bash
# Serves a reserved base with Debian's nginx and the attribution module, in
# the foreground on 127.0.0.1, until SIGINT or SIGTERM:
#   http://127.0.0.1:PORT/download/<token>/<BASE's name>  stamped with the token's value
#   http://127.0.0.1:PORT/download/<BASE's name>          the base unchanged
# The key: the file MIR_SERVE_KEY_FILE under the id MIR_SERVE_KEY_ID (default
# demo), or else a demo key generated into build/serve/demo.key (id demo).
# Prints the key's path and id, a link for the base's name and a curl line.
# As root, nginx's workers run as www-data, which must be able to read BASE.
#   [MIR_SERVE_KEY_FILE=FILE MIR_SERVE_KEY_ID=ID] scripts/serve.sh BASE [PORT]   (default port 8470)
source "$(dirname "$0")/common.sh"
[ $# -ge 1 ] && [ $# -le 2 ] ||
  { echo "usage: [MIR_SERVE_KEY_FILE=FILE MIR_SERVE_KEY_ID=ID] scripts/serve.sh BASE [PORT]" >&2; exit 2; }
base=$(realpath "$1")
port=${2:-8470}
[ -f "$base" ] || { echo "serve.sh: $1 is not a file" >&2; exit 1; }
cd "$top"
"$top/scripts/setup.sh"

work="$top/build/serve"
mkdir -p "$work"
echo "=== building mir_attribution and the nginx module"
{ cmake --preset native && cmake --build --preset native --target mir_attribution \
    ngx_http_mir_attribution_module; } >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; echo "serve.sh: the build failed" >&2; exit 1; }

key_file=${MIR_SERVE_KEY_FILE:-}
key_id=${MIR_SERVE_KEY_ID:-demo}
if [ -z "$key_file" ]; then
  key_file="$work/demo.key"
  key_id=demo
  if [ ! -f "$key_file" ]; then
    (umask 077 && head -c 32 /dev/urandom >"$key_file")
  fi
fi
key_file=$(realpath -m "$key_file")

source "$top/server/nginx/nginx_run.sh"
if [ "$(id -u)" = 0 ]; then
  nginx_worker_user="www-data www-data"
  runuser -u www-data -- test -r "$base" ||
    { echo "serve.sh: www-data, which nginx's workers run as, cannot read $base" >&2; exit 1; }
fi
nginx_config "$work/nginx.conf" "$port" "$work" "$top/build/native/nginx/ngx_http_mir_attribution_module.so" \
  "location /download/ { mir_attribution $base; }" "mir_attribution_key $key_id $key_file;"
# A bad key or base stops here with nginx's own message.
/usr/sbin/nginx -t -q -p "$work" -c "$work/nginx.conf" ||
  { echo "serve.sh: nginx refused the configuration ($work/nginx.conf)" >&2; exit 1; }

name=$(basename "$base")
link=$("$top/build/native/bin/mir_attribution" link --key-file="$key_file" --key-id="$key_id" \
  --expires=$(($(date +%s) + 86400)) --value="src=serve-demo" --file-name="$name" \
  "http://127.0.0.1:$port/download" | tail -1)
echo "serving $base on 127.0.0.1:$port"
echo "key: $key_file (id $key_id); reasons for unattributed downloads: $work/error.log"
echo "link (src=serve-demo, valid for a day): $link"
echo "try:  curl -o '$name' '$link'"
echo "stop: Ctrl-C"
# nginx itself in the foreground: SIGINT and SIGTERM stop it and its workers.
exec /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g "daemon off;"
