#!/usr/bin/env bash
# The Debian packages as an operator uses them: installs build/packages/*.deb
# with apt-get, checks what they put where, serves a stamped download through
# a link made by the packaged tool, with Debian's nginx loading the module
# from /etc/nginx/modules-enabled and the README's production site (its own
# paths, port and certificate), then purges both packages and checks that
# nothing is left and that nginx -t still passes. Needs root; never starts
# the nginx service (the install's reload trigger only reloads a running one).
#   scripts/package-test.sh   (after scripts/package.sh)
#
# A real install, undone at every way out, rather than a scratch root: the
# maintainer scripts that dh_nginx writes change /etc/nginx/modules-enabled by
# its absolute path, so dpkg --root would need a whole Debian to chroot into,
# and a chrootless scratch install would change the machine's /etc anyway.
source "$(dirname "$0")/common.sh"
packages=(libnginx-mod-http-mir-attribution mir-attribution)
debs=("$top"/build/packages/*.deb)
[ -f "${debs[0]}" ] || { echo "package-test.sh: no packages: run scripts/package.sh" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "package-test.sh: installing packages needs root" >&2; exit 1; }
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qv '^not-installed$'; then
    echo "package-test.sh: $package is installed already; the test installs and purges it," \
      "so it leaves yours alone: dpkg --purge ${packages[*]}" >&2
    exit 1
  fi
done
work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers (www-data) read the release from here
fail() { echo "FAILED: $*" >&2; exit 1; }
installed=
cleanup() {
  nginx_stop
  [ -z "$installed" ] || dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
source "$top/server/nginx/nginx_run.sh"
trap cleanup EXIT
enabled=/etc/nginx/modules-enabled
enabled_links() { find "$enabled" -mindepth 1 -printf '%f %l\n' | sort; }
enabled_links >"$work/enabled-before"
# What the packages hold that the machine does not have yet: all of it must go.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done |
  sed 's|^\./|/|; s|/$||' | sort -u | while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || echo "$path"
  done >"$work/new-paths"
nginx_was=0
/usr/sbin/nginx -t -q 2>"$work/nginx-t-before" || nginx_was=$?

installed=yes
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "${debs[@]}" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install of the packages"; }
version=$(dpkg-query -W -f='${Version}' mir-attribution)
while IFS='|' read -r path expected; do
  actual=$([ -L "$path" ] && readlink "$path" || { [ -f "$path" ] && echo file; } || echo missing)
  [ "$actual" = "$expected" ] || fail "$path: $actual, not $expected"
done <<ROWS
$enabled/50-mod-http-mir-attribution.conf|/usr/share/nginx/modules-available/mod-http-mir-attribution.conf
/usr/share/nginx/modules-available/mod-http-mir-attribution.conf|file
/usr/lib/nginx/modules/ngx_http_mir_attribution_module.so|file
/usr/bin/mir_attribution|file
/usr/share/man/man1/mir_attribution.1.gz|file
ROWS
grep -qx 'load_module modules/ngx_http_mir_attribution_module.so;' \
  /usr/share/nginx/modules-available/mod-http-mir-attribution.conf || fail "the load file"
dpkg-query -W -f='${Depends}' libnginx-mod-http-mir-attribution | grep -q "$(
  sed -n 's/^nginx:abi=//p' /usr/share/nginx/src/debian/libnginx-mod.abisubstvars)" ||
  fail "the module does not depend on the nginx ABI it was built for"
[ "$(mir_attribution --version)" = "mir_attribution $version" ] || fail "--version is not $version"
zcat /usr/share/man/man1/mir_attribution.1.gz | grep -q '^\.SS link' || fail "no link section in the manual"

# The README's production site with this test's paths, port and certificate:
# each replaced line must be in the README, so the file served is the one
# the README shows.
mkdir -p "$work/keys" "$work/releases" "$work/log" "$work/tmp"
chmod 700 "$work/keys"
site=$(awk '/^```nginx$/ { f = 1; next } f && /^```$/ { exit } f' "$top/README.md")
for line in "/etc/nginx/mirelo/2026a.key" "listen 443 ssl;" "/srv/releases/mirelo_browser_setup.exe" \
            "/etc/ssl/mirelo/dl.example.com.pem" "/var/log/nginx/mirelo-error.log info"; do
  grep -qF "$line" <<<"$site" || fail "the README's production site has no '$line'"
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tls.key" -out "$work/tls.pem" -days 2 \
  -subj "/CN=dl.example.com" -addext "subjectAltName=DNS:dl.example.com" >/dev/null 2>&1
for id in 2026a 2026b; do (umask 077 && head -c 32 /dev/urandom >"$work/keys/$id.key"); done
# Debian's prefix has modules/ pointing at the module directory; so has this one.
ln -s /usr/lib/nginx/modules "$work/modules"
site_config() {
  cat >"$work/nginx.conf" <<EOF
user www-data;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/log/error.log;
include $enabled/*.conf;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  include $work/sites-enabled/*;
}
EOF
  mkdir -p "$work/sites-enabled"
  sed -e "s|/etc/nginx/mirelo/|$work/keys/|; s|listen 443 ssl;|listen 127.0.0.1:$1 ssl;|" \
    -e "s|/srv/releases/|$work/releases/|; s|/etc/ssl/mirelo/dl.example.com.pem|$work/tls.pem|" \
    -e "s|/etc/ssl/mirelo/dl.example.com.key|$work/tls.key|; s|/var/log/nginx/|$work/log/|" \
    <<<"$site" >"$work/sites-enabled/mirelo"
}

# The release: the small test PE signed with a throw-away certificate, then
# reserved by the packaged tool.
base=$work/releases/mirelo_browser_setup.exe
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign.key" -out "$work/sign.pem" -days 2 \
  -subj "/CN=Mirelo Test Signing" >/dev/null 2>&1
osslsigncode sign -certs "$work/sign.pem" -key "$work/sign.key" -n "Mirelo Browser Setup" \
  -in "$top/server/nginx/testdata/small.exe" -out "$work/signed.exe" >/dev/null
mir_attribution reserve "$work/signed.exe" "$base" >/dev/null
chmod 644 "$base"
nginx_start "$work" site_config /download/mirelo_browser_setup.exe https || fail "nginx did not start"
/usr/sbin/nginx -t -q -p "$work" -c "$work/nginx.conf" || fail "nginx -t of the README's site"
url="https://dl.example.com:$nginx_port/download"
link() { mir_attribution link --key-file="$work/keys/$1.key" --key-id=2026a --expires="$2" \
           --value="$3" "$url" 2>/dev/null | tail -1; }
now=$(date +%s)
value="src=package-test&campaign=$(printf 'caf\xc3\xa9')"
mir_attribution stamp --value="$value" "$base" "$work/stamped.exe" >/dev/null
while IFS='|' read -r label request expected reason; do
  curl -sf --resolve "dl.example.com:$nginx_port:127.0.0.1" --cacert "$work/tls.pem" \
    -o "$work/got.exe" "$request" || fail "$label: the download failed"
  cmp -s "$work/got.exe" "$work/$expected" || fail "$label: not the $expected copy"
  [ -z "$reason" ] || grep -qF "$reason" "$work/log/mirelo-error.log" ||
    fail "$label: no '$reason' in the site's error log"
done <<ROWS
signed link|$(link 2026a $((now + 3600)) "$value")|stamped.exe|
base|$url/mirelo_browser_setup.exe|releases/mirelo_browser_setup.exe|
forged link|$(link 2026b $((now + 3600)) "$value")|releases/mirelo_browser_setup.exe|forged
ROWS
osslsigncode verify -CAfile "$work/sign.pem" "$work/stamped.exe" >/dev/null ||
  fail "the stamped download does not verify"
[ "$(mir_attribution read "$work/stamped.exe")" = "$value" ] || fail "the download's value"
nginx_stop

dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
installed=
while read -r path; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after the purge"
done <"$work/new-paths"
enabled_links | diff "$work/enabled-before" - || fail "the purge left $enabled changed"
nginx_is=0
/usr/sbin/nginx -t -q 2>/dev/null || nginx_is=$?
[ $nginx_is = $nginx_was ] || fail "nginx -t exits $nginx_is after the purge, $nginx_was before"
echo "package test passed: version $version installed, served a stamped download, purged"
