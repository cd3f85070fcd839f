#!/usr/bin/env bash
# Runs the real zandor-patcher.exe, from the release package as players get
# it, under Wine in a private X display and a UTF-8 locale, and drives it
# like a player, through zandor-e2e-driver.exe. Where the machine cannot run
# 32-bit programs, the package and the driver of the 64-bit build of the same
# sources (scripts/lib/wine-env.sh decides).
# Usage: scripts/e2e.sh [SCENARIO...]   (E2E_PATCHER=EXE tests another build;
# E2E_BUILD=DIR takes the package and driver from another build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/build.sh
source scripts/lib/wine-env.sh

driver_timeout=${E2E_TIMEOUT:-600}

say() { echo "e2e: $*"; }

if ! command -v wine >/dev/null || [[ ! -x /usr/lib/wine/wine || ! -x /usr/lib/wine/wine64 ]] \
   || ! command -v x86_64-w64-mingw32-g++ >/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null \
   || ! command -v chattr >/dev/null || ! command -v unzip >/dev/null || ! command -v localedef >/dev/null \
   || [[ ! -f $wine_marlett ]]; then
  scripts/install-deps.sh
fi
if ! wine_check; then
  say "0 passed, 1 failed"
  exit 1
fi
build=${E2E_BUILD:-build/$wine_preset}
driver=$build/tests/e2e/zandor-e2e-driver.exe
# The release package, as players download it (the driver comes with it),
# unless a patcher is named.
targets=()
[[ -n ${E2E_PATCHER:-} ]] || targets+=(package)
[[ -f $driver ]] || targets+=(zandor-e2e-driver)
if ((${#targets[@]})) && ! build_preset -B "$build" "$wine_preset" "${targets[@]}"; then
  say "0 passed, 1 failed"
  exit 1
fi
wine_locale

work=$(mktemp -d /tmp/zandor-e2e.XXXXXX)
mkdir -p "$work/run"
patcher=${E2E_PATCHER:-}
if [[ -z $patcher ]]; then
  zip=$(ls -t "$build"/zandor-patcher-*-"$wine_preset".zip 2>/dev/null | head -n 1)
  if [[ -z $zip ]] || ! unzip -q "$zip" -d "$work/package" \
     || ! (cd "$work"/package/*/ && sha256sum --quiet -c SHA256SUMS); then
    say "no whole package in $build"
    say "0 passed, 1 failed"
    rm -rf "$work"
    exit 1
  fi
  patcher=$(echo "$work"/package/*/zandor-patcher.exe)
  say "testing $(basename "$zip")"
fi

winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
driver_w=$(winpath "$driver")
patcher_w=$(winpath "$patcher")
export HOME=${HOME:-$work}
driver_pid= tail_pid=

cleanup() {
  set +e
  # Nothing of ours may stay immutable, or the folder could not be removed.
  for f in "$work"/run/*; do [[ -f $f ]] && chattr -i "$f" 2>/dev/null; done
  [[ -n $tail_pid ]] && kill "$tail_pid" 2>/dev/null
  [[ -n $driver_pid ]] && kill "$driver_pid" 2>/dev/null
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

started=$SECONDS

# A throwaway prefix on a display of our own, with no window manager.
if ! wine_display "$work"; then
  say "0 passed, 1 failed"
  exit 1
fi
wine_prefix "$work/prefix" undecorated
say "Wine $("$wine_loader" --version) on display $DISPLAY ready after $((SECONDS - started)) s"

# Requests the driver cannot serve from inside Wine: real key presses, the
# immutable attribute, and a link re-pointed (as another user re-points a
# folder on the game's path). One line in, one line out.
serve() {
  local req=$work/run/host.req line reply
  [[ -f $req ]] || return 0
  line=$(cat "$req")
  rm -f "$req"
  read -r verb name a <<<"$line"
  reply="fail unknown request: $line"
  case $verb in
    keys)
      # Real key presses to whatever window has the X input focus.
      if [[ $name == type ]]; then
        xdotool type --delay 30 -- "${line#keys type }" && reply=ok || reply="fail xdotool"
      else
        xdotool key --delay 30 -- "$name" && reply=ok || reply="fail xdotool"
      fi ;;
    immutable)
      local flag=-i
      [[ $a == on ]] && flag=+i
      if [[ $name == */* || ! -f $work/run/$name ]]; then
        reply="fail no such sample: $name"
      elif chattr "$flag" "$work/run/$name" 2>"$work/chattr.err"; then
        reply=ok
      else
        reply="fail chattr $flag: $(cat "$work/chattr.err")"
      fi ;;
    relink)
      if [[ $name == */* || $a == */* || -z $a ]]; then
        reply="fail not a name in the run folder: $line"
      elif ln -sfn "$a" "$work/run/$name.new" && mv -T "$work/run/$name.new" "$work/run/$name"; then
        reply=ok
      else
        reply="fail cannot re-point $name"
      fi ;;
  esac
  [[ $reply == ok ]] || say "request \"$line\": $reply"
  echo "$reply" >"$work/run/host.ack.tmp"
  mv "$work/run/host.ack.tmp" "$work/run/host.ack"
}

log=$work/driver.log
: >"$log"
(cd "$work/run" && exec timeout "$driver_timeout" "$wine_loader" "$driver_w" "$patcher_w" "$@" >"$log" 2>&1 </dev/null) &
driver_pid=$!
tail -n +1 -f --pid="$driver_pid" "$log" &
tail_pid=$!
while kill -0 "$driver_pid" 2>/dev/null; do
  serve
  sleep 0.1
done
rc=0
wait "$driver_pid" || rc=$?
driver_pid=
wait "$tail_pid" 2>/dev/null || true
tail_pid=

say "finished in $((SECONDS - started)) s"
if ! grep -q '^e2e: [0-9]* passed, [0-9]* failed' "$log"; then
  say "the driver ended without a summary (exit code $rc)"
  say "0 passed, 1 failed"
  exit 1
fi
exit "$rc"
