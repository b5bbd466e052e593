#!/usr/bin/env bash
# Archive-style batch runs: tools/wsqjob under xargs -P (and GNU parallel where
# it is installed) encodes a tree of the bundled images and decodes it again,
# keeping every relative name, reports the one bad file of each run by name
# and ends with a nonzero status; the pipe recipe gives the same bytes.
# usage: batch_test.sh WSQ1 UNWSQ DATA_DIR WSQJOB
set -euo pipefail
export WSQ1=$1 UNWSQ=$2
data=$3 job=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The tree: the bundled images spread over three levels, one list line each
# with its size as a wsq1 option, and an empty image that wsq1 refuses.
dirs=(. a a/b) i=0
while IFS=$'\t' read -r name w h _; do
  path=${dirs[i++ % 3]}/$name.raw
  mkdir -p "tree/${path%/*}" && ln -s "$data/$name.raw" "tree/$path"
  echo "$path -r$w,$h" >>sizes
  echo "$w $h ${path#./}" >>images
done < <(tail -n +2 "$data/MANIFEST.tsv")
mkdir -p tree/bad && : >tree/bad/empty.raw && echo "bad/empty.raw -r100,100" >>sizes

# Runs "$@" expecting exit status $1 and exactly one failure report, for $2.
expect_one_failure() {
  local want=$1 file=$2 status=0
  shift 2
  "$@" 2>err || status=$?
  cat err
  [[ $status == "$want" ]] || fail "$* ended with $status, not $want: $(cat err)"
  if [[ $(grep -c '^wsqjob: ' err) != 1 ]] || ! grep -q "^wsqjob: $file: ." err; then
    fail "report: $(cat err)"
  fi
}

expect_one_failure 123 bad/empty.raw xargs -L1 -P2 "$job" encode tree enc <sizes
while read -r w h path; do [[ -s enc/${path%.raw}.wsq ]] || fail "no enc/${path%.raw}.wsq"; done <images
[[ $(find enc -type f | wc -l) == $(wc -l <images) ]] || fail "stray files in enc: $(find enc -type f)"

if command -v parallel >/dev/null; then
  expect_one_failure 1 bad/empty.raw parallel --will-cite --colsep ' ' "$job" encode tree par '{1}' '{2}' :::: sizes
  diff -r enc par || fail "parallel and xargs wrote different trees"
else
  echo "GNU parallel is not installed: its run is skipped"
fi

read -r w h path <images
head -c 300 "enc/${path%.raw}.wsq" >enc/bad/cut.wsq
(cd enc && find . -name '*.wsq' -print0) >wsqs
expect_one_failure 123 bad/cut.wsq xargs -0 -n1 -P2 "$job" decode enc dec <wsqs
while read -r w h path; do
  pgm=dec/${path%.raw}.pgm
  [[ $(sed -n 2p "$pgm") == "$w $h" && $(stat -c %s "$pgm") == $((9 + ${#w} + ${#h} + w * h)) ]] ||
    fail "$pgm is not a ${w}x$h image"
done <images

# The pipe recipe, standard input to standard output, gives the same bytes.
read -r w h path <images
"$WSQ1" "-r$w,$h" - <"tree/$path" 2>/dev/null | cmp - "enc/${path%.raw}.wsq"
"$UNWSQ" -fraw - <"enc/${path%.raw}.wsq" | cmp - <(tail -c $((w * h)) "dec/${path%.raw}.pgm")
echo "batch runs: all checks passed"
