#!/usr/bin/env bash
# The shell blocks of docs/*.md, run as their readers run them, so that a doc
# cannot drift from what works. The line right before each ```sh block says
# how it is kept working (docs/README.md):
#   <!-- run: release -->      run here, in a scratch folder, against the build tree
#   <!-- run: operator -->     run here, as root, with the packages installed
#   <!-- run by: PATH -->      run by the test PATH, which names the doc
#   <!-- not run: REASON -->   not runnable here (a timestamp server, production)
#   scripts/doc-test.sh check [DOC...]   fails on a shell block marked none of these
#   scripts/doc-test.sh release          runs the release engineer's blocks
#   scripts/doc-test.sh operator         runs the operator's blocks (from scripts/package-test.sh)
source "$(dirname "$0")/common.sh"
fail() { echo "doc-test.sh: $*" >&2; exit 1; }

# blocks DOC...: one record per shell block, NUL-terminated:
# DOC:LINE <TAB> MARKER <TAB> ARGUMENT <LF> the block, out-dented by its fence.
blocks() {
  awk '
    FNR == 1 { fence = "" }
    fence == "" && /^ *```/ {
      indent = match($0, /[^ ]/) - 1
      fence = substr($0, indent + 1)
      shell = fence ~ /^```(sh|bash|shell) *$/
      kind = "none"; argument = ""
      if (match(previous, /^ *<!-- (run|run by|not run): .* -->$/)) {
        marker = previous; sub(/^ *<!-- /, "", marker); sub(/ -->$/, "", marker)
        kind = substr(marker, 1, index(marker, ":") - 1)
        argument = substr(marker, index(marker, ":") + 2)
      }
      body = ""; start = FNR; next
    }
    fence != "" && /^ *``` *$/ {
      if (shell) printf "%s:%d\t%s\t%s\n%s%c", FILENAME, start, kind, argument, body, 0
      fence = ""; previous = ""; next
    }
    fence != "" { body = body substr($0, indent + 1) "\n"; next }
    { previous = $0 }' "$@"
}

docs=("$top"/docs/*.md)

# check DOC...: every shell block marked, each "run by" test naming its doc.
check() {
  local record header where kind argument bad=0
  while IFS= read -r -d '' record; do
    header=${record%%$'\n'*}
    IFS=$'\t' read -r where kind argument <<<"$header"
    case "$kind:$argument" in
      run:release | run:operator | "not run:"?*) ;;
      "run by:"?*)
        [ -f "$top/$argument" ] && grep -qF "docs/$(basename "${where%:*}")" "$top/$argument" ||
          { echo "$where: '$argument' is not a test that names this doc"; bad=1; } ;;
      *) echo "$where: a shell block neither run nor marked '<!-- not run: why -->'"; bad=1 ;;
    esac
  done < <(blocks "$@")
  # The example plans are of one release.
  [ "$(grep -ho '"\(file_size\|slot_offset\)": [0-9]*' "$@" | sort -u | wc -l)" -le 2 ] ||
    { echo "the docs' example plans give different sizes"; bad=1; }
  return $bad
}

# script ENVIRONMENT: the blocks run in ENVIRONMENT, in the docs' order, as one
# script; a "not run" block among them becomes a call to stand_in REASON.
script() {
  local record header where kind argument ran=""
  while IFS= read -r -d '' record; do
    header=${record%%$'\n'*}
    IFS=$'\t' read -r where kind argument <<<"$header"
    if [ "$kind:$argument" = "run:$1" ]; then
      printf 'echo %q\n%s\n' "=== ${where#"$top/"}" "${record#*$'\n'}"
      ran=${where%:*}
    elif [ "$kind" = "not run" ] && [ "${where%:*}" = "$ran" ]; then
      printf 'stand_in %q\n' "$argument"
    fi
  done < <(blocks "${docs[@]}")
}

# run ENVIRONMENT DIR [COMMAND...]: the script of ENVIRONMENT run by bash in
# DIR (through COMMAND, with $setup run first and the script $repeat times),
# stopping at the first command that fails, with the functions stand_in (by
# default doing nothing) and sign defined; its output in
# build/doc-test-ENVIRONMENT.log, shown when it fails.
run() {
  local environment=$1 dir=$2 text all=""
  shift 2
  text=$(script "$environment")
  [ -n "$text" ] || fail "no block is marked 'run: $environment'"
  for ((i = 0; i < ${repeat:-1}; i++)); do all+="$text"$'\n'; done
  declare -F stand_in >/dev/null || stand_in() { :; }
  logged "$top/build/doc-test-$environment.log" "a block marked 'run: $environment'" \
    "$@" bash -xeuo pipefail -c "$(declare -f stand_in sign)
${setup:-}
cd $(printf %q "$dir")
$all"
  echo "doc-test.sh: the blocks marked 'run: $environment' ran (log: build/doc-test-$environment.log)"
}

# The release engineer's folder: the build tree and scripts of this checkout,
# the two payloads (here the small test PE), an empty out/. The signing needs
# the release's key and a timestamp server: instead, a throw-away certificate.
release_environment() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  mkdir -p "$top/build"
  ln -s "$top/scripts" "$top/build" "$scratch/"
  cp "$top/server/nginx/testdata/small.exe" "$scratch/setup_guide.exe"
  cp "$top/server/nginx/testdata/small.exe" "$scratch/installer.exe"
  stand_in() {
    [ -f out/signed.exe ] && return
    sign out/mir_setup_launcher.exe out/signed.exe && cp out/cert.pem release-ca.pem
  }
  run release "$scratch"
}

# The operator's machine, in namespaces of its own so that the blocks run as
# written: a copy of /etc, with the production site in
# nginx/sites-available, a certificate for dl.example.com (trusted by curl)
# and that name on 127.0.0.1; empty /run, /tmp and /var/log/nginx; a
# reserved base in /srv/releases; a network of its own (nginx listens on its
# port 443, reached by nobody else); no systemd. Its processes end with it.
# The blocks run twice: nginx is started, then reloaded.
operator_environment() {
  [ "$(id -u)" = 0 ] || fail "the operator's blocks need root"
  command -v mir_attribution >/dev/null || fail "the operator's blocks need the packages installed"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  cp -a /etc "$scratch/etc"
  mkdir -p "$scratch/etc/ssl/mirelo" "$scratch/srv/releases" "$scratch/log"
  awk '/^```nginx$/ { f = 1; next } f && /^```$/ { exit } f' "$top/docs/serving-nginx.md" \
    >"$scratch/etc/nginx/sites-available/mirelo"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/etc/ssl/mirelo/dl.example.com.key" \
    -out "$scratch/etc/ssl/mirelo/dl.example.com.pem" -days 2 -subj "/CN=dl.example.com" \
    -addext "subjectAltName=DNS:dl.example.com" >/dev/null 2>&1
  echo "127.0.0.1 dl.example.com" >>"$scratch/etc/hosts"
  sign "$top/server/nginx/testdata/small.exe" "$scratch/signed.exe"
  mir_attribution reserve "$scratch/signed.exe" "$scratch/srv/releases/mirelo_browser_setup.exe" >/dev/null
  chmod 755 "$scratch/srv" "$scratch/srv/releases" && chmod 644 "$scratch"/srv/releases/*
  # The checkout stays where it is, also when it lies under /tmp.
  local s t
  s=$(printf %q "$scratch") t=$(printf %q "$top")
  setup="mount --bind $s/etc /etc && mount --bind $s/srv /srv && mount --bind $s/log /var/log/nginx
mount -t tmpfs run /run && mkdir /run/checkout && mount --bind $t /run/checkout
mount -t tmpfs tmp /tmp && mkdir -p $t && mount --bind /run/checkout $t && ip link set lo up
export CURL_CA_BUNDLE=/etc/ssl/mirelo/dl.example.com.pem"
  # In a chroot, / is no mount point and its mount's propagation cannot be
  # changed from inside: it is left as the chroot's maker set it.
  local propagation=private
  mountpoint -q / || propagation=unchanged
  repeat=2 run operator "$top" unshare --mount --propagation $propagation --net --pid --fork --mount-proc
}

case "${1:-}" in
  check)
    shift
    check "${@:-${docs[@]}}" || fail "mark each block as docs/README.md says"
    echo "doc-test.sh: every shell block in docs/ is run or marked" ;;
  release) release_environment ;;
  operator) operator_environment ;;
  *) echo "usage: scripts/doc-test.sh check [DOC...] | release | operator" >&2; exit 2 ;;
esac
