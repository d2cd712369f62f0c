#!/usr/bin/env bash
# Takes docs/screenshot-windows.png: the Windows window under Wine and Xvfb
# with samples/demo.dbx loaded, deleted messages included.
#   scripts/screenshot-windows.sh [cross-build folder]
# (after cmake --build <folder> --target window_screenshot_win32)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd)
tool="$build/tests/window_screenshot_win32.exe"
[ -f "$tool" ] || { echo "build window_screenshot_win32 first: cmake --build $build --target window_screenshot_win32" >&2; exit 1; }
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The sample in a neutral place, so that the tree shows no path of this machine.
mkdir -p "$WINEPREFIX/drive_c/Mail"
cp "$root/samples/demo.dbx" "$WINEPREFIX/drive_c/Mail/demo.dbx"
# Wine's programs of the prefix start on the virtual display; without a
# window manager there, Wine draws the captions itself.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
"$wineserver" -k 2>/dev/null || true
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true
  "$1" "$2" "C:\\Mail\\demo.dbx" window.bmp
  status=$?
  "$3" -k 2>/dev/null || true
  exit $status
' _ "$wine" "$tool" "$wineserver")
convert "$work/window.bmp" "$root/docs/screenshot-windows.png"
echo "wrote $root/docs/screenshot-windows.png"
