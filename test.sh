#!/usr/bin/env bash
# Installs what is missing, builds the programs and the tests, and runs every
# test through ctest (benchmarks: scripts/bench.sh).
#   ./test.sh                 the quick suite: build and run all tests
#   ./test.sh --werror        the same, with compiler warnings treated as errors
#   ./test.sh --full          the full check: the quick suite, then each part of
#                             scripts/full/ (sanitizer build, Windows build under
#                             Wine, short fuzz runs); what CI runs, with --werror
#   ./test.sh --fuzz SECONDS  builds the fuzzers and runs each for that long
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

werror=OFF
full=0
fuzz_seconds=
while [ $# -gt 0 ]; do
  case $1 in
    --werror) werror=ON ;;
    --full) full=1 ;;
    --fuzz)
      [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] || { echo "usage: $0 [--werror] [--full] [--fuzz SECONDS]" >&2; exit 2; }
      fuzz_seconds=$2; shift ;;
    *) echo "usage: $0 [--werror] [--full] [--fuzz SECONDS]" >&2; exit 2 ;;
  esac
  shift
done
export CORVANE_WERROR=$werror

if [ -n "$fuzz_seconds" ]; then
  exec "$CORVANE_ROOT/scripts/full/fuzz.sh" "$fuzz_seconds"
fi

corvane_install
build="$CORVANE_ROOT/build"
corvane_build "$build" -DCORVANE_WERROR=$werror -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_BENCH=OFF
(
  export QT_QPA_PLATFORM=offscreen
  cd "$build"
  ctest --output-on-failure -j "$(nproc)"
)

if [ $full -eq 1 ]; then
  # Each part installs what it needs, builds in a folder of its own and exits
  # non-zero on the first failure.
  for part in sanitizers windows fuzz; do
    script="$CORVANE_ROOT/scripts/full/$part.sh"
    [ -x "$script" ] || continue
    echo "== full check: $part"
    start=$SECONDS
    args=()
    [ "$part" = fuzz ] && args=(20)
    "$script" "${args[@]}"
    echo "== full check: $part done in $((SECONDS - start)) s"
  done
fi
