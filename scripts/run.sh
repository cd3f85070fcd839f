#!/usr/bin/env bash
# Starts the patcher for real on a fresh synthetic game image, demo/ZANDOR.EXE
# (every patch site in the game's own state). With a display ($DISPLAY set)
# the Windows program runs under Wine; without one, or where Wine cannot
# start, the command-line tool scans and patches the image instead.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh
source scripts/lib/wine-env.sh

gui=0
if [[ -n ${DISPLAY:-} ]]; then
  scripts/install-deps.sh
  if wine_check; then
    gui=1
    build_preset "$wine_preset" zandor-patcher
  fi
else
  scripts/install-deps.sh host
fi
build_preset host make_sample zandor-patcher-cli

cli=build/host/src/cli/zandor-patcher-cli
mkdir -p demo
rm -f demo/ZANDOR.EXE demo/ZANDOR.EXE.bak
build/host/tools/make_sample demo/ZANDOR.EXE
echo "demo/ZANDOR.EXE: a fresh sample with every patch site in the game's state"

if ((gui)); then
  # A prefix of our own, made once.
  wine_locale
  wine_prefix "${WINEPREFIX:-$PWD/demo/wine}"
  exe=$PWD/build/$wine_preset/src/app/zandor-patcher.exe
  echo "Starting the patcher under Wine on $DISPLAY; pick demo\\ZANDOR.EXE in the file dialog."
  rc=0
  (cd demo && "$wine_loader" "$exe") || rc=$?
  echo "The patcher ended with exit code $rc. The sample now holds:"
  "$cli" scan demo/ZANDOR.EXE
  exit "$rc"
fi

if [[ -n ${DISPLAY:-} ]]; then
  echo "Wine cannot run the Windows program here."
else
  echo "No display (\$DISPLAY is not set): the Windows program needs one."
fi
echo "Running the command-line tool on demo/ZANDOR.EXE instead."
echo
echo "\$ zandor-patcher-cli scan demo/ZANDOR.EXE"
"$cli" scan demo/ZANDOR.EXE
set -- --start-year 2006 --wc06 --bosman-year 2004 --promoted 3 --relegated 3 \
  --click-delay 4 --exit-fix on
echo
echo "\$ zandor-patcher-cli apply demo/ZANDOR.EXE $*"
"$cli" apply demo/ZANDOR.EXE "$@"
echo
echo "\$ zandor-patcher-cli scan demo/ZANDOR.EXE"
"$cli" scan demo/ZANDOR.EXE
