# shellcheck shell=bash
# What the download tests and scripts set up alike, sourced by them: a
# throw-away code-signing certificate, a signed and reserved test base, a
# link key, a signed link, a test's work folder, and (from nginx_run.sh and
# edge_run.sh beside this file) nginx and workerd started and stopped. The
# functions run the tool `$tool` (mir_attribution) as the caller defines it.
source "$(dirname "${BASH_SOURCE[0]}")/nginx_run.sh"
source "$(dirname "${BASH_SOURCE[0]}")/edge_run.sh"

# stop_child VARIABLE: the child process whose id VARIABLE holds, if any,
# stopped and waited for; VARIABLE emptied.
stop_child() {
  if [ -n "${!1:-}" ]; then
    kill "${!1}" 2>/dev/null || true
    wait "${!1}" 2>/dev/null || true
    printf -v "$1" ''
  fi
}

fail() {
  echo "FAILED: $*"
  exit 1
}

# test_work WORK: an empty WORK as the current folder, nginx and workerd
# stopped on every way out.
test_work() {
  rm -rf "$1"
  mkdir -p "$1"
  cd "$1" || return 1
  trap 'edge_stop; nginx_stop' EXIT
}

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

# reserve_test_base IN BASE: IN signed (as sign does, the certificate beside
# BASE) and reserved into BASE.
reserve_test_base() {
  sign "$1" "$2.signed" && "$tool" reserve "$2.signed" "$2" >/dev/null && rm "$2.signed"
}

# make_link KEY_FILE KEY_ID SECONDS PREFIX [ARGUMENT...]: prints a link under
# PREFIX signed with KEY_FILE as KEY_ID, valid for SECONDS from now, with the
# tool's other link ARGUMENTs (--value=..., --file-name=...).
make_link() {
  "$tool" link --key-file="$1" --key-id="$2" --expires=$(($(date +%s) + $3)) "${@:5}" "$4" | tail -1
}
