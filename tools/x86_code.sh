#!/usr/bin/env bash
# x86_code.sh AR OBJCOPY OUT LIB...: the code sections (.text) of the objects
# in the given i686 MinGW libraries, one after another, into OUT: filler with
# the byte statistics of real 32-bit x86 code, for the scan benchmark. AR and
# OBJCOPY are MinGW's, which know the objects' format.
set -euo pipefail
ar=$1 objcopy=$2 out=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/code"
for lib in "$@"; do
  rm -rf "$tmp/objects" && mkdir "$tmp/objects"
  (cd "$tmp/objects" && "$ar" x "$lib")
  for o in "$tmp"/objects/*.o; do
    "$objcopy" -O binary -j .text "$o" "$tmp/one" && cat "$tmp/one" >>"$tmp/code"
  done
done
mv "$tmp/code" "$out"
