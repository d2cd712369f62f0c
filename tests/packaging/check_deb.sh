#!/usr/bin/env bash
# Makes the Debian package of a build and checks what it holds and declares.
#   check_deb.sh <build folder>
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
contents=$(dpkg-deb -c "$deb")
fail=0
for path in ./usr/bin/corvane-dbx ./usr/bin/corvane-recovery ./usr/share/applications/corvane-recovery.desktop \
            ./usr/share/icons/hicolor/scalable/apps/corvane-recovery.svg ./usr/share/man/man1/corvane-dbx.1 \
            ./usr/share/doc/corvane-recovery/help.html; do
  grep -q " $path\$" <<<"$contents" || { echo "missing from the package: $path"; fail=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 'libqt6widgets6' 'libqt6svg6' 'libstdc++6'; do
  grep -q "$lib" <<<"$depends" || { echo "not declared: $lib (Depends: $depends)"; fail=1; }
done
[ "$(dpkg-deb -f "$deb" Package)" = corvane-recovery ] || { echo "wrong package name"; fail=1; }
[ $fail -eq 0 ] && echo "package $deb holds the programs and declares: $depends"
exit $fail
