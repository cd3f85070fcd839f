#!/usr/bin/env bash
# Builds everything (host, host-asan, win32) and runs every test: ctest in both
# host builds, static analysis, bounded fuzzing and the Wine end-to-end run
# (which builds win64 itself where the machine cannot run 32-bit programs).
#
#   scripts/test.sh           the full run (what CI runs)
#   scripts/test.sh --quick   the host build and its ctest only (no MinGW needed)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh

quick=0
case ${1:-} in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 1 ;;
esac

# Installs only what is missing.
if ((quick)); then
  scripts/install-deps.sh host
  build_preset host
  ctest --preset host -j "$(nproc)"
  echo "quick run passed (host ctest only)"
  exit 0
fi
scripts/install-deps.sh

for preset in host host-asan win32; do
  build_preset "$preset"
done
ctest --preset host -j "$(nproc)"

# The release package, and a second, clean build of it elsewhere: two
# builds of one commit must give the same bytes.
build_preset win32 package
rm -rf build/win32-again
build_preset -B build/win32-again win32 package
for f in src/app/zandor-patcher.exe src/cli/zandor-patcher-cli.exe zandor-patcher-*-win32.zip; do
  a=$(cd build/win32 && echo $f) b=$(cd build/win32-again && echo $f)
  cmp "build/win32/$a" "build/win32-again/$b" || { echo "two builds differ: $f" >&2; exit 1; }
done
echo "reproducible: two clean builds give the same exes and package"
tests/package/sign_test.sh

ctest --preset host-asan -j "$(nproc)"

for stage in lint fuzz e2e; do
  scripts/$stage.sh
done
echo "all tests passed"
