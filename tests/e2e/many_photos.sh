#!/bin/sh
# The README's one-machine recipe for many photos, run as written over three
# small photos: every photo gets its own folder holding dump2 to dump8, each a
# raw PPM of the photo's size, and nothing is reported on standard error.
#   many_photos.sh TAVREL_BINARY TEST_DATA_DIR
set -eu
PATH=$(cd "$(dirname "$1")" && pwd):$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
for name in chelsea-16x16 coffee-24x16 motorcycle-16x16; do cp "$2/$name.ppm" "$work/photos/"; done
cd "$work"

# As in the README, with -C8 instead of -C16.
find photos -name '*.ppm' -print0 |
  xargs -0 -P "$(nproc)" -n 1 sh -c '
    name=$(basename "$1" .ppm) && mkdir -p "out/$name" &&
    ln -sf "$(realpath "$1")" "out/$name/input.ppm" &&
    cd "out/$name" && tavrel -Q0 -C8 input.ppm photo > run.log || exit 1' sh 2>errors.txt || status=1
[ ! -s errors.txt ] || status=1
cat errors.txt

expected="dump2_photo.ppm dump3_photo.ppm dump4_photo.ppm dump5_photo.ppm dump6_photo.ppm"
expected="$expected dump7_photo.ppm dump8_photo.ppm input.ppm run.log "
for photo in photos/*.ppm; do
  name=$(basename "$photo" .ppm)
  [ "$(cd "out/$name" && LC_ALL=C ls | tr '\n' ' ')" = "$expected" ] || { echo "$name: wrong files"; status=1; }
  for k in 2 3 4 5 6 7 8; do
    dump="out/$name/dump${k}_photo.ppm"
    [ "$(head -n 3 "$dump" 2>/dev/null)" = "$(head -n 3 "$photo")" ] && [ "$(wc -c <"$dump")" -eq "$(wc -c <"$photo")" ] ||
      { echo "$dump: not a raw PPM of the photo's size"; status=1; }
  done
done
exit "${status:-0}"
