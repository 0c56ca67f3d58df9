#!/usr/bin/env bash
# Regenerates the README gallery: the sample photo and its progression at 2,
# 4, 8, 16, 32 and 64 colours, as PNG files in docs/gallery/.
#
#   scripts/make-gallery.sh          (or: make gallery)
#
# Builds the tool if needed, runs it once with -C64 on the sample photo in a
# scratch folder and converts the dumps with netpbm's pnmtopng, which is
# installed from the Debian archive when it is missing. The conversion is a
# documentation chore only: the program itself reads and writes PPM alone.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
sample="$root/examples/coffee-320x240.ppm"
gallery="$root/docs/gallery"
counts=(2 4 8 16 32 64)

# Builds only the program, whatever state the build folder is in.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j 2 --target tavrel

if ! command -v pnmtopng >/dev/null 2>&1 || ! command -v ppmhist >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends netpbm
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# The photo is copied in under a plain name: the dumps are named after the
# output name, and the input's extension check reads the text after its
# first dot, which a path such as ../x.ppm would spoil.
cp "$sample" "$scratch/coffee.ppm"
(cd "$scratch" && "$build/tavrel" -Q0 -C64 coffee.ppm step)

# Every dump must hold exactly its number of colours; a gallery built from
# a broken run would be worse than none.
colours_of() {
  ppmhist -noheader "$1" | grep -c .
}
for k in "${counts[@]}"; do
  dump="$scratch/dump${k}_step.ppm"
  got="$(colours_of "$dump")"
  if [ "$got" -ne "$k" ]; then
    echo "make-gallery: $(basename "$dump") has $got colours, expected $k" >&2
    exit 1
  fi
done

mkdir -p "$gallery"
pnmtopng -compression 9 "$sample" >"$scratch/original.png"
mv "$scratch/original.png" "$gallery/original.png"
for k in "${counts[@]}"; do
  pnmtopng -compression 9 "$scratch/dump${k}_step.ppm" >"$scratch/colours-$k.png"
  mv "$scratch/colours-$k.png" "$gallery/colours-$k.png"
done

echo "gallery written to ${gallery#"$root"/}/:"
(cd "$gallery" && ls -l original.png colours-*.png)
