#!/usr/bin/env bash
# Runs every benchmark of a build; each prints its ratios against its peer.
set -euo pipefail
build=${1:?usage: run-benchmarks.sh BUILD_DIR}
for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_counters_tabular=true
done
