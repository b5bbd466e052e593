#!/usr/bin/env bash
# What `cmake --install` gives the desktop, installed into a temporary prefix:
# the type image/x-wsq, registered in a data folder of one's own as a user
# would, names WSQ files by name and by content (xdg-mime), and so does the
# magic fragment for file(1); the thumbnailer's command, run as a file manager
# runs it, writes a PNG of the size asked.
#
#     desktop_test.sh CMAKE BUILD_DIR DATA_DIR
set -uo pipefail
cmake=$1 build=$2 data=$3
for tool in update-mime-database xdg-mime mimetype file; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$cmake" --install "$build" --prefix "$tmp/prefix" >/dev/null || exit 1
share=$tmp/prefix/share
failures=0
expect() {  # WHAT EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: \"$3\", expected \"$2\""; failures=$((failures + 1)); fi
}

# Files: a stream of another encoder (a comment first) by its name, the same
# and a wsq1 stream (a transform table first) by their content, and a PGM
# image that is none.
cp "$data/wsq-original.wsq" "$tmp/card.wsq"
cp "$data/wsq-original.wsq" "$tmp/card"
cp "$data/hostile/valid/base.wsq" "$tmp/scan"
printf 'P5\n1 1\n255\n\0' >"$tmp/image"

export XDG_DATA_HOME=$tmp/xdg XDG_DATA_DIRS=/usr/share  # the base types, and no WSQ type installed before
mkdir -p "$XDG_DATA_HOME/mime/packages"
cp "$share/mime/packages/wsq.xml" "$XDG_DATA_HOME/mime/packages/"
update-mime-database "$XDG_DATA_HOME/mime" || exit 1
for file in card.wsq card scan; do
  expect "xdg-mime names $file" image/x-wsq "$(xdg-mime query filetype "$tmp/$file" 2>&1)"
  expect "file names $file" "WSQ fingerprint image data" "$(file -b -m "$share/wsq/wsq.magic" "$tmp/$file")"
done
expect "file gives the type of scan" image/x-wsq "$(file -b --mime-type -m "$share/wsq/wsq.magic" "$tmp/scan")"
expect "xdg-mime does not name a PGM image WSQ" image/x-portable-graymap "$(xdg-mime query filetype "$tmp/image" 2>&1)"

# The thumbnailer, for the type, at the sizes a file manager asks (832 x 768
# into 128 x 128 and 256 x 256; a print within 1024 x 1024 stays whole).
entry=$share/thumbnailers/wsq.thumbnailer
expect "the thumbnailer's type" "MimeType=image/x-wsq;" "$(grep ^MimeType= "$entry")"
read -ra command <<<"$(sed -n 's/^Exec=//p' "$entry")"
for size in 128 256 1024; do
  rm -f "$tmp/thumbnail.png"
  words=()
  for word in "${command[@]}"; do
    word=${word//%s/$size}; word=${word//%i/$tmp/card.wsq}; words+=("${word//%o/$tmp/thumbnail.png}")
  done
  PATH=$tmp/prefix/bin:$PATH "${words[@]}"
  case $size in 128) expected="128 x 118" ;; 256) expected="256 x 236" ;; *) expected="832 x 768" ;; esac
  expect "thumbnail for $size" "PNG image data, $expected, 8-bit grayscale, non-interlaced" \
    "$(file -b "$tmp/thumbnail.png" 2>&1)"
done
echo "$failures failed"
[ "$failures" -eq 0 ]
