#!/usr/bin/env bash
# Whole-process speed of wsq1 and unwsq against the codecs users would pick
# instead: cjpeg/djpeg (Debian package libjpeg-turbo-progs, one thread) and
# opj_compress/opj_decompress (libopenjp2-tools) with one and with two
# threads, every peer tuned to the size of our stream (cjpeg -quality and
# opj_compress -r searched for the file size closest to ours). Our two-thread
# figures are one wsq_encode() call with two threads in a process of its own
# (wsq_benchtool encode: wsq1 has one thread) and unwsq -j 2. The images are
# the bundled fingerprints and mosaics of them (2048x2048 by default). Prints
# a Markdown table: threads, bytes, bits per pixel, PSNR against the
# original, best encode and decode times, megapixels per second, and our
# speed with as many threads relative to each peer (above 1: we are
# faster). Times are the best of several runs, taken by hyperfine when it is
# installed, or with -c processor time. Installs nothing; says what is
# missing.
#
#     bench/compare.sh [-b BUILD] [-Z RATE] [-n RUNS] [-m "SIDE ..."] [-c] [-o TABLE.md]
#
#   -b BUILD   build directory holding wsq1, unwsq and bench/wsq_benchtool (build)
#   -Z RATE    our bit rate (0.75)
#   -n RUNS    timed runs per command, best taken (10; 5 for mosaics of 2048 and more)
#   -m SIDES   sides of the square mosaics to add ("2048"; "" for none)
#   -c         processor time instead (perf stat's task-clock, the median of
#              RUNS runs): steadier on a busy machine; the two-thread rows
#              then show what the second thread costs, not what it saves
#   -o FILE    also write the table to FILE
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
build=build
rate=0.75
runs=10
mosaics="2048"
table_file=
timer=best_time
while getopts "b:Z:n:m:co:h" opt; do
  case $opt in
    b) build=$OPTARG ;;
    Z) rate=$OPTARG ;;
    n) runs=$OPTARG ;;
    m) mosaics=$OPTARG ;;
    c) timer=cpu_time ;;
    o) table_file=$OPTARG ;;
    *) sed -n '2,25s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done

wsq1=$build/wsq1 unwsq=$build/unwsq tool=$build/bench/wsq_benchtool
for program in "$wsq1" "$unwsq" "$tool"; do
  [ -x "$program" ] || { echo "compare.sh: $program is missing: build first (cmake --build $build)" >&2; exit 1; }
done

missing=()
have() { command -v "$1" >/dev/null; }
jpeg=yes; j2k=yes
have cjpeg && have djpeg || { jpeg=; missing+=("cjpeg/djpeg (Debian package libjpeg-turbo-progs)"); }
have opj_compress && have opj_decompress || { j2k=; missing+=("opj_compress/opj_decompress (Debian package libopenjp2-tools)"); }
if [ $timer = cpu_time ]; then
  have perf || { echo "compare.sh: -c needs perf (Debian package linux-perf)" >&2; exit 1; }
else
  have hyperfine || missing+=("hyperfine (Debian package hyperfine; timing by repeated runs instead)")
fi
for m in "${missing[@]}"; do echo "compare.sh: missing $m" >&2; done
[ -n "$jpeg$j2k" ] || { echo "compare.sh: no peer codec installed, nothing to compare" >&2; exit 1; }
unset OPJ_NUM_THREADS

work=$(mktemp -d "${TMPDIR:-/tmp}/wsq-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$here/measure.sh"

size_of() { stat -c %s "$1"; }

# The cjpeg quality whose file size is closest to TARGET.
tune_jpeg() {
  local pgm=$1 target=$2 out=$3 lo=1 hi=100 mid best=100 s
  while [ $lo -le $hi ]; do  # the smallest quality giving at least the target size
    mid=$(((lo + hi) / 2))
    cjpeg -quality $mid -outfile "$out" "$pgm" 2>/dev/null
    s=$(size_of "$out")
    if [ "$s" -ge "$target" ]; then best=$mid; hi=$((mid - 1)); else lo=$((mid + 1)); fi
  done
  local q=$best
  cjpeg -quality $q -outfile "$out" "$pgm" 2>/dev/null; s=$(size_of "$out")
  if [ $q -gt 1 ]; then
    cjpeg -quality $((q - 1)) -outfile "$out" "$pgm" 2>/dev/null
    local s1; s1=$(size_of "$out")
    if [ $(((s1 - target) * (s1 - target))) -lt $(((s - target) * (s - target))) ]; then q=$((q - 1)); fi
  fi
  echo $q
}

# The opj_compress ratio (-r) whose file size is closest to TARGET.
tune_j2k() {
  local pgm=$1 target=$2 out=$3 raw=$4 r best_r best_d=-1 s d
  r=$(awk -v a="$raw" -v b="$target" 'BEGIN { printf "%.4f", a / b }')
  for ((i = 0; i < 8; i++)); do
    opj_compress -threads 1 -i "$pgm" -o "$out" -r "$r" >/dev/null 2>&1
    s=$(size_of "$out")
    d=$((s > target ? s - target : target - s))
    if [ $best_d -lt 0 ] || [ $d -lt $best_d ]; then best_d=$d; best_r=$r; fi
    [ $((d * 1000)) -le "$target" ] && break  # within 0.1%
    r=$(awk -v r="$r" -v s="$s" -v t="$target" 'BEGIN { printf "%.4f", r * s / t }')
  done
  echo "$best_r"
}

mp() { awk -v p="$1" -v t="$2" 'BEGIN { printf "%.1f", p / 1e6 / t }'; }
ms() { awk -v t="$1" 'BEGIN { printf "%.1f", t * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }  # our speed / theirs from times
bpp() { awk -v b="$1" -v p="$2" 'BEGIN { printf "%.3f", 8 * b / p }'; }  # BYTES PIXELS

rows=()
row() { rows+=("$(IFS='|'; echo "|$*|")"); }
summary=()

compare_image() {  # NAME WIDTH HEIGHT RAW
  local name=$1 w=$2 h=$3 raw=$4 n=$runs pixels=$(($2 * $3))
  [ $pixels -ge $((2048 * 2048)) ] && [ "$runs" -gt 5 ] && n=5
  local pgm="$work/$name.pgm" base="$work/$name"
  "$tool" pgm "$raw" "$w" "$h" "$pgm"

  # Ours, with one thread and with two.
  "$wsq1" -r"$w,$h" -Z"$rate" -o"$base" "$raw" 2>/dev/null
  "$unwsq" -o "$base.wsq.pgm" "$base.wsq"
  local bytes; bytes=$(size_of "$base.wsq")
  local psnr; psnr=$("$tool" psnr "$raw" "$w" "$h" "$base.wsq.pgm")
  local te td te2 td2
  te=$($timer $n "$wsq1" -r"$w,$h" -Z"$rate" -o"$base" "$raw")
  td=$($timer $n "$unwsq" -o "$base.wsq.pgm" "$base.wsq")
  te2=$($timer $n "$tool" encode "$raw" "$w" "$h" "$base.2.wsq" 2 "$rate")
  td2=$($timer $n "$unwsq" -j 2 -o "$base.wsq.pgm" "$base.wsq")
  cmp -s "$base.wsq" "$base.2.wsq" || { echo "compare.sh: wsq_encode() with two threads differs from wsq1" >&2; exit 1; }
  row " $name " " ${w}x$h " " wsq1/unwsq $rate bpp " " 1 " " $bytes " " $(bpp $bytes $pixels) " \
      " $psnr " " $(ms $te) " " $(mp $pixels $te) " " $(ms $td) " " $(mp $pixels $td) " " 1 " " 1 "
  row " $name " " ${w}x$h " " wsq_encode()/unwsq -j 2 $rate bpp " " 2 " " $bytes " " $(bpp $bytes $pixels) " \
      " $psnr " " $(ms $te2) " " $(mp $pixels $te2) " " $(ms $td2) " " $(mp $pixels $td2) " " 1 " " 1 "

  if [ -n "$jpeg" ]; then
    local q; q=$(tune_jpeg "$pgm" "$bytes" "$base.jpg")
    cjpeg -quality "$q" -outfile "$base.jpg" "$pgm" 2>/dev/null  # low qualities draw a caution
    djpeg -pnm -outfile "$base.jpg.pgm" "$base.jpg"
    local jb; jb=$(size_of "$base.jpg")
    local je jd
    je=$($timer $n cjpeg -quality "$q" -outfile "$base.jpg" "$pgm")
    jd=$($timer $n djpeg -pnm -outfile "$base.jpg.pgm" "$base.jpg")
    row " $name " " ${w}x$h " " cjpeg/djpeg -quality $q " " 1 " " $jb " " $(bpp $jb $pixels) " \
        " $("$tool" psnr "$raw" "$w" "$h" "$base.jpg.pgm") " " $(ms $je) " " $(mp $pixels $je) " \
        " $(ms $jd) " " $(mp $pixels $jd) " " $(ratio $te $je) " " $(ratio $td $jd) "
    summary+=("$name: wsq1 $(ratio $te $je)x the speed of cjpeg, unwsq $(ratio $td $jd)x the speed of djpeg")
  fi

  if [ -n "$j2k" ]; then
    local r; r=$(tune_j2k "$pgm" "$bytes" "$base.j2k" "$pixels")
    opj_compress -threads 1 -i "$pgm" -o "$base.j2k" -r "$r" >/dev/null 2>&1
    opj_decompress -threads 1 -i "$base.j2k" -o "$base.j2k.pgm" >/dev/null 2>&1
    local kb; kb=$(size_of "$base.j2k")
    local kpsnr; kpsnr=$("$tool" psnr "$raw" "$w" "$h" "$base.j2k.pgm")
    local threads ke kd ours_e ours_d
    for threads in 1 2; do
      ke=$($timer $n opj_compress -threads $threads -i "$pgm" -o "$base.j2k" -r "$r")
      kd=$($timer $n opj_decompress -threads $threads -i "$base.j2k" -o "$base.j2k.pgm")
      if [ $threads = 1 ]; then ours_e=$te ours_d=$td; else ours_e=$te2 ours_d=$td2; fi
      row " $name " " ${w}x$h " " opj_compress/opj_decompress -r $r " " $threads " " $kb " \
          " $(bpp $kb $pixels) " " $kpsnr " \
          " $(ms $ke) " " $(mp $pixels $ke) " " $(ms $kd) " " $(mp $pixels $kd) " \
          " $(ratio $ours_e $ke) " " $(ratio $ours_d $kd) "
      summary+=("$name, $threads thread(s): ours $(ratio $ours_e $ke)x the speed of opj_compress, $(ratio $ours_d $kd)x that of opj_decompress")
    done
  fi
  rm -f "$work/$name".*
}

while IFS=$'\t' read -r name w h _; do
  [ -n "$name" ] && [ "$name" != name ] || continue
  compare_image "$name" "$w" "$h" "$data/$name.raw"
done < <(cat "$data/MANIFEST.tsv"; echo)
for side in $mosaics; do
  "$tool" mosaic "$side" "$side" "$work/mosaic.raw"
  compare_image "mosaic$side" "$side" "$side" "$work/mosaic.raw"
  rm -f "$work/mosaic.raw"
done

{
  echo "| image | size | codec, setting | threads | bytes | bpp | PSNR dB | encode ms | encode MP/s | decode ms | decode MP/s | our encode speed ÷ this | our decode speed ÷ this |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  printf '%s\n' "${rows[@]}"
  echo
  if [ "$runs" -gt 5 ]; then note="; 5 for 2048x2048 and larger"; else note=; fi
  if [ $timer = cpu_time ]; then
    echo "Whole process, processor time, median of $runs runs (perf stat task-clock$note); the last two columns compare"
  else
    echo "Whole process, best of $runs runs ($(timer_name)$note); the last two columns compare"
  fi
  echo "us with as many threads. $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'),"
  echo "$(nproc) cores, $(date -u +%Y-%m-%d), load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
  have cjpeg && echo "$(cjpeg -version 2>&1 | head -1)."
  have opj_compress && echo "opj_compress with openjp2 $(opj_compress -h 2>&1 | sed -n 's/.*openjp2 library v\([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' | head -1)."
  for m in "${missing[@]}"; do echo "Missing: $m."; done
} | tee "${table_file:-/dev/null}"
printf '%s\n' "" "${summary[@]}" >&2
