#!/usr/bin/env bash
# x86_code.sh OUT: the code sections (.text) of the objects in the i686 MinGW
# runtime libraries of this machine, one after another, into OUT: filler with
# the byte statistics of real 32-bit x86 code, for the scan benchmark.
set -euo pipefail
out=$1
gcc_dir=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*/ | head -n 1)
libs=("$gcc_dir"libstdc++.a "$gcc_dir"libgcc.a "$gcc_dir"libquadmath.a /usr/i686-w64-mingw32/lib/libmingwex.a)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/code"
for lib in "${libs[@]}"; do
  rm -rf "$tmp/objects" && mkdir "$tmp/objects"
  (cd "$tmp/objects" && i686-w64-mingw32-ar x "$lib")
  for o in "$tmp"/objects/*.o; do
    i686-w64-mingw32-objcopy -O binary -j .text "$o" "$tmp/one" && cat "$tmp/one" >>"$tmp/code"
  done
done
mv "$tmp/code" "$out"
