#!/usr/bin/env bash
# Whether the library's encoder keeps up with the encoder program, in time
# and in memory, on square mosaics of the bundled fingerprints at 0.75 bits
# per pixel.
#
# Time: one wsq_encode() in process (wsq_bench's pipeline/wsq_encode: wall
# time, the best of several repetitions) against wsq1's time per image.
# wsq1's pipeline runs only in its own process, so its time per image is the
# marginal time of extra images in one run: (time of wsq1 on 1+K copies of
# the image - time on 1 copy) / K, each the best of several runs. That
# leaves out starting the process and the first touches of wsq1's buffers,
# which it keeps from one image to the next of the same size; it still
# counts reading each raw file (from the page cache) and writing its stream
# (to /dev/null). wsq_encode() allocates its buffers anew on each call.
#
# Memory: peak resident memory (GNU time) of wsq1 on one image and of
# `wsq_benchtool encode` (one wsq_encode() call; the process also holds the
# pixels and the stream), per pixel and as the marginal bytes per pixel
# between a size and the one before it (the slope, free of the fixed part).
#
#     bench/encoder_parity.sh [-b BUILD] [-s "SIDE ..."] [-n RUNS] [-o TABLE.md]
#
#   -b BUILD   build directory holding wsq1, bench/wsq_bench and bench/wsq_benchtool (build)
#   -s SIDES   sides of the squares, among wsq_bench's 512 1024 2048 4096 ("512 2048 4096")
#   -n RUNS    runs of each timed command and repetitions of wsq_bench, best taken (10)
#   -o FILE    also write the table to FILE
#
# Uses hyperfine when it is installed, and GNU time (/usr/bin/time, Debian
# package time). Installs nothing.
set -euo pipefail

build=build
sides="512 2048 4096"
runs=10
table_file=
while getopts "b:s:n:o:h" opt; do
  case $opt in
    b) build=$OPTARG ;;
    s) sides=$OPTARG ;;
    n) runs=$OPTARG ;;
    o) table_file=$OPTARG ;;
    *) sed -n '2,29s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done
wsq1=$build/wsq1 bench=$build/bench/wsq_bench tool=$build/bench/wsq_benchtool
for program in "$wsq1" "$bench" "$tool"; do
  [ -x "$program" ] || { echo "encoder_parity.sh: $program is missing: build first (cmake --build $build)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "encoder_parity.sh: missing GNU time (Debian package time)" >&2; exit 1; }
for side in $sides; do
  case $side in 512|1024|2048|4096) ;; *) echo "encoder_parity.sh: wsq_bench has no size $side" >&2; exit 2 ;; esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/wsq-parity.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/measure.sh"

# wsq_encode() in process: wall milliseconds by size, the best repetition.
"$bench" --benchmark_filter="^pipeline/wsq_encode/(${sides// /|})/threads:1\$" \
  --benchmark_repetitions="$runs" --benchmark_format=csv >"$work/bench.csv" 2>/dev/null
library_ms() {
  awk -F, -v name="\"pipeline/wsq_encode/$1\"" \
    '$1 == name && (best == "" || $3 < best) { best = $3 } END { print best }' "$work/bench.csv"
}

rows=()
prev_px=0 prev_wsq1=0 prev_lib=0
for side in $sides; do
  px=$((side * side))
  extra=$(((1 << 26) / px)); [ "$extra" -ge 4 ] || extra=4  # about 67 MP of extra images
  raw=$work/image.raw
  "$tool" mosaic "$side" "$side" "$raw"
  copies=()
  for ((i = 0; i < extra; i++)); do copies+=("$raw"); done
  t1=$(best_time "$runs" "$wsq1" -r"$side,$side" "$raw")
  tk=$(best_time "$runs" "$wsq1" -r"$side,$side" "$raw" "${copies[@]}")
  tl=$(library_ms "$side")
  m1=$(peak_kib "$wsq1" -r"$side,$side" -o"$work/image" "$raw")
  ml=$(peak_kib "$tool" encode "$raw" "$side" "$side" "$work/image.wsq")
  rows+=("$(awk -v s="$side" -v px=$px -v k="$extra" -v t1="$t1" -v tk="$tk" -v tl="$tl" \
    -v m1="$m1" -v ml="$ml" -v ppx=$prev_px -v p1=$prev_wsq1 -v pl=$prev_lib 'BEGIN {
      marginal = (tk - t1) / k * 1e3;
      slope1 = ppx ? sprintf("%.2f", (m1 - p1) * 1024 / (px - ppx)) : "";
      slopel = ppx ? sprintf("%.2f", (ml - pl) * 1024 / (px - ppx)) : "";
      printf "| %dx%d | %.2f | %.1f | %.1f | %.1f | %d | %.2f | %.1f | %.3f | %.1f | %.2f | %s | %.1f | %.2f | %s |", \
        s, s, tl, px / 1e3 / tl, t1 * 1e3, tk * 1e3, k, marginal, px / 1e3 / marginal, tl / marginal, \
        m1 / 1024, m1 * 1024 / px, slope1, ml / 1024, ml * 1024 / px, slopel }')")
  prev_px=$px prev_wsq1=$m1 prev_lib=$ml
  rm -f "$work"/image.*
done

{
  echo "| size | wsq_encode ms | MP/s | wsq1, 1 image ms | wsq1, 1+K images ms | K | wsq1 ms per image | MP/s | time of wsq_encode ÷ wsq1's | wsq1 peak MiB | bytes/pixel | marginal bytes/pixel | wsq_encode process peak MiB | bytes/pixel | marginal bytes/pixel |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Wall-clock times, the best of $runs: wsq_bench repetitions in process; whole runs of wsq1"
  echo "($(timer_name)), its time per image (1+K images less 1 image) / K. Peak resident memory"
  echo "from GNU time; the wsq_encode process (wsq_benchtool encode) also holds the pixels and the stream."
  echo "$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(date -u +%Y-%m-%d)."
} | tee "${table_file:-/dev/null}"
