#!/usr/bin/env bash
# Takes docs/options-dialog.png again: the patcher of the win32 build (win64
# where the machine cannot run 32-bit programs) under Wine in a private Xvfb
# display, on a sample image that the command-line tool has patched first, so
# that every control shows a chosen value.
#
#   scripts/screenshot.sh [OUT]     (default docs/options-dialog.png)
#
# SCREENSHOT_EXE=EXE shows another build of the patcher instead.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh
source scripts/lib/wine-env.sh

out=${1:-docs/options-dialog.png}
scripts/install-deps.sh
build_preset host make_sample zandor-patcher-cli
wine_check
exe=${SCREENSHOT_EXE:-}
if [[ -z $exe ]]; then
  build_preset "$wine_preset" zandor-patcher
  exe=build/$wine_preset/src/app/zandor-patcher.exe
fi
exe=$(realpath "$exe")
[[ -f $wine_marlett ]] || { echo "screenshot: $wine_marlett is missing (Debian's fonts-wine)" >&2; exit 1; }

work=$(mktemp -d /tmp/zandor-shot.XXXXXX)
cleanup() {
  set +e
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

build/host/tools/make_sample "$work/ZANDOR.EXE" >/dev/null
build/host/src/cli/zandor-patcher-cli apply "$work/ZANDOR.EXE" --start-year 2010 --wc06 --bosman-year 2005 \
  --promoted 3 --relegated 2 --click-delay 3 --exit-fix on >/dev/null

wine_locale
wine_display "$work"
wine_prefix "$work/prefix" undecorated

# WINDOW TITLE: waits up to 60 s for the window and prints its X id.
window() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }

# Ended, without writing, with everything else of the prefix when the
# script ends.
(cd "$work" && exec "$wine_loader" "$exe" >"$work/wine.log" 2>&1 </dev/null) &
window Welcome >/dev/null
sleep 1
xdotool key Return
window "Select your ZANDOR executable" >/dev/null
sleep 1
xdotool type --delay 30 ZANDOR.EXE
xdotool key Return
id=$(window "Velmar's ZANDOR patcher")
# Until the dialog has drawn itself.
sleep 2
import -window "$id" "$work/shot.png"
# No time stamps or other chunks that would differ from run to run.
convert "$work/shot.png" -strip "$out"
echo "screenshot: $out"
