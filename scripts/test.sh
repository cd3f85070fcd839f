#!/usr/bin/env bash
# Builds everything (host, host-asan, win32) and runs every test: ctest in both
# host builds, static analysis, bounded fuzzing and the Wine end-to-end run.
#
#   scripts/test.sh           the full run (what CI runs)
#   scripts/test.sh --quick   the host build and its ctest only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case ${1:-} in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 1 ;;
esac

# Installs only what is missing.
scripts/install-deps.sh

jobs=$(nproc)
presets=(host host-asan win32)
((quick)) && presets=(host)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

ctest --preset host -j "$jobs"
if ((!quick)); then
  # The release package, and a second, clean build of it elsewhere: two
  # builds of one commit must give the same bytes.
  cmake --build --preset win32 -j "$jobs" --target package >/dev/null
  rm -rf build/win32-again
  cmake --preset win32 -B build/win32-again >/dev/null
  cmake --build build/win32-again -j "$jobs" --target package >/dev/null
  for f in src/app/zandor-patcher.exe src/cli/zandor-patcher-cli.exe zandor-patcher-*-win32.zip; do
    a=$(cd build/win32 && echo $f) b=$(cd build/win32-again && echo $f)
    cmp "build/win32/$a" "build/win32-again/$b" || { echo "two builds differ: $f" >&2; exit 1; }
  done
  echo "reproducible: two clean builds give the same exes and package"
  tests/package/sign_test.sh build/win32
fi
if ((quick)); then
  echo "quick run passed (host ctest only)"
  exit 0
fi
ctest --preset host-asan -j "$jobs"

for stage in lint fuzz e2e; do
  scripts/$stage.sh
done
echo "all tests passed"
