#!/usr/bin/env bash
# Makes res/zandor.ico (16, 32 and 48 px) from res/zandor.svg with
# ImageMagick. The .ico is kept in the repository, so a build needs neither
# ImageMagick nor its exact version; run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/../res"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for px in 16 32 48; do
  # No time stamps or other chunks that would differ from run to run.
  convert -background none -density 384 zandor.svg -resize ${px}x${px} -strip "PNG32:$tmp/$px.png"
done
convert "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" zandor.ico
