#!/usr/bin/env bash
# Serves a reserved base through the download Worker under workerd, in the
# foreground on 127.0.0.1, until SIGINT or SIGTERM, with Debian's nginx as
# its static origin on a private port (the Worker asks it for the base's one
# URL only, as it would ask a CDN):
#   http://127.0.0.1:PORT/download/<token>/<BASE's name>  stamped with the token's value
#   http://127.0.0.1:PORT/download/<BASE's name>          the base unchanged
# The key is MIR_SERVE_KEY_FILE under the id MIR_SERVE_KEY_ID, or else a demo
# key generated into build/serve-edge (id demo). Prints a link and a curl line.
#   scripts/serve-edge.sh BASE [PORT]   (default port 8480)
source "$(dirname "$0")/common.sh"
serve_arguments 8480 "$@"
cd "$top"
"$top/scripts/setup.sh"

work="$top/build/serve-edge"
mkdir -p "$work/origin"
echo "=== building mir_attribution"
build native "$work/build.log" --target mir_attribution
serve_key "$work"

name=$(basename "$base")
# The Worker is told the release's plan; a base that is not reserved stops here.
"$tool" plan "$base" >"$work/plan.json" || { echo "serve-edge.sh: no plan for $base" >&2; exit 1; }
ln -sfn "$base" "$work/origin/$name"
origin_config() { edge_origin_config "$work/nginx.conf" "$1" "$work" "$work/origin"; }
trap 'edge_stop; nginx_stop' EXIT
trap 'exit 0' INT TERM
nginx_start "$work" origin_config "/releases/$name" || { echo "serve-edge.sh: nginx did not start" >&2; exit 1; }
edge_catalogue "$name" "http://origin/releases/$name" "$work/plan.json" >"$work/catalogue.json"
edge_config "$work/edge" "$work/catalogue.json" /download/ "$key_id"
edge_start "$work/edge" "127.0.0.1:$nginx_port" "127.0.0.1:$port" "$key_file" ||
  { echo "serve-edge.sh: workerd did not start on 127.0.0.1:$port" >&2; exit 1; }

echo "serving $base through the Worker on 127.0.0.1:$port (origin: nginx on 127.0.0.1:$nginx_port)"
echo "the Worker's log (a JSON line per request): $work/edge/workerd.log; the origin's log: $work/origin.log"
# The tool refuses a key file that is not private, as nginx would.
serve_link src=serve-edge-demo "http://127.0.0.1:$port/download"
wait "$edge_pid"
