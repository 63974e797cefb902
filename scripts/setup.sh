#!/usr/bin/env bash
# Installs the Debian packages the project builds with and fetches the one
# source package that must be cross-built (Abseil for MinGW). Idempotent: a
# second run installs and downloads nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache="$top/.deps"

packages=(g++-mingw-w64-x86-64-posix wine64 clang cmake ninja-build libabsl-dev
          googletest libbenchmark-dev dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
  apt-get "${apt_opts[@]}" update -qq
  (cd "$cache/download" && apt-get "${apt_opts[@]}" source --download-only -qq "abseil=$absl_version")
  rm -rf "$absl_dir.tmp"
  dpkg-source --no-check -x "$cache/download"/abseil_*.dsc "$absl_dir.tmp" >/dev/null
  mv "$absl_dir.tmp" "$absl_dir"
fi
ln -sfn "$absl_dir" "$cache/abseil"
echo "setup: ready (abseil $absl_version)"
