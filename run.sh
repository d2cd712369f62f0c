#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Corvane Recovery window.
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

corvane_install
build="$CORVANE_ROOT/build"
corvane_build "$build"
window="$build/src/corvane-recovery"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found; starting the window under Xvfb." >&2
  exec xvfb-run -a "$window"
fi
exec "$window"
