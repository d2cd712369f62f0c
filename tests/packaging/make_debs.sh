#!/usr/bin/env bash
# Makes the Debian packages of a build from its programs, as they are built.
#   make_debs.sh <build folder> <output folder>
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
ls "$out"/*.deb
