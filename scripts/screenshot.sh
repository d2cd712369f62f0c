#!/usr/bin/env bash
# Takes docs/screenshot.png: the main window under Xvfb with samples/demo.dbx
# loaded, deleted messages included.
#   scripts/screenshot.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/tests/window_screenshot"
[ -x "$tool" ] || { echo "build window_screenshot first: cmake --build $build --target window_screenshot" >&2; exit 1; }
export TMPDIR=$(mktemp -d)
# The sample in a neutral place, so that the tree shows no path of this machine.
neutral=/tmp/Mail
mkdir -p "$neutral"
cp "$root/samples/demo.dbx" "$neutral/demo.dbx"
trap 'rm -rf "$TMPDIR" "$neutral"' EXIT
xvfb-run -a -s "-screen 0 940x620x24" bash -c '
  "$1" "$2" & app=$!
  sleep 3
  import -window root "$3"
  kill $app
' _ "$tool" "$neutral/demo.dbx" "$root/docs/screenshot.png"
echo "wrote $root/docs/screenshot.png"
