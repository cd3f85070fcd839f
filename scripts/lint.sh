#!/usr/bin/env bash
# Static analysis of the project's own sources (src/, tools/ and the fuzz and
# fault tests): clang-tidy with the checks in .clang-tidy, over the host
# build's compile_commands.json, and cppcheck. Any finding fails the run.
#
#   scripts/lint.sh                     uses build/host (configured if missing)
#   LINT_BUILD_DIR=build/x scripts/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh

build=${LINT_BUILD_DIR:-build/host}
if [[ ! -f $build/compile_commands.json ]]; then
  configure_preset -B "$build" host
fi

dirs='/(src|tools|tests/fuzz|tests/faults)/'
mapfile -t files < <(grep -o '"file": *"[^"]*"' "$build/compile_commands.json" |
                     sed 's/"file": *"//; s/"$//' | grep -E "$dirs" | sort -u)
if ((${#files[@]} == 0)); then
  echo "lint: no sources in $build/compile_commands.json" >&2
  exit 1
fi

jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

echo "lint: clang-tidy on ${#files[@]} files"
# Each file on its own, so that one failure does not hide the others.
if ! printf '%s\n' "${files[@]}" |
     xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet >"$log" 2>/dev/null; then
  grep -E '(warning|error):' "$log" | sort -u >&2 || cat "$log" >&2
  echo "lint: clang-tidy found problems" >&2
  exit 1
fi

echo "lint: cppcheck"
if ! cppcheck --std=c++20 --language=c++ -I src -I . -I tests/fuzz -I tests/faults \
       --library=googletest --enable=warning,performance,portability --inline-suppr \
       --error-exitcode=1 --quiet --template='{file}:{line}: {severity}: {message} [{id}]' \
       src tools tests/fuzz tests/faults; then
  echo "lint: cppcheck found problems" >&2
  exit 1
fi
echo "lint: clean"
