#!/usr/bin/env bash
# What the scripts decide before they build or install, with apt-get, cmake,
# ctest and dpkg's queries replaced by stubs that record their arguments:
# nothing here builds or installs anything.
#   scripts/scripts_test.sh WORK_DIR
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
work=$(realpath -m "$1")
rm -rf "$work" && mkdir -p "$work/stubs" && cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

# Each stub appends its command line to calls; apt-get -s prints the plan in
# apt-plan; ctest and the build dependency check fail, to stop the script
# there; dpkg-query says that the packages in $STUB_MISSING are not installed
# and every other one is, whatever this machine has.
stub() { printf '#!/bin/sh\necho "%s $*" >>%s/calls\n%s\n' "$1" "$work" "$2" >"stubs/$1" && chmod +x "stubs/$1"; }
stub apt-get 'case " $* " in *" -s "*) cat '"$work"'/apt-plan;; esac'
stub cmake 'exit 0'
stub ctest 'exit 1'
stub dpkg-checkbuilddeps 'exit 1'
stub dpkg-query 'for p in $STUB_MISSING; do case "$*" in *" $p") exit 1;; esac; done
case "$1 $2" in "-W -f=\${Status}") echo "install ok installed"; exit 0;; esac; exec /usr/bin/dpkg-query "$@"'
run() { : >calls; PATH="$work/stubs:$PATH" "$@" >out.log 2>&1; }

# A build machine's installed packages are never upgraded: a plan that would
# upgrade one stops package.sh before any install; otherwise only what is
# missing is installed, without upgrades.
export STUB_MISSING="dpkg-dev lintian"
echo 'Inst dpkg [1.21.21] (1.21.22 Debian:12.5/stable [amd64])' >apt-plan
! run "$scripts/package.sh" || fail "package.sh went on past a plan that upgrades dpkg"
grep -q "would upgrade dpkg" out.log || fail "package.sh did not say what it would upgrade: $(cat out.log)"
! grep -v ' -s ' calls | grep -q 'apt-get .*install' || fail "package.sh installed: $(cat calls)"
echo 'Inst lintian (2.116.3 Debian:12.5/stable [all])' >apt-plan
stub cmake 'exit 3'  # package.sh's version: the script stops there
run "$scripts/package.sh" || true
grep -qx 'apt-get -y -qq --no-upgrade --no-install-recommends .* install dpkg-dev lintian' calls ||
  fail "package.sh's install: $(cat calls)"
grep -q 'apt-get -y .*--no-upgrade.* build-dep' calls || fail "package.sh's build-dep: $(cat calls)"
stub cmake 'exit 0'
unset STUB_MISSING

# The number of jobs: CMAKE_BUILD_PARALLEL_LEVEL, for the build and the tests.
CMAKE_BUILD_PARALLEL_LEVEL=1 run "$scripts/test.sh" || true
grep -q '^cmake --build --preset native -j 1$' calls || fail "test.sh's build: $(cat calls)"
grep -q '^ctest --preset native -j 1$' calls || fail "test.sh's tests: $(cat calls)"

# The launcher's output folder: refused before any build when it cannot be made.
touch a-file
cp "$scripts/../server/nginx/testdata/small.exe" payload.exe
while IFS='|' read -r output message; do
  status=0
  MIR_VERSION=1.2.3.0 run "$scripts/build-launcher.sh" payload.exe payload.exe "$output" || status=$?
  [ $status = 2 ] && grep -qF "$message" out.log || fail "build-launcher.sh $output: $status $(cat out.log)"
  ! grep -q cmake calls || fail "build-launcher.sh $output built"
done <<'ROWS'
a-file/launcher.exe|cannot write into a-file
.|is a folder
ROWS

# The docs' check: an unmarked shell block fails, a marked one passes, and a
# "run by" test must name the doc.
while IFS='|' read -r marker expected; do
  printf '# A doc\n\n%s\n```sh\necho hi\n```\n```nginx\nnot shell\n```\n' "$marker" >releasing.md
  status=0
  "$scripts/doc-test.sh" check "$work/releasing.md" >check.log 2>&1 || status=$?
  [ $status = "$expected" ] || fail "check of a block after '$marker': $status $(cat check.log)"
done <<'ROWS'
|1
<!-- not run: needs production -->|0
<!-- not run: -->|1
<!-- run: release -->|0
<!-- run: elsewhere -->|1
<!-- run by: tools/mir_attribution/pkcs11_signing_test.sh -->|0
<!-- run by: scripts/scripts_test.sh -->|1
<!-- run by: scripts/nothing_test.sh -->|1
ROWS
echo "scripts test passed"
