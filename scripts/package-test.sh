#!/usr/bin/env bash
# The Debian packages as an operator uses them: installs build/packages/*.deb
# with apt-get, checks what they put where, serves a stamped download through
# a link made by the packaged tool, with Debian's nginx loading the module
# from /etc/nginx/modules-enabled and the production site of docs/serving-nginx.md (its own
# paths, port and certificate), then purges both packages and checks that
# nothing is left and that nginx -t passes. Needs root; never starts the
# nginx service (the install's reload trigger only reloads a running one).
#   scripts/package-test.sh   (after scripts/package.sh)
#
# A real install, undone at every way out, rather than a scratch root: the
# maintainer scripts that dh_nginx writes change /etc/nginx/modules-enabled by
# its absolute path, so dpkg --root would need a whole Debian to chroot into,
# and a chrootless scratch install would change the machine's /etc anyway.
source "$(dirname "$0")/common.sh"
packages=(libnginx-mod-http-mir-attribution mir-attribution)
debs=("$top"/build/packages/*.deb)
enabled=/etc/nginx/modules-enabled
fail() { echo "FAILED: $*" >&2; exit 1; }
[ -f "${debs[0]}" ] || fail "no packages: run scripts/package.sh"
[ "$(id -u)" = 0 ] || fail "installing packages needs root"
if dpkg-query -W -f='${db:Status-Status}\n' "${packages[@]}" 2>/dev/null | grep -qv '^not-installed$'; then
  fail "the packages are installed already; the test purges what it installs: dpkg --purge ${packages[*]}"
fi
work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers (www-data) read the release from here
cleanup() {
  nginx_stop
  dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
enabled_links() { find "$enabled" -mindepth 1 -printf '%f %l\n' | sort; }
enabled_links >"$work/enabled-before"
# What the packages hold that the machine lacks yet: the purge removes all of it.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done | sed 's|^\./|/|; s|/$||' |
  sort -u | while read -r path; do [ -e "$path" ] || echo "$path"; done >"$work/new-paths"

apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "${debs[@]}" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install of the packages"; }
version=$(dpkg-query -W -f='${Version}' mir-attribution)
abi=$(sed -n 's/^nginx:abi=//p' /usr/share/nginx/src/debian/libnginx-mod.abisubstvars)
while IFS='@' read -r label command expected; do
  [ "$(eval "$command" 2>&1)" = "$expected" ] || fail "$label: $(eval "$command" 2>&1)"
done <<ROWS
enabled@readlink $enabled/50-mod-http-mir-attribution.conf@/usr/share/nginx/modules-available/mod-http-mir-attribution.conf
load file@cat /usr/share/nginx/modules-available/mod-http-mir-attribution.conf@load_module modules/ngx_http_mir_attribution_module.so;
module@ls /usr/lib/nginx/modules/ngx_http_mir_attribution_module.so@/usr/lib/nginx/modules/ngx_http_mir_attribution_module.so
nginx ABI@dpkg-query -W -f='\${Depends}' libnginx-mod-http-mir-attribution | grep -o $abi@$abi
tool@mir_attribution --version@mir_attribution $version
manual@zcat /usr/share/man/man1/mir_attribution.1.gz | grep -c '^\.SS \(stamp\|reserve\|plan\|read\|link\)'@5
ROWS

# The production site of docs/serving-nginx.md with this test's paths, port and certificate;
# each line replaced must be in that doc.
doc=$top/docs/serving-nginx.md
site=$(awk '/^```nginx$/ { f = 1; next } f && /^```$/ { exit } f' "$doc")
for line in /etc/nginx/mirelo/ "listen 443 ssl http2;" /srv/releases/ /etc/ssl/mirelo/ "/var/log/nginx/mirelo-access.log mirelo;"; do
  grep -qF "$line" <<<"$site" || fail "the production site of docs/serving-nginx.md has no '$line'"
done
mkdir -p "$work/keys" "$work/releases" "$work/log" "$work/tmp" "$work/sites-enabled"
# The doc's step that makes the site's log files before nginx opens them.
make_logs=$(grep -F '|| install -m 640 -o root -g adm' "$doc") || fail "$doc makes no log files"
eval "${make_logs//\/var\/log\/nginx\//$work/log/}"
chmod 700 "$work/keys"
for id in 2026a 2026b; do make_key "$work/keys/$id.key"; done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tls.key" -out "$work/tls.pem" -days 2 \
  -subj "/CN=dl.example.com" -addext "subjectAltName=DNS:dl.example.com" >/dev/null 2>&1
ln -s /usr/lib/nginx/modules "$work/modules"  # as in Debian's prefix, for the load file's path
site_config() {
  cat >"$work/nginx.conf" <<EOF
user www-data; worker_processes 1; pid $work/nginx.pid; error_log $work/log/error.log;
include $enabled/*.conf;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types; default_type application/octet-stream; access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  include $work/sites-enabled/*;
}
EOF
  sed -e "s|/etc/nginx/mirelo/|$work/keys/|; s|listen 443 ssl http2;|listen 127.0.0.1:$1 ssl http2;|" \
    -e "s|/srv/releases/|$work/releases/|; s|/etc/ssl/mirelo/dl.example.com|$work/tls|" \
    -e "s|/var/log/nginx/|$work/log/|" <<<"$site" >"$work/sites-enabled/mirelo"
}
# The release: the small test PE signed, then reserved by the packaged tool.
sign "$top/server/nginx/testdata/small.exe" "$work/signed.exe"
mir_attribution reserve "$work/signed.exe" "$work/release.exe" >/dev/null
# Put in place by the doc's steps, with this test's paths.
steps=$(grep -E '^(install -d -m 755 /srv/releases$|install -m 644 out/|mv -f /srv/releases/)' "$doc")
[ "$(grep -c . <<<"$steps")" = 3 ] || fail "the release steps of $doc"
steps=${steps//\/srv\/releases/$work/releases}
eval "${steps//out\/mirelo_browser_setup.exe/$work/release.exe}"
nginx_start "$work" site_config /download/mirelo_browser_setup.exe https || fail "nginx did not start"
/usr/sbin/nginx -t -q -p "$work" -c "$work/nginx.conf" || fail "nginx -t of the doc's site"
url="https://dl.example.com:$nginx_port/download"
link() { mir_attribution link --key-file="$work/keys/$1.key" --key-id=2026a --expires="$2" \
           --value="$value" "$url" | tail -1; }
value="src=package-test&campaign=$(printf 'caf\xc3\xa9')"
mir_attribution stamp --value="$value" "$work/releases/mirelo_browser_setup.exe" "$work/stamped.exe" >/dev/null
# Three seconds ahead, so that a slow start of the tool cannot reach the expiry first.
soon=$(($(date +%s) + 3))
expiring=$(link 2026a $soon)
while [ "$(date +%s)" -le $soon ]; do sleep 0.2; done
# Each download: its bytes and its line in the access log that the doc's
# log_format writes, without the token; the logs stay private.
size=$(stat -c %s "$work/stamped.exe")
# The line of nginx_start's one answered probe first.
for _ in $(seq 50); do [ -s "$work/log/mirelo-access.log" ] && break; sleep 0.1; done
while IFS='|' read -r label http request expected outcome logged_value; do
  lines=$(wc -l <"$work/log/mirelo-access.log")
  got_http=$(curl -sf "--http$http" -w '%{http_version}' --resolve "dl.example.com:$nginx_port:127.0.0.1" \
    --cacert "$work/tls.pem" -o "$work/got.exe" "$request") || fail "$label: the download failed"
  [ "$got_http" = "$http" ] || fail "$label: HTTP/$got_http"
  cmp -s "$work/got.exe" "$work/$expected" || fail "$label: not $expected"
  # nginx writes the line once the response is sent, maybe after curl is done.
  for _ in $(seq 50); do [ "$(wc -l <"$work/log/mirelo-access.log")" = "$lines" ] || break; sleep 0.1; done
  line=$(tail -1 "$work/log/mirelo-access.log")
  [ "$(jq -c --arg value "$logged_value" --arg outcome "$outcome" --arg range "0-$((size - 1))/$size" \
    '. == {outcome: $outcome, value: $value, path: "/download/mirelo_browser_setup.exe", range: $range,
           status: 200, last_byte: 1, completed: 1}' <<<"$line")" = true ] || fail "$label: access log line: $line"
  token=$(basename "$(dirname "$request")")
  [ "$token" = download ] || ! grep -qF "$token" "$work"/log/mirelo-*.log || fail "$label: a log holds the token"
done <<ROWS
signed link|1.1|$(link 2026a $((soon + 3600)))|stamped.exe|stamped|$value
signed link, HTTP/2|2|$(link 2026a $((soon + 3600)))|stamped.exe|stamped|$value
base|2|$url/mirelo_browser_setup.exe|releases/mirelo_browser_setup.exe|no-token|
forged link|1.1|$(link 2026b $((soon + 3600)))|releases/mirelo_browser_setup.exe|forged|
expired link|2|$expiring|releases/mirelo_browser_setup.exe|expired|
ROWS
for log in access error; do
  [ "$(stat -c '%a %U %G' "$work/log/mirelo-$log.log")" = "640 root adm" ] ||
    fail "mirelo-$log.log: $(stat -c '%a %U %G' "$work/log/mirelo-$log.log")"
done
nginx_stop
"$top/scripts/doc-test.sh" operator || fail "the operator's shell blocks in docs/"

dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
while read -r path; do [ ! -e "$path" ] || fail "$path is left after the purge"; done <"$work/new-paths"
enabled_links | diff "$work/enabled-before" - || fail "the purge left $enabled changed"
/usr/sbin/nginx -t -q || fail "nginx -t after the purge"
echo "package test passed: version $version installed, served a stamped download, purged"
