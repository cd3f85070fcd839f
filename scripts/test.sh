#!/usr/bin/env bash
# Builds everything (host, host-asan, win32) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
for preset in host host-asan win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

ctest --preset host -j "$jobs"
ctest --preset host-asan -j "$jobs"

for stage in lint fuzz e2e; do
  if [[ -x scripts/$stage.sh ]]; then
    scripts/$stage.sh
  fi
done
echo "all tests passed"
