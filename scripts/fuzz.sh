#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset "fuzz": clang, ASan, UBSan) and runs
# each for a bounded time, starting from inputs made by the sample-image
# maker (tests/fuzz/make_seeds.sh, run by the build) and the inputs kept from
# fixed faults (tests/fuzz/corpus/).
#
#   scripts/fuzz.sh              45 seconds per harness
#   scripts/fuzz.sh 3600         an hour per harness; the corpus grows in
#                                build/fuzz/work/ and is reused next time
#
# A failure leaves its input in build/fuzz/work/HARNESS/ (crash-*, leak-*,
# timeout-*); once the fault is fixed, keep it in tests/fuzz/corpus/HARNESS/,
# where the host test builds replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh

seconds=${1:-${FUZZ_SECONDS:-45}}

build_preset fuzz fuzzers

bin=build/fuzz/tests/fuzz
# The harnesses as tests/fuzz/CMakeLists.txt lists them.
mapfile -t harnesses <"$bin/harnesses"
work=build/fuzz/work
status=0
for h in "${harnesses[@]}"; do
  dir=$work/$h
  mkdir -p "$dir/corpus"
  rm -rf "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*
  kept=tests/fuzz/corpus/$h
  [[ -d $kept ]] || kept=

  log=$dir/log
  # New inputs go to the first folder only: the kept ones stay as they are.
  if "$bin/fuzz_$h" -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
       -artifact_prefix="$dir/" "$dir/corpus" "$bin/seeds/$h" ${kept:+"$kept"} >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corpus=$(find "$dir/corpus" -type f | wc -l)
    echo "fuzz $h: ${runs:-?} runs in ${seconds} s, no failure (corpus $corpus inputs)"
  else
    echo "fuzz $h: FAILED; the input is in $dir/; last lines of $log:" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
