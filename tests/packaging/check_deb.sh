#!/usr/bin/env bash
# Checks the two Debian packages made by make_debs.sh: each holds its own files
# and only those, manual pages and changelogs compressed, programs stripped;
# corvane-dbx depends on no Qt library, corvane-recovery on the Qt it links
# and recommends xdg-utils; the packaged programs tell the version.
#   check_deb.sh <packages folder> <version>
set -euo pipefail
out=$1
version=$2
arch=$(dpkg --print-architecture)
cli="$out/corvane-dbx_${version}_${arch}.deb"
gui="$out/corvane-recovery_${version}_${arch}.deb"
fail=0
problem() { echo "$*"; fail=1; }

[ "$(ls "$out"/*.deb | wc -l)" -eq 2 ] || problem "expected two packages, found: $(ls "$out"/*.deb)"
for deb in "$cli" "$gui"; do
  [ -f "$deb" ] || { echo "missing package: $deb"; exit 1; }
done

# holds <deb> <path>...: each path is in the package.
holds() {
  local deb=$1; shift
  local contents
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "$path" <<<"$contents" || problem "$(basename "$deb") lacks $path"
  done
}
# lacks <deb> <regex>...: no path of the package matches.
lacks() {
  local deb=$1; shift
  local contents
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for pattern in "$@"; do
    if grep -qE "$pattern" <<<"$contents"; then problem "$(basename "$deb") holds $(grep -E "$pattern" <<<"$contents" | head -1)"; fi
  done
}

holds "$cli" ./usr/bin/corvane-dbx ./usr/share/man/man1/corvane-dbx.1.gz \
  ./usr/share/doc/corvane-dbx/copyright ./usr/share/doc/corvane-dbx/changelog.gz
lacks "$cli" 'corvane-recovery' '\.1$' '/help\.html$'
holds "$gui" ./usr/bin/corvane-recovery ./usr/share/man/man1/corvane-recovery.1.gz \
  ./usr/share/applications/corvane-recovery.desktop \
  ./usr/share/metainfo/example.corvane.Recovery.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/corvane-recovery.svg \
  ./usr/share/corvane-recovery/help.html ./usr/share/mime/packages/corvane-recovery.xml \
  ./usr/share/doc/corvane-recovery/copyright ./usr/share/doc/corvane-recovery/changelog.gz
lacks "$gui" 'bin/corvane-dbx$' 'corvane-dbx\.1' '\.1$' '/usr/share/doc/corvane-recovery/help\.html$'

for deb in "$cli" "$gui"; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || problem "$(basename "$deb"): version $(dpkg-deb -f "$deb" Version)"
done
[ "$(dpkg-deb -f "$cli" Package)" = corvane-dbx ] || problem "wrong package name in $cli"
[ "$(dpkg-deb -f "$gui" Package)" = corvane-recovery ] || problem "wrong package name in $gui"

cli_depends=$(dpkg-deb -f "$cli" Depends)
if grep -qi 'qt' <<<"$cli_depends"; then problem "corvane-dbx depends on Qt: $cli_depends"; fi
for lib in libc6 libstdc++6; do
  grep -q "$lib" <<<"$cli_depends" || problem "corvane-dbx does not declare $lib (Depends: $cli_depends)"
done
gui_depends=$(dpkg-deb -f "$gui" Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6; do
  grep -q "$lib" <<<"$gui_depends" || problem "corvane-recovery does not declare $lib (Depends: $gui_depends)"
done
grep -qx 'xdg-utils' <<<"$(dpkg-deb -f "$gui" Recommends)" || problem "corvane-recovery does not recommend xdg-utils"

# What the packages unpack to: compressed pages, stripped programs that run.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$cli" "$root"
dpkg-deb -x "$gui" "$root"
for gz in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/*/changelog.gz; do
  gzip -t "$gz" || problem "not a gzip file: $gz"
done
# Whole texts are searched, not pipes: a grep -q that stops at its match
# ends the writer by SIGPIPE, which pipefail would take for a failure.
grep -q '^\.SH OPTIONS' <<<"$(zcat "$root/usr/share/man/man1/corvane-dbx.1.gz")" || problem "corvane-dbx(1) has no OPTIONS"
for program in corvane-dbx corvane-recovery; do
  grep -q ', stripped' <<<"$(file -b "$root/usr/bin/$program")" || problem "$program is not stripped: $(file -b "$root/usr/bin/$program")"
  said=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/$program" --version) ||
    problem "$program --version failed"
  [ "$said" = "$program $version" ] || problem "$program --version says: $said"
done

[ $fail -eq 0 ] && echo "packages hold their files; corvane-dbx depends on: $cli_depends"
exit $fail
