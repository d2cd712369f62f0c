#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (ASan and UBSan) in
# build-fuzz/, writes their seed inputs with the fixture writer, and runs each
# harness for SECONDS, one per core at a time. Exits non-zero when a harness
# finds a crash; the input that caused it is left in build-fuzz/crashes/ (keep
# it in fuzz/regressions/<harness>/ once mended). The corpus grown by earlier
# runs stays in build-fuzz/corpus/.
#   scripts/full/fuzz.sh SECONDS
set -euo pipefail
[[ ${1:-} =~ ^[0-9]+$ ]] || { echo "usage: $0 SECONDS" >&2; exit 2; }
seconds=$1
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"
corvane_install clang libclang-rt-14-dev

build="$CORVANE_ROOT/build-fuzz"
harnesses=()
for src in "$CORVANE_ROOT"/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  harnesses+=("${name#fuzz_}")
done

CC=clang CXX=clang++ cmake -S "$CORVANE_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_BUILD_FUZZERS=ON -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_BENCH=OFF \
  -DCORVANE_WERROR="${CORVANE_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target make_fuzz_seeds "${harnesses[@]/#/fuzz_}" -- --no-print-directory
rm -rf "$build/seeds"
"$build/fuzz/make_fuzz_seeds" "$build/seeds"

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# One harness per core at a time: each runs for SECONDS of its own, so the
# whole part takes about SECONDS times the harnesses over the cores.
run_harness() {
  local name=$1
  local corpus="$build/corpus/$name"
  mkdir -p "$corpus" "$build/crashes" "$build/logs"
  local inputs=("$corpus" "$CORVANE_ROOT/fuzz/regressions/$name")
  [ -d "$build/seeds/$name" ] && inputs+=("$build/seeds/$name")
  # Harness options, one per line: fuzz/fuzz_<name>.options.
  local options=()
  [ -f "$CORVANE_ROOT/fuzz/fuzz_$name.options" ] && mapfile -t options < "$CORVANE_ROOT/fuzz/fuzz_$name.options"
  local log="$build/logs/$name.log"
  if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/crashes/$name-" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
    echo "fuzz_$name: ${seconds} s, $(grep -E '^stat::number_of_executed_units' "$log" | sed 's/.*: *//') runs"
  else
    echo "fuzz_$name: found a crash" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}
failed=()
declare -A names=()
running=0
# Waits for one harness to end and notes it when it failed.
wait_one() {
  local pid status=0
  wait -n -p pid || status=$?
  running=$((running - 1))
  [ "$status" -eq 0 ] || failed+=("${names[$pid]}")
}
for name in "${harnesses[@]}"; do
  [ "$running" -ge "$(nproc)" ] && wait_one
  run_harness "$name" &
  names[$!]=$name
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do wait_one; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found crashes in: ${failed[*]} (inputs in $build/crashes/)" >&2
  exit 1
fi
