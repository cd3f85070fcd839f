#!/usr/bin/env bash
# make_seeds.sh MAKE_SAMPLE DIR: writes the harnesses' starting inputs into
# DIR/sig_stream and DIR/apply, from images of the sample maker
# (every site in the game's state, patched, with odd parameters, duplicated,
# cut off, unrecognised) and structured inputs that put sites across the
# 64 KiB window edges. The input formats are those of build_image and of the
# harnesses (tests/fuzz/*.cpp).
set -euo pipefail
make_sample=$1
out=$2
rm -rf "$out"
mkdir -p "$out/sig_stream" "$out/apply" "$out/images"

sample() {  # NAME ARGS...: an image, whole (build_image's raw form, 0xe0)
  local name=$1
  shift
  "$make_sample" "$out/images/$name.raw" --size 3000 "$@" >/dev/null
  { printf '\xe0'; cat "$out/images/$name.raw"; } >"$out/images/$name"
  rm "$out/images/$name.raw"
}
sample game
sample patched --site start_year=patched --site wc06_fix=patched --site bosman_year=patched \
  --site click_delay=patched --site exitgame=patched --site conf_counts=patched --site conf_promoted=patched
sample odd_counts --site click_delay=patched:7 --site conf_counts=patched:7,5 --site conf_promoted=patched:7
sample twice_or_cut --site start_year=duplicated --site exitgame=duplicated --site conf_promoted=truncated
sample unrecognised --site wc06_fix=unrecognised --site click_delay=unrecognised \
  --site exitgame=unrecognised --site conf_counts=unrecognised
# Over two windows, random filler: each site across a window edge, its
# signature ending a little before, at or after the edge; the odd ones in our
# state (site, kind, anchor: edge, delta, p0, p1, which edge).
{ printf '\x0b\x84\x07\x34\x12\x78\x56\x07'; printf '%b' \
  '\x00\x00\x01\xf7\x05\x03\x00' '\x01\x01\x01\xfa\x05\x03\x01' '\x02\x00\x01\xfd\x05\x03\x00' \
  '\x03\x01\x01\x00\x05\x03\x01' '\x04\x00\x01\x03\x05\x03\x00' '\x05\x01\x01\x06\x05\x03\x01' \
  '\x06\x00\x01\x09\x05\x03\x00'; } >"$out/images/edges"

for image in "$out"/images/*; do
  name=$(basename "$image")
  # A site's signature (0-6), or 12 bytes of the image from 65530 on (7),
  # the last of them off (0x87); each by the search the stream chose (0x00)
  # and forced to the plain one (0x20), SSE2 (0x40) and AVX2 (0x60).
  for pick in 00 01 02 03 04 05 06 07 87 20 21 22 23 24 25 26 27 a7 \
              40 41 42 43 44 45 46 47 c7 60 61 62 63 64 65 66 67 e7; do
    { printf "\\x$pick\\xfa\\xff\\x00\\x0b"; cat "$image"; } >"$out/sig_stream/$name-$pick"
  done
  # Settings: click delay, start and Bosman year (1, then the year), exit fix,
  # conference touched, promoted, relegated; then per site how its offset is
  # treated (0 as scanned, 12 dropped, 14 moved by the next byte, 15 made up)
  # and a 3-byte argument.
  as_scanned=$(printf '\\x00\\x01\\x00\\x00%.0s' 1 2 3 4 5 6 7)
  { printf "\\x03\\x01\\xd5\\x07\\x01\\xda\\x07\\x01\\x01\\x04\\x02$as_scanned"; cat "$image"; } >"$out/apply/$name-a"
  { printf "\\x00\\x01\\xd2\\x07\\x01\\xcf\\x07\\x00\\x00\\x01\\x03$as_scanned"; cat "$image"; } >"$out/apply/$name-b"
  { printf '\x08\x01\x30\x75\x01\xd0\x07\x01\x01\x09\x07\x0c\x01\x00\x00\x00\x01\x00\x00\x0e\x01\x00\x00'
    printf '\x00\x01\x00\x00\x0f\x01\x00\x00\x0c\x01\x00\x00\x00\x01\x00\x00'; cat "$image"; } >"$out/apply/$name-c"
done
# 12 bytes of a two-window image where a search may lose a start: ending one
# byte into the second window, first after the vector search's last block of
# 64 starts in that window, and last in the file; by each search.
"$make_sample" "$out/edge.raw" --size 70000 >/dev/null
for at in '\xf5\xff\x00' '\x35\x11\x01' '\x64\x11\x01'; do
  for pick in 27 47 67; do
    { printf "\\x$pick$at\\x0b\\xe0"; cat "$out/edge.raw"; } >"$out/sig_stream/edge-$pick-${at//\\/}"
  done
done
rm -rf "$out/images" "$out/edge.raw"
