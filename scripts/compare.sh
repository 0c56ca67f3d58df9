#!/usr/bin/env bash
# Puts Tavrel beside the colour-reduction tools people already use: for every
# photo in a folder and every k in 2, 4, ..., 256 it reduces the photo to k
# colours with
#
#   Tavrel       one `tavrel -C256` run, whose dumps cover every k at once
#   Tavrel-nearest  the same palettes, every pixel painted in its nearest
#                palette colour: one tools/paint.cpp run (one build, all k)
#   pngquant     `pngquant --nofs k` (on the photo converted to PNG)
#   ImageMagick  `convert +dither -colors k`
#   pnmquant     `pnmquant -nofloyd k` (netpbm)
#
# all without dithering, and measures each result against its photo with
# tools/deltae.cpp: mean and 95th-percentile CIE 1976 delta E and mean
# CIEDE2000, computed with Tavrel's own colour conversion, the PSNR over the
# RGB samples, and the number of colours actually used. It also takes the wall
# time of every run: one for Tavrel (all 255 dumps), one per k for each other
# tool.
#
#   scripts/compare.sh PHOTOS          (or: make compare PHOTOS=folder)
#
# PHOTOS is a folder of raw PPM photos (*.ppm). Writes docs/quality.md (the
# tables), docs/quality.png (the three measures against colours, one line per
# tool) and out/compare/results.csv (every measurement). The other tools and
# gnuplot are installed from the Debian archive when missing; they belong to
# this script only, never to the program or its tests.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: scripts/compare.sh PHOTOS   (a folder of raw PPM photos)" >&2
  exit 2
fi
photos="$(cd "$1" && pwd)"
counts=(2 4 8 16 32 64 128 256)
tools=(Tavrel Tavrel-nearest pngquant ImageMagick pnmquant)
results="$root/out/compare"

mapfile -t inputs < <(find "$photos" -maxdepth 1 -name '*.ppm' | LC_ALL=C sort)
if [ ${#inputs[@]} -eq 0 ]; then
  echo "compare: no *.ppm photo in $photos" >&2
  exit 2
fi

# Configured every time: a build folder made before the measuring tool
# existed would not know its target.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
else
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" -j 2 --target tavrel tavrel_deltae tavrel_paint
tavrel="$build/tavrel"
deltae="$build/tools/tavrel-deltae"
paint="$build/tools/tavrel-paint"

# Debian's packages of the other tools. ImageMagick 6 is called by its
# Debian name so that no other `convert` on the PATH stands in for it.
need=()
command -v pngquant >/dev/null 2>&1 || need+=(pngquant)
command -v convert-im6.q16 >/dev/null 2>&1 || need+=(imagemagick)
for tool in pnmquant pnmtopng pngtopnm ppmtoppm; do
  command -v "$tool" >/dev/null 2>&1 || { need+=(netpbm); break; }
done
command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi
magick="$(command -v convert-im6.q16)"

# A RAM-backed scratch folder where there is one: the Tavrel run writes 255
# full-size dumps, and the disk should not decide the comparison.
scratch_parent="${TMPDIR:-/tmp}"
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
scratch="$(mktemp -d "$scratch_parent/tavrel-compare.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# timed OUTPUT COMMAND...: runs the command with its standard output in
# OUTPUT and sets `seconds` (wall clock) and `cpu` (user + system, its child
# processes included). On failure shows the command's errors and stops.
timed() {
  local output="$1" TIMEFORMAT='%3R %3U %3S' status=0 user system
  shift
  { time "$@" >"$output" 2>"$scratch/log"; } 2>"$scratch/time" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "compare: failed ($status): $*" >&2
    cat "$scratch/log" >&2
    exit 1
  fi
  read -r seconds user system <"$scratch/time"
  cpu="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }')"
}

mkdir -p "$results"
csv="$results/results.csv"
# The columns of the first measures stay where they were; later ones follow.
echo "photo,tool,k,mean,p95,colours,seconds,cpu,de2000,psnr" >"$csv"

# measure PHOTO TOOL K REDUCED: one row of the CSV, with the times of the
# last `timed` run. Every result is brought to raw PPM with maxval 255
# first: a tool may write a palette or grey PNG, or a grey PNM, when few
# colours remain.
measure() {
  local name="$1" tool="$2" k="$3" reduced="$4" line mean p95 colours de2000 psnr
  ppmtoppm <"$reduced" >"$scratch/measured.ppm"
  line="$("$deltae" "$scratch/photo.ppm" "$scratch/measured.ppm")"
  read -r mean p95 colours de2000 psnr <<<"$line"
  echo "$name,$tool,$k,$mean,$p95,$colours,$seconds,$cpu,$de2000,$psnr" >>"$csv"
  printf '  %-14s k=%-3s dE76 %7s  p95 %7s  dE00 %7s  PSNR %7s dB  colours %3s  %7s s  cpu %7s s\n' \
    "$tool" "$k" "$mean" "$p95" "$de2000" "$psnr" "$colours" "$seconds" "$cpu"
}

for input in "${inputs[@]}"; do
  name="$(basename "$input" .ppm)"
  echo "== $name"
  rm -rf "${scratch:?}"/*
  # A plain name: the dumps are named after the output name, and the input
  # name's extension check reads the text after its first dot.
  cp "$input" "$scratch/photo.ppm"
  mkdir "$scratch/tavrel"
  ln -s ../photo.ppm "$scratch/tavrel/in.ppm"

  timed /dev/null env -C "$scratch/tavrel" "$tavrel" -Q0 -C256 in.ppm out
  for k in "${counts[@]}"; do
    dump="$scratch/tavrel/dump${k}_out.ppm"
    # A photo with fewer than k colours gets no dump k: its last dump
    # already reproduces it exactly.
    [ -f "$dump" ] || dump="$scratch/photo.ppm"
    measure "$name" Tavrel "$k" "$dump"
  done
  rm -rf "$scratch/tavrel"

  timed /dev/null "$paint" --nearest "$scratch/photo.ppm" "$scratch/nearest" "${counts[@]}"
  for k in "${counts[@]}"; do
    measure "$name" Tavrel-nearest "$k" "$scratch/nearest$k.ppm"
  done

  timed "$scratch/photo.png" pnmtopng "$scratch/photo.ppm"
  for k in "${counts[@]}"; do
    timed /dev/null pngquant --nofs --force --output "$scratch/pngquant.png" "$k" "$scratch/photo.png"
    pngtopnm "$scratch/pngquant.png" >"$scratch/pngquant.ppm"
    measure "$name" pngquant "$k" "$scratch/pngquant.ppm"

    timed /dev/null "$magick" "$scratch/photo.ppm" +dither -colors "$k" -depth 8 "ppm:$scratch/magick.ppm"
    measure "$name" ImageMagick "$k" "$scratch/magick.ppm"

    timed "$scratch/pnmquant.ppm" pnmquant -nofloyd "$k" "$scratch/photo.ppm"
    measure "$name" pnmquant "$k" "$scratch/pnmquant.ppm"
  done
done

# The tables: every figure is the plain mean over the photos. A PSNR of "inf"
# (a result identical to its photo) makes the mean "inf" too.
report="$root/docs/quality.md"
mkdir -p "$root/docs"
awk -F, -v tools="${tools[*]}" -v counts="${counts[*]}" '
  # Whether a is closer than b by measure m: lower differences, higher PSNR.
  function closer(m, a, b) { return m == 3 ? a > b : a < b }
  function psnrValue(text) { return text == "inf" ? 1e300 : text + 0 }
  function header(title) {
    printf "| %s |", title; for (t = 1; t <= nt; t++) printf " %s |", tool[t]; printf "\n"
    printf (title == "colours" ? "|---:|" : "|---|"); for (t = 1; t <= nt; t++) printf "---:|"; printf "\n"
  }
  # One row per size, each cell the mean over the photos of sum[tool, size].
  function meanTable(sum, format) {
    header("colours")
    for (i = 1; i <= nk; i++) {
      printf "| %s |", k[i]
      for (t = 1; t <= nt; t++) printf format, sum[tool[t], k[i]] / n[tool[t], k[i]]
      printf "\n"
    }
  }
  NR > 1 {
    key = $2 SUBSEP $3
    mean[key] += $4; p95[key] += $5; colours[key] += $6; n[key]++
    de2000[key] += $9
    if ($10 == "inf") infinite[key] = 1; else psnr[key] += $10
    value[$1, $3, $2, 1] = $4 + 0; value[$1, $3, $2, 2] = $9 + 0; value[$1, $3, $2, 3] = psnrValue($10)
    # Tavrel rows all carry the time of its one run.
    if ($2 !~ /^Tavrel/ || $3 == 2) { time[$1, $2] += $7; cpu[$1, $2] += $8 }
    if (!($1 in photo)) { photo[$1] = 1; order[++photos] = $1 }
  }
  END {
    nt = split(tools, tool, " "); nk = split(counts, k, " ")
    printf "Mean CIE 1976 delta E against the original (95th percentile in brackets), "
    printf "averaged over %d photos; no dithering. Lower is closer.\n\n", photos
    header("colours")
    for (i = 1; i <= nk; i++) {
      printf "| %s |", k[i]
      for (t = 1; t <= nt; t++) {
        key = tool[t] SUBSEP k[i]
        printf " %.2f (%.1f) |", mean[key] / n[key], p95[key] / n[key]
      }
      printf "\n"
    }
    printf "\nMean CIEDE2000 against the original, averaged over the photos. Lower is closer.\n\n"
    meanTable(de2000, " %.2f |")
    printf "\nPSNR in dB over the RGB samples, averaged over the photos. Higher is closer.\n\n"
    header("colours")
    for (i = 1; i <= nk; i++) {
      printf "| %s |", k[i]
      for (t = 1; t <= nt; t++) {
        key = tool[t] SUBSEP k[i]
        if (key in infinite) printf " inf |"; else printf " %.2f |", psnr[key] / n[key]
      }
      printf "\n"
    }
    # Photo by photo: which tool comes closest at each size, by each measure;
    # a tie counts for every tool in it.
    split("mean delta E 1976|mean CIEDE2000|PSNR", measure, "|")
    for (m = 1; m <= 3; m++) for (p = 1; p <= photos; p++) for (i = 1; i <= nk; i++) {
      best = ""
      for (t = 1; t <= nt; t++) {
        v = value[order[p], k[i], tool[t], m]
        if (best == "" || closer(m, v, best)) best = v
      }
      for (t = 1; t <= nt; t++) if (value[order[p], k[i], tool[t], m] == best) wins[m, t]++
    }
    printf "\nHow often each tool comes closest, photo by photo (%d photos × %d sizes):\n\n", photos, nk
    header("measure")
    for (m = 1; m <= 3; m++) {
      printf "| %s |", measure[m]
      for (t = 1; t <= nt; t++) printf " %d |", wins[m, t]
      printf "\n"
    }
    printf "\nSeconds of wall-clock time (in brackets CPU time, user + system): Tavrel "
    printf "one `-C256` run that writes every dump from 2 to 256 colours; Tavrel-nearest "
    printf "one run of tools/paint.cpp that builds the tree and paints the eight sizes; the other "
    printf "tools the sum of their eight runs, one per number of colours.\n\n"
    header("photo")
    for (p = 1; p <= photos; p++) {
      printf "| %s |", order[p]
      for (t = 1; t <= nt; t++) printf " %.2f (%.2f) |", time[order[p], tool[t]], cpu[order[p], tool[t]]
      printf "\n"
    }
    printf "\nColours actually used, averaged over the photos:\n\n"
    meanTable(colours, " %.1f |")
  }' "$csv" >"$report"

# The plot: one panel per measure, one line per tool, against colours on a log
# scale. Data columns: k, then for each measure one column per tool; an
# infinite PSNR is left out of its panel.
awk -F, -v tools="${tools[*]}" '
  NR > 1 {
    key = $3 SUBSEP $2
    de76[key] += $4; de2000[key] += $9; n[key]++; ks[$3] = 1
    if ($10 == "inf") infinite[key] = 1; else psnr[key] += $10
  }
  END {
    nt = split(tools, tool, " ")
    for (k = 2; k <= 256; k *= 2) {
      if (!(k in ks)) continue
      printf "%d", k
      for (t = 1; t <= nt; t++) printf " %.4f", de76[k, tool[t]] / n[k, tool[t]]
      for (t = 1; t <= nt; t++) printf " %.4f", de2000[k, tool[t]] / n[k, tool[t]]
      for (t = 1; t <= nt; t++) {
        key = k SUBSEP tool[t]
        if (key in infinite) printf " NaN"; else printf " %.4f", psnr[key] / n[key]
      }
      printf "\n"
    }
  }' "$csv" >"$scratch/plot.dat"
nt=${#tools[@]}
gnuplot <<PLOT
set terminal pngcairo size 1500,500 font "sans,11"
set output "$scratch/quality.png"
set multiplot layout 1,3 title "Each tool against the photo, no dithering (${#inputs[@]} photos)"
set xlabel "colours"
set logscale x
set xrange [1.7:300]
set xtics (2, 4, 8, 16, 32, 64, 128, 256)
set grid
set key top right
tools = "${tools[*]}"
set title "Mean CIE 1976 delta E (lower is closer)"
set ylabel "mean delta E 1976 (log scale)"
set logscale y
set ytics (0.5, 1, 2, 3, 5, 10, 20, 30, 50)
plot for [i=1:$nt] "$scratch/plot.dat" using 1:(column(i + 1)) with linespoints lw 2 title word(tools, i)
set title "Mean CIEDE2000 (lower is closer)"
set ylabel "mean CIEDE2000 (log scale)"
plot for [i=1:$nt] "$scratch/plot.dat" using 1:(column(i + 1 + $nt)) with linespoints lw 2 title word(tools, i)
set title "PSNR over the RGB samples (higher is closer)"
set ylabel "PSNR in dB"
unset logscale y
set ytics autofreq
set key bottom right
plot for [i=1:$nt] "$scratch/plot.dat" using 1:(column(i + 1 + 2 * $nt)) with linespoints lw 2 title word(tools, i)
unset multiplot
PLOT
mv "$scratch/quality.png" "$root/docs/quality.png"

cat "$report"
echo
echo "written: docs/quality.md, docs/quality.png, out/compare/results.csv"
