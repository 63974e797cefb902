#!/usr/bin/env bash
# Builds the nginx module against Debian's nginx-dev as Debian's build system
# for modules (nginx_mod.pm) does: nginx's configure, run in nginx-dev's
# sources with the very flags Debian built /usr/sbin/nginx with (so that
# load_module accepts the module's signature) and --builddir WORK_DIR, then
# `make modules`. The configure step runs again only when nginx-dev's
# version, the flags, the module's build description or the link arguments
# change.
#   build_module.sh WORK_DIR MODULE_SOURCE_DIR OUTPUT.so LINK_ARGUMENTS...
set -euo pipefail
work=$1 module=$2 output=$3
shift 3
link="$*"
nginx_src=/usr/share/nginx/src
[ -f "$nginx_src/conf_flags" ] || { echo "nginx-dev is not installed (scripts/setup.sh)" >&2; exit 1; }
# shellcheck source=/dev/null
source "$nginx_src/conf_flags"
fingerprint=$({ dpkg-query -W -f='${Version}\n' nginx-dev; printf '%s\n' "${NGX_CONF_FLAGS[@]}" "$link"
  cat "$module/config"; } | sha256sum)
if [ "$(cat "$work/configured" 2>/dev/null)" != "$fingerprint" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  if ! (cd "$nginx_src" && MIR_NGINX_LIBS="$link" ./configure "${NGX_CONF_FLAGS[@]}" \
          --add-dynamic-module="$module" --builddir="$work") >"$work/configure.log" 2>&1; then
    tail -20 "$work/configure.log" >&2
    echo "build_module.sh: nginx's configure failed (whole log: $work/configure.log)" >&2
    exit 1
  fi
  echo "$fingerprint" >"$work/configured"
fi
# The archive is not among make's prerequisites: link again every time.
rm -f "$work/ngx_http_mir_attribution_module.so"
make -s -f "$work/Makefile" -C "$nginx_src" modules >&2
cp "$work/ngx_http_mir_attribution_module.so" "$output"
