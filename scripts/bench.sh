#!/usr/bin/env bash
# Builds the benchmarks (bench/, Google Benchmark) in build-bench/ and runs
# them: the ones named, or all of them one after the other. They take minutes
# each and write fixtures of up to 160 MB into the temporary folder.
#   scripts/bench.sh                      build and run every benchmark
#   scripts/bench.sh bench_mbox ...       build all, run these
#   scripts/bench.sh --build-only         build them, run none
# Arguments after "--" go to each benchmark, e.g. -- --benchmark_filter=Ratio.
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

names=()
extra=()
build_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --build-only) build_only=1 ;;
    --) shift; extra=("$@"); break ;;
    bench_*) names+=("$1") ;;
    *) echo "usage: $0 [--build-only] [bench_NAME...] [-- benchmark options]" >&2; exit 2 ;;
  esac
  shift
done

corvane_install libbenchmark-dev
build="$CORVANE_ROOT/build-bench"
corvane_configure "$build" -DCORVANE_BUILD_BENCH=ON -DCORVANE_BUILD_TESTS=ON
all=()
for src in "$CORVANE_ROOT"/bench/bench_*.cpp; do all+=("$(basename "$src" .cpp)"); done
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")
cmake --build "$build" -j "$(nproc)" --target "${names[@]}" -- --no-print-directory
[ $build_only -eq 1 ] && exit 0

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for name in "${names[@]}"; do
  echo "== $name"
  "$build/bench/$name" "${extra[@]}"
done
