#!/bin/sh
# Links a program with lld instead of GNU ld, through clang's MinGW driver and
# MinGW g++'s own runtime (libstdc++, winpthreads). lld points the image's
# load-configuration entry at `_load_config_used` by itself, which GNU ld
# 2.40 does not. Used as CMake's linker launcher, so the second argument is
# the compiler CMake would link with, and the rest are its arguments.
#   link_with_lld.sh CLANG++ G++ ARGUMENTS...
set -eu
clang=$1 gcc=$2
shift 2
runtime=$(dirname "$("$gcc" -print-libgcc-file-name)")
# lld has no --push-state/--pop-state (Abseil wraps -latomic in them); it
# needs neither, as it does not drop unused libraries.
for argument; do
  shift
  case $argument in
  -Wl,--push-state,--as-needed | -Wl,--pop-state) ;;
  *) set -- "$@" "$argument" ;;
  esac
done
exec "$clang" --target=x86_64-w64-mingw32 -fuse-ld=lld -B"$runtime" -L"$runtime" "$@" -lpthread
