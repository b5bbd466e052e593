#!/usr/bin/env bash
# Line and branch coverage of src/ by the whole test suite, fuzz replays
# included, measured with clang's source-based coverage:
#
#   tools/coverage.sh            # build, test, report (build/coverage)
#
# Builds the library, the programs and the tests into build/coverage with
# clang's coverage instrumentation, runs every ctest (a failing test is
# reported but still counted: the report says what was reached), merges the
# profile of every process they start, and prints lines and branches reached
# per source of src/. The HTML report, every line with its counts, is
# build/coverage/html/index.html. The WebAssembly package and its web page
# are left out: no profile comes from them.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build/coverage
mkdir -p "$dir"
version=$(clang++ -dumpversion | cut -d. -f1)
# The profile tools of the compiler that instruments, whatever the PATH's
# unversioned names point to.
tool() { command -v "$1-$version" || command -v "/usr/lib/llvm-$version/bin/$1" || command -v "$1"; }
profdata=$(tool llvm-profdata)
cov=$(tool llvm-cov)

instrument="-fprofile-instr-generate -fcoverage-mapping"
# The binaries' mappings name each source by its absolute path, which is how
# one source's counts from every binary join: ccache would make them relative.
unset CCACHE_BASEDIR
cmake -S . -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$instrument" -DCMAKE_CXX_FLAGS="$instrument" \
  -DCMAKE_EXE_LINKER_FLAGS="$instrument" -DCMAKE_SHARED_LINKER_FLAGS="$instrument" \
  -DWSQ_BUILD_BENCH=OFF -DWSQ_EMCMAKE=OFF >"$dir/build.log" 2>&1 ||
  { cat "$dir/build.log" >&2; exit 1; }
cmake --build "$dir" -j2 >>"$dir/build.log" 2>&1 || { tail -50 "$dir/build.log" >&2; exit 1; }

# One profile a program (%m merges the runs of one binary as they end), so
# that a thousand test processes leave a few files, not a thousand.
rm -rf "$dir/profiles" "$dir/html"
mkdir -p "$dir/profiles"
tests=0
LLVM_PROFILE_FILE=$PWD/$dir/profiles/%m.profraw \
  ctest --test-dir "$dir" -j2 --no-tests=error >"$dir/ctest.log" 2>&1 || tests=$?
grep -q '^Total Test time' "$dir/ctest.log" || { cat "$dir/ctest.log" >&2; exit 1; }
"$profdata" merge -sparse -o "$dir/wsq.profdata" "$dir"/profiles/*.profraw

# Every binary the build made that carries coverage mappings: the programs,
# the test programs, the Python package's and the Java library's libwsq.
objects=()
while IFS= read -r -d '' file; do
  readelf -S "$file" 2>/dev/null | grep -q __llvm_covmap && objects+=(-object "$file")
done < <(find "$dir" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' -print0)
[ ${#objects[@]} -gt 0 ] || { echo "coverage: no instrumented binary in $dir" >&2; exit 1; }
sources=("$PWD"/src/*.cpp)
# A program's main is the one function that two binaries define differently:
# llvm-cov's warning about it says nothing of src/.
quiet_cov() { "$cov" "$@" 2> >(grep -v 'functions have mismatched data' >&2); }
quiet_cov show -format=html -output-dir="$dir/html" -show-branches=count -instr-profile="$dir/wsq.profdata" \
  "${objects[@]:1}" "${sources[@]}"
# Per source: lines, and branches; of the branches missed, those inside
# macros, which in src/ are the assertions' (WSQ_ASSERT, WSQ_ALLOCATED):
# their failing side is a broken contract, which assert_test reaches once
# for all. A file's list of branches leaves macro expansions out (and lists
# a template's branches once an instance: merged here), so the branches it
# lists are the others.
quiet_cov export -instr-profile="$dir/wsq.profdata" "${objects[@]:1}" "${sources[@]}" >"$dir/coverage.json"
python3 - "$dir/coverage.json" <<'EOF'
import collections, json, os, sys
files = json.load(open(sys.argv[1]))['data'][0]['files']
for f in sorted(files, key=lambda f: f['filename']):
    lines, branches = f['summary']['lines'], f['summary']['branches']
    merged = collections.defaultdict(lambda: [0, 0])
    for b in f['branches']:
        merged[tuple(b[:4])][0] += b[4]
        merged[tuple(b[:4])][1] += b[5]
    outside = sum((t == 0) + (e == 0) for t, e in merged.values())
    rest = 100 * (1 - outside / (2 * len(merged))) if merged else 100
    print('%-18s lines %6.2f%% (%3d of %4d missed)   branches %6.2f%% (%3d of %4d missed, '
          '%3d in assertions; %6.2f%% of the rest)'
          % (os.path.basename(f['filename']), lines['percent'], lines['count'] - lines['covered'],
             lines['count'], branches['percent'], branches['notcovered'], branches['count'],
             max(0, branches['notcovered'] - outside), rest))
EOF
echo "HTML report: $dir/html/index.html"
if [ "$tests" -ne 0 ]; then
  echo "coverage: some tests failed (see $dir/ctest.log)" >&2
fi
