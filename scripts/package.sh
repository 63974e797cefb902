#!/usr/bin/env bash
# Builds the Debian packages libnginx-mod-http-mir-attribution and
# mir-attribution (debian/) with dpkg-buildpackage into build/packages/, and
# fails unless lintian passes them (errors and warnings; the overrides in
# debian/ say why each kept warning is right). The version is
# debian/changelog's, which a test keeps cmake/version.cmake's default (a
# release adds an entry with dch and sets that default). Installs what
# debian/control asks for and lintian when missing, upgrading nothing (a
# build machine's packages are its own; it stops when a newer version is
# needed). The builds run CMAKE_BUILD_PARALLEL_LEVEL jobs (default: one per
# core). Idempotent: unchanged sources and build dependencies build
# nothing; otherwise the copy of the tree that it builds in keeps its build
# directory, so only what changed is compiled again.
#   scripts/package.sh
source "$(dirname "$0")/common.sh"
cd "$top"
out="$top/build/packages"
stage="$out/stage"
source_dir="$stage/mir-attribution"
say() { echo "package.sh: $*" >&2; }

missing=()
for package in build-essential dpkg-dev lintian; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
((${#missing[@]} == 0)) || apt_no_upgrade install "${missing[@]}"
dpkg-checkbuilddeps debian/control >/dev/null 2>&1 || apt_no_upgrade build-dep "$top"

version=$(dpkg-parsechangelog -S Version)

# The tree as it is checked out, changes included, without what git ignores.
mapfile -d '' files < <(git ls-files -z -co --exclude-standard | sort -zu)
existing=()
for file in "${files[@]}"; do [ -f "$file" ] && existing+=("$file"); done
names=$(printf '%s\n' "${existing[@]}" | sha256sum)
fingerprint=$({
  echo "$version"
  dpkg-query -W nginx-dev libabsl-dev libssl-dev debhelper
  printf '%s\0' "${existing[@]}" | xargs -0 sha256sum
} | sha256sum)
debs=("$out"/*_"$version"_*.deb)
if [ "$(cat "$stage/built" 2>/dev/null)" = "$fingerprint" ] && [ -f "${debs[0]}" ]; then
  say "up to date: ${debs[*]##*/}"
  exit 0
fi

# A file gone from the tree empties the copy; otherwise it is updated in
# place with the files' times, so the build directory in it is reused.
[ "$(cat "$stage/names" 2>/dev/null)" = "$names" ] || rm -rf "$stage"
mkdir -p "$source_dir"
rm -rf "$source_dir/debian" "$stage/built"
printf '%s\0' "${existing[@]}" | tar --null -T - -cf - | tar -C "$source_dir" -xf -
echo "$names" >"$stage/names"
say "building version $version (log: $stage/build.log)"
rm -f "$stage"/*.deb "$stage"/*.changes "$stage"/*.buildinfo
logged "$stage/build.log" dpkg-buildpackage sh -c 'cd "$1" && dpkg-buildpackage -us -uc -b -nc -J"$2"' sh \
  "$source_dir" "${CMAKE_BUILD_PARALLEL_LEVEL:-auto}"
status=0
lintian --fail-on error,warning --info "$stage"/*.changes >"$out/lintian.txt" 2>&1 || status=$?
cat "$out/lintian.txt"
[ $status = 0 ] || { say "lintian failed: $out/lintian.txt"; exit 1; }
# Debug symbols aside, so that build/packages/*.deb is what a server installs.
rm -rf "$out"/*.deb "$out/debug"
mkdir -p "$out/debug"
mv "$stage"/*-dbgsym_*.deb "$out/debug/"
mv "$stage"/*.deb "$out/"
echo "$fingerprint" >"$stage/built"
say "built $(cd "$out" && echo *.deb)"
