#!/usr/bin/env bash
# Installs what is missing, builds the two programs (nothing else), and starts
# the Corvane Recovery window.
# Without a display it shows the main job on the command line instead: the
# sample folder file listed with its deleted messages, and exported.
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

corvane_install_only "${CORVANE_RUN_PACKAGES[@]}"
build="$CORVANE_ROOT/build"
corvane_build_programs "$build"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/src/corvane-recovery"
fi

echo "No display found: showing the command-line program corvane-dbx on samples/demo.dbx instead."
dbx="$build/src/corvane-dbx"
sample="$CORVANE_ROOT/samples/demo.dbx"
out="$PWD/recovered"
"$dbx" list --deleted "$sample"
"$dbx" export --deleted --out "$out" "$sample"
echo "Exported $(find "$out" -maxdepth 1 -name 'RecoveredEmail*.eml' | wc -l) messages to $out"
