# Timing and memory helpers of the benchmark scripts, to be sourced. Both
# need $work, a scratch directory, and discard the command's output.

# best_time RUNS COMMAND...: the best wall-clock time of the command in
# seconds over RUNS runs after one warm-up; taken by hyperfine when it is
# installed, else by date.
best_time() {
  local n=$1; shift
  if command -v hyperfine >/dev/null; then
    hyperfine -N --style none --warmup 1 --runs "$n" --export-json "$work/times.json" -- \
      "$(printf '%q ' "$@")" >/dev/null 2>"$work/hyperfine.log" || { cat "$work/hyperfine.log" >&2; return 1; }
    sed -n 's/^ *"min": *\([0-9.e+-]*\),*$/\1/p' "$work/times.json" | head -1
  else
    "$@" >/dev/null 2>&1
    local best= start end t
    for ((i = 0; i < n; i++)); do
      start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N)
      t=$((end - start))
      [ -z "$best" ] || [ "$t" -lt "$best" ] && best=$t
    done
    awk -v t="$best" 'BEGIN { printf "%.6f\n", t / 1e9 }'
  fi
}

# cpu_time RUNS COMMAND...: the command's processor time in seconds, its
# threads' and children's included: the median of RUNS runs after one
# warm-up, each measured by perf stat's task-clock (Debian package
# linux-perf). Unlike wall time it hardly changes with what else the machine
# runs, but for a run the others interrupt.
cpu_time() {
  local n=$1; shift
  "$@" >/dev/null 2>&1
  : >"$work/cpu.all"
  for ((i = 0; i < n; i++)); do
    perf stat -x, -e task-clock -o "$work/cpu" -- "$@" >/dev/null 2>&1 || return 1
    awk -F, '/task-clock/ { print $1 / 1000 }' "$work/cpu" >>"$work/cpu.all"
  done
  sort -g "$work/cpu.all" | awk '{ t[NR] = $1 } END { printf "%.6f\n", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# timer_name: what best_time measures with.
timer_name() {
  if command -v hyperfine >/dev/null; then echo "hyperfine $(hyperfine --version | awk '{print $2}')"; else echo "repeated runs"; fi
}

# peak_kib COMMAND...: the command's maximum resident set size in KiB, by GNU
# time (/usr/bin/time, Debian package time).
peak_kib() {
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1
  tail -1 "$work/rss"
}
