#!/usr/bin/env bash
# Installs, as root with apt-get, whatever the build and tests need and is missing.
#
#   scripts/install-deps.sh          everything: also MinGW, Wine, Xvfb, the analysers
#   scripts/install-deps.sh host     only the host build and its tests
set -euo pipefail

host_pkgs=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev)
# The x86-64 tool chain and wine64: the Wine steps' 64-bit build, for machines
# that cannot run 32-bit programs.
pkgs=(g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
      wine wine32:i386 wine64 fonts-wine xvfb x11-utils x11-apps xdotool imagemagick
      clang libclang-rt-14-dev clang-tidy cppcheck e2fsprogs locales zip unzip
      osslsigncode openssl python3-jsonschema strace)

case ${1:-} in
  host) pkgs=("${host_pkgs[@]}") ;;
  "") pkgs=("${host_pkgs[@]}" "${pkgs[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [host]" >&2; exit 1 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Wine's 32-bit half.
if [[ ${1:-} != host ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
need=()
for p in "${pkgs[@]}"; do installed "$p" || need+=("$p"); done
if ((${#need[@]})); then
  echo "installing: ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
