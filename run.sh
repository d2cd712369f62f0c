#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Corvane Recovery window.
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

corvane_install
build="$CORVANE_ROOT/build"
corvane_build "$build"
if [ -x "$build/src/corvane-recovery" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found; starting the window under Xvfb." >&2
    exec xvfb-run -a "$build/src/corvane-recovery" "$@"
  fi
  exec "$build/src/corvane-recovery" "$@"
fi
# Without the window, show what the engine finds in the sample folder file.
exec "$build/src/corvane-demo" "$CORVANE_ROOT/samples/demo.dbx"
