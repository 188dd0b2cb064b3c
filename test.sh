#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh             plain build (build/)
#   ./test.sh --sanitize  ASan+UBSan build (build-asan/)
#   ./test.sh --tsan      TSan build (build-tsan/)
#   ./test.sh --fuzz [S]  clang libFuzzer build of the fuzz targets (build-fuzz/), each run S seconds (default 60)
#   ./test.sh --fuzz-runs N  the same, each target run for N inputs instead of a time
#   ./test.sh --bench     plain build, then every benchmark
# Extra arguments after "--" go to ctest (for example: -- -L backend).
# With CI=true, warnings in our own code are errors.
set -euo pipefail
cd "$(dirname "$0")"

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }

mode=plain
fuzz_seconds=60
fuzz_runs=
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) mode=asan ;;
    --tsan) mode=tsan ;;
    --bench) mode=bench ;;
    --fuzz)
      mode=fuzz
      if [ $# -gt 1 ] && [[ "$2" =~ ^[0-9]+$ ]]; then fuzz_seconds=$2; shift; fi ;;
    --fuzz-runs)
      mode=fuzz
      if [ $# -lt 2 ] || ! [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
        echo "test.sh: --fuzz-runs needs a positive number of inputs" >&2; exit 2
      fi
      fuzz_runs=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    *) echo "test.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

./scripts/install-deps.sh

# Compiler cache keys independent of where the tree is checked out, so a fresh
# clone on the same machine reuses earlier builds.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

build=build
werror=OFF
if [ "${CI:-}" = true ]; then werror=ON; fi
cmake_args=(-G Ninja "-DVV_WERROR=$werror")
targets=()
case "$mode" in
  asan) build=build-asan; cmake_args+=(-DCMAKE_BUILD_TYPE=Debug "-DVV_SANITIZE=address;undefined") ;;
  tsan) build=build-tsan; cmake_args+=(-DCMAKE_BUILD_TYPE=Debug -DVV_SANITIZE=thread) ;;
  fuzz) build=build-fuzz; targets=(--target fuzzers)
        cmake_args+=(-DCMAKE_BUILD_TYPE=Debug -DVV_FUZZ=ON -DVV_BENCH=OFF
          -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
esac

echo "== configure ($build)"
cmake -S . -B "$build" "${cmake_args[@]}" >/dev/null
echo "== build ($build)"
cmake --build "$build" "${targets[@]}"

case "$mode" in
  fuzz) exec ./scripts/run-fuzzers.sh "$build" "$fuzz_seconds" $fuzz_runs ;;
  bench) exec ./scripts/run-benchmarks.sh "$build" ;;
esac

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}
echo "== test ($build)"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 "$@"
