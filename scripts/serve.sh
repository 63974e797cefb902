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
serve_arguments 8470 "$@"
cd "$top"
"$top/scripts/setup.sh"

work="$top/build/serve"
echo "=== building mir_attribution and the nginx module"
build native "$work/build.log" --target mir_attribution ngx_http_mir_attribution_module
serve_key "$work"

if [ "$(id -u)" = 0 ]; then
  nginx_worker_user="www-data www-data"
  runuser -u www-data -- test -r "$base" ||
    { echo "serve.sh: www-data, which nginx's workers run as, cannot read $base" >&2; exit 1; }
fi
download_config "$work/nginx.conf" "$port" "$work" "$base" "$key_id" "$key_file"
# A bad key or base stops here with nginx's own message.
/usr/sbin/nginx -t -q -p "$work" -c "$work/nginx.conf" ||
  { echo "serve.sh: nginx refused the configuration ($work/nginx.conf)" >&2; exit 1; }

echo "serving $base on 127.0.0.1:$port; reasons for unattributed downloads: $work/error.log"
serve_link src=serve-demo "http://127.0.0.1:$port/download"
# nginx itself in the foreground: SIGINT and SIGTERM stop it and its workers.
exec /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g "daemon off;"
