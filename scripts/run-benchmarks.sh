#!/usr/bin/env bash
# Runs every benchmark of a build; each prints its ratios against its peer.
# Ends with one table of every row and its aim, also written to
# BUILD_DIR/bench-report.md.
set -euo pipefail
build=${1:?usage: run-benchmarks.sh BUILD_DIR}
rows="$build/bench-rows.tsv"
report="$build/bench-report.md"
: >"$rows"
export VV_BENCH_ROWS="$PWD/$rows"
[[ "$build" = /* ]] && VV_BENCH_ROWS="$rows"
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  run=("$bench")
  # The window's launch needs a display: a virtual one where there is none.
  if [ "$(basename "$bench")" = bench_window_start ] && [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24" "$bench")
  fi
  "${run[@]}" --benchmark_counters_tabular=true
done
{
  echo "| path | ours | peer | ratio | aim | met? |"
  echo "|---|---|---|---|---|---|"
  awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6 }' "$rows"
} >"$report"
echo
echo "== report ($report)"
cat "$report"
