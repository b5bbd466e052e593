#!/usr/bin/env bash
# How wsq1 and unwsq scale with the image: whole-process time and peak
# resident memory on square mosaics of the bundled fingerprints from 256x256
# to 16384x16384 pixels (by default), at 0.75 bits per pixel. Prints a
# Markdown table: best time of several runs, megapixels per second,
# nanoseconds per pixel, peak resident memory (GNU time's maximum resident
# set size) in MiB and per pixel, and the marginal bytes per pixel between a
# size and the one before it: the slope of memory against pixel count, which
# the constant part of the memory does not blur.
#
#     bench/scaling.sh [-b BUILD] [-s "SIDE ..."] [-o TABLE.md]
#
#   -b BUILD   build directory holding wsq1, unwsq and bench/wsq_benchtool (build)
#   -s SIDES   sides of the squares ("256 512 1024 2048 4096 8192 16384")
#   -o FILE    also write the table to FILE
#
# Needs about 3 bytes of free disk per pixel of the largest image in $TMPDIR
# (or /tmp), checked before each size, and GNU time (/usr/bin/time, Debian
# package time). Installs nothing.
set -euo pipefail

build=build
sides="256 512 1024 2048 4096 8192 16384"
table_file=
while getopts "b:s:o:h" opt; do
  case $opt in
    b) build=$OPTARG ;;
    s) sides=$OPTARG ;;
    o) table_file=$OPTARG ;;
    *) sed -n '2,20s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done
wsq1=$build/wsq1 unwsq=$build/unwsq tool=$build/bench/wsq_benchtool
for program in "$wsq1" "$unwsq" "$tool"; do
  [ -x "$program" ] || { echo "scaling.sh: $program is missing: build first (cmake --build $build)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "scaling.sh: missing GNU time (Debian package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wsq-scaling.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/measure.sh"

rows=()
prev_px=0 prev_enc=0 prev_dec=0
for side in $sides; do
  px=$((side * side))
  free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
  if [ $((free_kib * 1024)) -lt $((3 * px + 100 * 1024 * 1024)) ]; then
    echo "scaling.sh: not enough free disk for ${side}x$side, stopping" >&2
    break
  fi
  n=5
  [ "$side" -ge 4096 ] && n=3
  [ "$side" -ge 8192 ] && n=2
  raw=$work/image.raw
  "$tool" mosaic "$side" "$side" "$raw"
  te=$(best_time $n "$wsq1" -r"$side,$side" -o"$work/image" "$raw")
  td=$(best_time $n "$unwsq" -o "$work/image.pgm" "$work/image.wsq")
  me=$(peak_kib "$wsq1" -r"$side,$side" -o"$work/image" "$raw")
  md=$(peak_kib "$unwsq" -o "$work/image.pgm" "$work/image.wsq")
  bytes=$(stat -c %s "$work/image.wsq")
  rows+=("$(awk -v s="$side" -v px=$px -v te="$te" -v td="$td" -v me="$me" -v md="$md" -v b="$bytes" \
    -v ppx=$prev_px -v pe=$prev_enc -v pd=$prev_dec 'BEGIN {
      slope_e = ppx ? sprintf("%.2f", (me - pe) * 1024 / (px - ppx)) : "";
      slope_d = ppx ? sprintf("%.2f", (md - pd) * 1024 / (px - ppx)) : "";
      printf "| %dx%d | %.2f | %d | %.1f | %.1f | %.2f | %.1f | %.2f | %s | %.1f | %.1f | %.2f | %.1f | %.2f | %s |", \
        s, s, px / 1e6, b, te * 1e3, px / 1e6 / te, te * 1e9 / px, me / 1024, me * 1024 / px, slope_e, \
        td * 1e3, px / 1e6 / td, td * 1e9 / px, md / 1024, md * 1024 / px, slope_d }')")
  prev_px=$px prev_enc=$me prev_dec=$md
  rm -f "$work"/image.*
done

{
  echo "| size | MP | bytes | wsq1 ms | MP/s | ns/pixel | peak MiB | bytes/pixel | marginal bytes/pixel | unwsq ms | MP/s | ns/pixel | peak MiB | bytes/pixel | marginal bytes/pixel |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Whole process (raw file to WSQ file, WSQ file to PGM file), one thread, best of 5 runs"
  echo "(3 from 4096x4096, 2 from 8192x8192; $(timer_name)); peak resident memory from GNU time;"
  echo "$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(date -u +%Y-%m-%d)."
} | tee "${table_file:-/dev/null}"
