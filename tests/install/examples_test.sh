#!/bin/sh
# The example programs built against the installed library, the two ways a
# user finds it: find_package(tavrel) and pkg-config. Each build runs on the
# sample photo; the images and figures they print are checked against the
# command line's dumps and tavrel-deltae, which share no code with the
# examples' path through the library's interface.
# Arguments: cmake build-dir source-dir libdir tavrel tavrel-deltae
set -eu
cmake=$1 build=$2 source=$3 libdir=$4 tavrel=$5 deltae=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
photo=$source/examples/coffee-320x240.ppm

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > /dev/null
export LD_LIBRARY_PATH="$prefix/$libdir"

flags=${TAVREL_EXAMPLE_FLAGS:-}  # a sanitizer build's library needs its runtime
"$cmake" -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  > "$work/log" 2>&1 || { cat "$work/log"; fail "find_package build"; }
"$cmake" --build "$work/cmake" > "$work/log" 2>&1 || { cat "$work/log"; fail "find_package build"; }

# pkg-config sees nothing but the temporary prefix.
mkdir "$work/pc"
pc=$(PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs tavrel) \
  || fail "pkg-config finds no tavrel"
${CC:-cc} -std=c99 -Wall -Wextra -Werror $flags -o "$work/pc/quality_curve" \
  "$source/examples/quality_curve.c" $pc || fail "pkg-config build of the C example"
${CXX:-c++} -std=c++20 -Wall -Wextra -Werror $flags -o "$work/pc/fewest_colours" \
  "$source/examples/fewest_colours.cpp" $pc || fail "pkg-config build of the C++ example"

# Both builds print and write the same.
for way in cmake pc; do
  "$work/$way/quality_curve" "$photo" > "$work/$way.curve" || fail "$way: quality_curve"
  "$work/$way/fewest_colours" "$photo" "$work/$way.ppm" > "$work/$way.fewest" \
    || fail "$way: fewest_colours"
done
cmp -s "$work/cmake.curve" "$work/pc.curve" || fail "the two builds' curves differ"
cmp -s "$work/cmake.fewest" "$work/pc.fewest" || fail "the two builds' answers differ"
cmp -s "$work/cmake.ppm" "$work/pc.ppm" || fail "the two builds' images differ"

# "K of N colours: mean delta E M", with M at most 2 and K - 1 colours above 2.
set -- $(cat "$work/cmake.fewest")
k=$1 colours=$3 mean=$8
[ "$2 $4 $5 $6 $7" = "of colours: mean delta E" ] || fail "fewest_colours printed $*"
[ "$k" -ge 3 ] && [ "$k" -le 256 ] || fail "k = $k: the sample photo's answer lies in 3..256"
set -- $("$deltae" "$photo" "$photo")
[ "$3" = "$colours" ] || fail "$colours colours, tavrel-deltae counts $3"
mkdir "$work/job" && ln -s "$photo" "$work/job/in.ppm"
(cd "$work/job" && "$tavrel" -C"$(( k > 16 ? k : 16 ))" in.ppm out > /dev/null) \
  || fail "the command line's run"
cmp -s "$work/cmake.ppm" "$work/job/dump${k}_out.ppm" || fail "the image differs from dump $k"
close() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(d < 6e-5 && d > -6e-5) }'; }
set -- $("$deltae" "$photo" "$work/cmake.ppm")
close "$1" "$mean" || fail "mean delta E $mean, tavrel-deltae $1"
awk -v m="$1" 'BEGIN { exit !(m <= 2) }' || fail "mean $1 above 2"
set -- $("$deltae" "$photo" "$work/job/dump$((k - 1))_out.ppm")
awk -v m="$1" 'BEGIN { exit !(m > 2) }' || fail "$((k - 1)) colours already within 2 ($1)"

# quality_curve: the header line, the mean of some dumps of k = 2 .. 16,
# and the palette of 8, which holds the colours of dump 8.
[ "$(head -n 1 "$work/cmake.curve")" = \
  "tavrel $(sed -n 's/^#define TAVREL_VERSION_STRING "\(.*\)"$/\1/p' \
    "$source/include/tavrel/version.h"): 320 x 240 pixels, $colours colours" ] \
  || fail "curve header: $(head -n 1 "$work/cmake.curve")"
for i in 2 3 8 16; do
  printed=$(awk -v k="$i" '$1 == k && NF == 2 { print $2 }' "$work/cmake.curve")
  set -- $("$deltae" "$photo" "$work/job/dump${i}_out.ppm")
  close "$1" "$printed" || fail "k = $i: mean $printed, tavrel-deltae $1"
done
palette=$(sed -n 's/^palette of 8: //p' "$work/cmake.curve" | tr ' ' '\n' | sort -u)
dump=$(tail -c $((320 * 240 * 3)) "$work/job/dump8_out.ppm" | od -An -v -tx1 -w3 | tr -d ' ' \
  | sort -u)
[ -n "$palette" ] && [ "$palette" = "$dump" ] || fail "palette of 8: $palette; dump 8: $dump"
