#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a number of seconds each, or for
# a number of inputs each when RUNS is given.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR SECONDS [RUNS]}
seconds=${2:-60}
runs=${3:-}
if [ -n "$runs" ]; then
  budget=(-runs="$runs"); what="$runs inputs"
else
  budget=(-max_total_time="$seconds"); what="${seconds}s"
fi
status=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/${name#fuzz_}" ] && seeds+=("fuzz/seeds/${name#fuzz_}")
  [ -d "fuzz/corpus/${name#fuzz_}" ] && seeds+=("fuzz/corpus/${name#fuzz_}")
  flags=()
  # Deep nesting needs long inputs to be reachable at all.
  case "${name#fuzz_}" in devserver_backend|devserver_admin) flags+=(-max_len=1048576) ;; esac
  echo "== $name for $what"
  if ! "$target" "${budget[@]}" -print_final_stats=1 "${flags[@]}" "$corpus" "${seeds[@]}" \
      2>"$build/$name.log"; then
    echo "$name FAILED: see $build/$name.log" >&2
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$build/$name.log" || true
done
exit $status
