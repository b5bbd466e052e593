#!/usr/bin/env bash
# What the vector paths gain on this machine, for a processor the project
# cannot time (64-bit ARM's NEON): builds the benchmarks twice, with the
# vector paths and without them (WSQ_PORTABLE), and runs the pipelines of
# both at 512x512 and 2048x2048, one thread. Needs cmake, a C++17 compiler,
# libpng and Google Benchmark (Debian: libbenchmark-dev). Installs nothing.
#
#   bench/vector_paths.sh [BUILD_PREFIX]     (default: build-vector-paths)
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-build-vector-paths}
filter='pipeline/wsq_(encode|decode)/(512|2048)/threads:1/'
for portable in OFF ON; do
  cmake -S . -B "$prefix-$portable" -DWSQ_PORTABLE=$portable -DWSQ_BUILD_TESTS=OFF >/dev/null
  cmake --build "$prefix-$portable" -j"$(nproc)" --target wsq_bench >/dev/null
  echo "== vector paths $([ $portable = ON ] && echo off || echo on)"
  "$prefix-$portable/bench/wsq_bench" --benchmark_filter="$filter" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true | grep -E 'median|Benchmark'
done
