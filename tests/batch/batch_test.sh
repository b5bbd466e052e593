#!/usr/bin/env bash
# Archive-style batch runs: tools/wsqjob under xargs -P (and GNU parallel where
# it is installed) encodes a tree of the bundled images, from a list of names
# with spaces and sizes, and decodes it again, keeping every relative name,
# reports the one bad file of each run by name and reason and ends with a
# nonzero status; a mistake after the mode fails its file the same way; the
# pipe recipe gives the same bytes.
# usage: batch_test.sh WSQ1 UNWSQ DATA_DIR WSQJOB
set -euo pipefail
export WSQ1=$1 UNWSQ=$2
data=$3 job=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The tree: the bundled images spread over three levels, one with spaces in
# its name, one list line each with a tab and its size as a wsq1 option, and
# an empty image that wsq1 refuses.
dirs=(. a 'a/b c') i=0
while IFS=$'\t' read -r name w h _; do
  path=${dirs[i++ % 3]}/$name.raw
  mkdir -p "tree/${path%/*}" && ln -s "$data/$name.raw" "tree/$path"
  printf '%s\t-r%s,%s\n' "$path" "$w" "$h" >>sizes
  echo "$w $h ${path#./}" >>images
done < <(tail -n +2 "$data/MANIFEST.tsv")
mkdir -p tree/bad && : >tree/bad/empty.raw && printf 'bad/empty.raw\t-r100,100\n' >>sizes

# Runs "$@" expecting exit status $1 and exactly one line on standard error,
# the failure report for file $2 with a reason that begins with $3.
expect_one_failure() {
  local want=$1 report="wsqjob: $2: $3" status=0
  shift 3
  "$@" 2>err || status=$?
  cat err
  [[ $status == "$want" ]] || fail "$* ended with $status, not $want: $(cat err)"
  [[ $(wc -l <err) == 1 && $(cat err) == "$report"* ]] || fail "report: $(cat err)"
}

expect_one_failure 123 bad/empty.raw 'Error! Fatal input flaw: every pixel' \
  xargs -0 -n2 -P2 "$job" encode tree enc < <(tr '\t\n' '\0\0' <sizes)
while read -r w h path; do [[ -s enc/${path%.raw}.wsq ]] || fail "no enc/${path%.raw}.wsq"; done <images
[[ $(find enc -type f | wc -l) == $(wc -l <images) ]] || fail "stray files in enc: $(find enc -type f)"

if command -v parallel >/dev/null; then
  expect_one_failure 1 bad/empty.raw 'Error! Fatal input flaw: every pixel' \
    parallel --will-cite --colsep '\t' "$job" encode tree par {1} {2} :::: sizes
  diff -r enc par || fail "parallel and xargs wrote different trees"
else
  echo "GNU parallel is not installed: its run is skipped"
fi

read -r w h path <images
head -c 300 "enc/${path%.raw}.wsq" >enc/bad/cut.wsq
(cd enc && find . -name '*.wsq' -print0) >wsqs
expect_one_failure 123 bad/cut.wsq 'unwsq: enc/bad/cut.wsq: truncated stream' \
  xargs -0 -n1 -P2 "$job" decode enc dec <wsqs
while read -r w h path; do
  pgm=dec/${path%.raw}.pgm
  [[ $(sed -n 2p "$pgm") == "$w $h" && $(stat -c %s "$pgm") == $((9 + ${#w} + ${#h} + w * h)) ]] ||
    fail "$pgm is not a ${w}x$h image"
done <images

# Help on standard output with status 0, a usage error (no FILE) on standard
# error with status 2, and every mistake after the mode fails its file.
for help in -h --help; do "$job" "$help" >help && grep -q '^usage: wsqjob ' help || fail "$help"; done
status=0; "$job" encode tree enc -r500,500 2>err || status=$?
[[ $status == 2 && $(cat err) == 'usage: wsqjob '* ]] || fail "usage error: $status $(cat err)"
read -r w h path <images
wsq=${path%.raw}.wsq
: >file
expect_one_failure 1 "$path" 'a second FILE, x.raw' "$job" encode tree enc "$path" x.raw
expect_one_failure 1 "$path" 'cannot make the directory file/enc: ' "$job" encode tree file/enc "$path"
expect_one_failure 1 "$path" 'wsq1 refused the options: -v5' "$job" encode tree enc -v5 "$path"
expect_one_failure 1 "$wsq" 'unwsq: unknown format "bogus"' "$job" decode enc dec -fbogus "$wsq"
expect_one_failure 1 x.raw 'cannot read tree/x.raw: ' "$job" encode tree enc x.raw
expect_one_failure 1 "$path" 'cannot find the program /none' env WSQ1=/none "$job" encode tree enc "$path"

# The pipe recipe, standard input to standard output, gives the same bytes.
read -r w h path <images
"$WSQ1" "-r$w,$h" - <"tree/$path" 2>/dev/null | cmp - "enc/${path%.raw}.wsq"
"$UNWSQ" -fraw - <"enc/${path%.raw}.wsq" | cmp - <(tail -c $((w * h)) "dec/${path%.raw}.pgm")
echo "batch runs: all checks passed"
