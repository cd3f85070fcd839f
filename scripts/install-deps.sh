#!/usr/bin/env bash
# Installs, as root with apt-get, whatever the build and tests need and is missing.
set -euo pipefail

pkgs=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
      g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      wine wine32:i386 xvfb x11-utils x11-apps xdotool imagemagick
      clang libclang-rt-14-dev clang-tidy cppcheck e2fsprogs locales zip unzip strace)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
need=()
for p in "${pkgs[@]}"; do installed "$p" || need+=("$p"); done
if ((${#need[@]})); then
  echo "installing: ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
