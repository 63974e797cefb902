#!/usr/bin/env bash
# The Debian packages as an operator uses them: installs build/packages/*.deb
# with apt-get, checks what they put where, serves a stamped download through
# a link made by the packaged tool, with Debian's nginx loading the module
# from /etc/nginx/modules-enabled and the README's production site (its own
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
site=$(awk '/^```nginx$/ { f = 1; next } f && /^```$/ { exit } f' "$top/docs/serving-nginx.md")
for line in /etc/nginx/mirelo/ "listen 443 ssl;" /srv/releases/ /etc/ssl/mirelo/ "/var/log/nginx/mirelo-error.log info"; do
  grep -qF "$line" <<<"$site" || fail "the production site of docs/serving-nginx.md has no '$line'"
done
mkdir -p "$work/keys" "$work/releases" "$work/log" "$work/tmp" "$work/sites-enabled"
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
  sed -e "s|/etc/nginx/mirelo/|$work/keys/|; s|listen 443 ssl;|listen 127.0.0.1:$1 ssl;|" \
    -e "s|/srv/releases/|$work/releases/|; s|/etc/ssl/mirelo/dl.example.com|$work/tls|" \
    -e "s|/var/log/nginx/|$work/log/|" <<<"$site" >"$work/sites-enabled/mirelo"
}
# The release: the small test PE signed, then reserved by the packaged tool.
sign "$top/server/nginx/testdata/small.exe" "$work/signed.exe"
mir_attribution reserve "$work/signed.exe" "$work/releases/mirelo_browser_setup.exe" >/dev/null
chmod 644 "$work/releases/mirelo_browser_setup.exe"
nginx_start "$work" site_config /download/mirelo_browser_setup.exe https || fail "nginx did not start"
/usr/sbin/nginx -t -q -p "$work" -c "$work/nginx.conf" || fail "nginx -t of the README's site"
url="https://dl.example.com:$nginx_port/download"
link() { mir_attribution link --key-file="$work/keys/$1.key" --key-id=2026a --expires="$2" \
           --value="$value" "$url" | tail -1; }
value="src=package-test&campaign=$(printf 'caf\xc3\xa9')"
mir_attribution stamp --value="$value" "$work/releases/mirelo_browser_setup.exe" "$work/stamped.exe" >/dev/null
soon=$(($(date +%s) + 1))
expiring=$(link 2026a $soon)
while [ "$(date +%s)" -le $soon ]; do sleep 0.2; done
# Each download: its bytes, the reason in the error log, and its line in the
# access log that the README's log_format writes, without the token.
size=$(stat -c %s "$work/stamped.exe")
while IFS='|' read -r label request expected reason logged; do
  curl -sf --resolve "dl.example.com:$nginx_port:127.0.0.1" --cacert "$work/tls.pem" \
    -o "$work/got.exe" "$request" || fail "$label: the download failed"
  cmp -s "$work/got.exe" "$work/$expected" || fail "$label: not $expected"
  grep -qF "$reason" "$work/log/mirelo-error.log" || fail "$label: no '$reason' in the site's error log"
  line=$(tail -1 "$work/log/mirelo-access.log")
  [[ $line == *"\"GET /download/mirelo_browser_setup.exe\" 200 $size $logged" ]] ||
    fail "$label: access log line: $line"
done <<ROWS
signed link|$(link 2026a $((soon + 3600)))|stamped.exe||stamped "src=package-test&campaign=caf\\xC3\\xA9"
base|$url/mirelo_browser_setup.exe|releases/mirelo_browser_setup.exe|no token|no-token ""
forged link|$(link 2026b $((soon + 3600)))|releases/mirelo_browser_setup.exe|forged|forged ""
expired link|$expiring|releases/mirelo_browser_setup.exe|expired|expired ""
ROWS
nginx_stop
"$top/scripts/doc-test.sh" operator || fail "the operator's shell blocks in docs/"

dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
while read -r path; do [ ! -e "$path" ] || fail "$path is left after the purge"; done <"$work/new-paths"
enabled_links | diff "$work/enabled-before" - || fail "the purge left $enabled changed"
/usr/sbin/nginx -t -q || fail "nginx -t after the purge"
echo "package test passed: version $version installed, served a stamped download, purged"
