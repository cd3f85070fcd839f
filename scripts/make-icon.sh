#!/usr/bin/env bash
# Makes res/zandor.ico from res/zandor.svg with ImageMagick: 16, 20, 24, 32,
# 40 and 48 px for 100 to 300 % scaling of small icons, 64 and 256 px for
# large icon views; the 256 px image stored as PNG, as Windows expects, the
# others as bitmaps. The .ico is kept in the repository, so a build needs
# neither ImageMagick nor its exact version; run this after changing the
# drawing.
set -euo pipefail
cd "$(dirname "$0")/../res"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sizes=(16 20 24 32 40 48 64 256)
for px in "${sizes[@]}"; do
  # No time stamps or other chunks that would differ from run to run.
  convert -background none -density 384 zandor.svg -resize ${px}x${px} -strip "PNG32:$tmp/$px.png"
done
# ImageMagick stores an image of 256 px as PNG, smaller ones as bitmaps.
convert $(printf "$tmp/%s.png " "${sizes[@]}") zandor.ico
