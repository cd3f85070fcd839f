# Sourced by the scripts that run the Windows programs under Wine (run.sh,
# e2e.sh, screenshot.sh): the one setup of Wine's environment. Run from the
# top of the repository.

wine_xvfb_pid= wine_own_prefix=
wine_marlett=/usr/share/wine/fonts/marlett.ttf

# Which build the Wine steps run, decided once: the 32-bit product where the
# machine runs 32-bit Linux programs, else the 64-bit build of the same
# sources. Wine's loader for 32-bit programs is itself a 32-bit Linux program,
# which a kernel without IA32 emulation refuses ("Exec format error"), and
# Debian's wine wrapper picks that loader whenever it is installed: the 64-bit
# one is called by its own path. Sets wine_preset (win32 or win64) and
# wine_loader; wineserver's wrapper already prefers the 64-bit server.
wine_preset= wine_loader=
wine_choose() {
  [[ -z $wine_preset ]] || return 0
  local out
  # Through bash: timeout alone would hand a refused program to sh as a script.
  if out=$(timeout 20 bash -c '/lib/ld-linux.so.2 --version' 2>&1 </dev/null); then
    wine_preset=win32 wine_loader=wine
    echo "wine: this machine runs 32-bit programs; the Wine steps use the 32-bit build"
  else
    wine_preset=win64 wine_loader=/usr/lib/wine/wine64
    # Where Wine starts its own helper processes from.
    export WINELOADER=$wine_loader
    echo "wine: this machine cannot run 32-bit programs (${out##*: }); the Wine steps use the 64-bit build of the same sources"
  fi
}

# Whether Wine starts at all: better said once than seen as a run that never
# shows a window.
wine_check() {
  local out
  wine_choose
  if ! out=$("$wine_loader" --version 2>&1 </dev/null); then
    echo "Wine does not start on this machine: ${out##*: }" >&2
    return 1
  fi
}

# A UTF-8 host locale for Wine: it passes non-ASCII file names only under one,
# and Debian's minimal image has none but C.UTF-8, with which Wine mangles
# them. Made once, in build/locale, without changing the system's locales.
wine_locale() {
  local dir=build/locale
  if [[ ! -d $dir/en_US.UTF-8 ]]; then
    mkdir -p "$dir"
    localedef -i en_US -f UTF-8 "$dir/en_US.UTF-8"
  fi
  # For Wine only: bash itself would warn that it cannot switch to it.
  { export LOCPATH=$(realpath "$dir") LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8; } 2>/dev/null
}

# wine_prefix DIR [undecorated]: Wine's prefix in DIR, made quietly when
# missing, without the .NET and browser prompts, and with comctl32 and
# comdlg32 looked for on disk before Wine's own, as Windows does (the e2e run
# plants DLLs beside the program); defaults that the caller's environment may
# override. "undecorated" has Wine draw its own title bars, for an X display
# with no window manager.
wine_prefix() {
  export WINEPREFIX=$1
  wine_own_prefix=$1
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;comctl32,comdlg32=n,b"}
  wine_choose >/dev/null
  [[ -f $WINEPREFIX/system.reg ]] || timeout 180 "$wine_loader" wineboot -i >/dev/null 2>&1 </dev/null
  # Wine draws the title bar's buttons with Marlett, which Debian's fonts-wine
  # ships but Wine does not load from there: without it in the prefix's own
  # fonts the close box shows an "r".
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [[ -f $fonts/marlett.ttf || ! -f $wine_marlett ]] || cp "$wine_marlett" "$fonts/"
  if [[ ${2:-} == undecorated ]]; then
    timeout 60 "$wine_loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
      >/dev/null 2>&1 </dev/null
  fi
  timeout 60 wineserver -w
}

# wine_display DIR: a private Xvfb display, with its log in DIR; sets DISPLAY.
# Xvfb picks a free display number and writes it to fd 3.
wine_display() {
  local dir=$1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$dir/display" >"$dir/xvfb.log" 2>&1 </dev/null &
  wine_xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $dir/display ]] && break; sleep 0.1; done
  if [[ ! -s $dir/display ]]; then
    echo "Xvfb did not start: $(cat "$dir/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=:$(head -n1 "$dir/display")
}

# Ends every Wine process of our prefix, its wineserver, and our Xvfb; never
# those of a prefix that wine_prefix did not set up.
wine_stop() {
  [[ -n $wine_own_prefix ]] && WINEPREFIX=$wine_own_prefix timeout 20 wineserver -k >/dev/null 2>&1
  if [[ -n $wine_xvfb_pid ]]; then
    kill "$wine_xvfb_pid" 2>/dev/null && wait "$wine_xvfb_pid" 2>/dev/null
  fi
  wine_xvfb_pid= wine_own_prefix=
  return 0
}
