#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
#   ./test.sh            build and run all tests
#   ./test.sh --werror   the same, with compiler warnings treated as errors (what CI runs)
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

werror=OFF
for arg in "$@"; do
  case $arg in
    --werror) werror=ON ;;
    *) echo "usage: $0 [--werror]" >&2; exit 2 ;;
  esac
done

corvane_install
build="$CORVANE_ROOT/build"
corvane_build "$build" -DCORVANE_WERROR=$werror
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j "$(nproc)"
