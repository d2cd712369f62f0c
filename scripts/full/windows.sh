#!/usr/bin/env bash
# Part of ./test.sh --full: the Windows build. Cross-builds the engine, its
# test programs, the command-line program corvane-dbx and the window
# corvane-recovery (the Windows controls) with MinGW-w64 into build-windows/,
# runs every engine test program under Wine (headless, in a Wine prefix of
# its own inside build-windows/), the window's test driver under Wine on a
# virtual display (xvfb-run), makes the zip for Windows users (cpack -G ZIP),
# then runs corvane-dbx under Wine on samples/demo.dbx and compares its
# listing and its exported files byte for byte with those of the native build.
set -euo pipefail
CORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$CORVANE_ROOT/scripts/setup.sh"

corvane_install g++-mingw-w64-x86-64-posix wine64 googletest xvfb xauth unzip

build="$CORVANE_ROOT/build-windows"
native="$CORVANE_ROOT/build"
sample="samples/demo.dbx"

# Debian's wine64 package puts its loader outside PATH (the wine package,
# which would add /usr/bin/wine, also wants the 32-bit half).
wine=$(command -v wine64 || command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
[ -n "$wine" ] || { echo "windows: no Wine loader found" >&2; exit 1; }
wineserver=$(command -v wineserver || true)
[ -z "$wineserver" ] && [ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64

# Headless and quiet: no display, no debug channels, no offer to install
# .NET or the HTML engine into the prefix.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine takes the ANSI code page from the locale: Windows-1252, as in the
# native build's text handling.
export LANG=C.UTF-8
unset LC_ALL

stop_wineserver() {
  [ -n "$wineserver" ] && [ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null || true
}
trap stop_wineserver EXIT

cmake -S "$CORVANE_ROOT" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$CORVANE_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_BUILD_GUI=ON -DCORVANE_BUILD_BENCH=OFF \
  -DCORVANE_WERROR="${CORVANE_WERROR:-OFF}" \
  -DCORVANE_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null
cmake --build "$build" -j "$(nproc)" -- --no-print-directory

# The first start of Wine makes the prefix (about ten seconds); do it once
# here so that no test's time limit pays for it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows: creating the Wine prefix"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w 2>/dev/null || true
fi

echo "windows: engine tests under Wine"
(
  cd "$build"
  ctest --output-on-failure -j "$(nproc)" -LE window
)

# The window's driver makes real windows: Wine wants a display for them, a
# virtual one here, so that nothing shows on the user's screen. With no
# window manager there, Wine's windows are its own (Managed=N): it then does
# not wait for one at each window that goes.
echo "windows: the window's test driver under Wine and Xvfb"
"$wineserver" -w 2>/dev/null || true
(
  cd "$build"
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    "$1" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    ctest --output-on-failure -L window
    status=$?
    "$2" -k 2>/dev/null || true
    exit $status
  ' _ "$wine" "$wineserver"
)

# The zip for Windows users: both programs (stripped), the help page, README
# and LICENSE.
echo "windows: the zip"
(
  cd "$build"
  rm -f corvane-recovery-*-win64.zip
  cpack -G ZIP >/dev/null
  zip_file=$(ls corvane-recovery-*-win64.zip)
  size=$(stat -c %s "$zip_file")
  [ "$size" -le $((10 * 1024 * 1024)) ] || { echo "windows: $zip_file is $size bytes, more than 10 MB" >&2; exit 1; }
  # The listing is read whole first: unzip writes it line by line, and a
  # grep -q that stops at its match would end unzip with SIGPIPE, which
  # pipefail reports as a failure.
  listing=$(unzip -l "$zip_file")
  for f in corvane-recovery.exe corvane-dbx.exe help.html README.md LICENSE; do
    grep -q "/$f\$" <<<"$listing" || { echo "windows: $zip_file lacks $f" >&2; exit 1; }
  done
  echo "windows: $zip_file, $size bytes"
)

# corvane-dbx under Wine against the native build, byte for byte.
if [ ! -d "$CORVANE_ROOT/src/corvane-dbx" ]; then
  echo "windows: corvane-dbx end-to-end run skipped: src/corvane-dbx is not in this tree"
  exit 0
fi
# The program, wherever src/CMakeLists.txt puts it (src/ or src/corvane-dbx/).
find_program_file() {
  local f
  for f in "$@"; do [ -f "$f" ] && { echo "$f"; return 0; }; done
  return 1
}
dbx_exe=$(find_program_file "$build/src/corvane-dbx.exe" "$build/src/corvane-dbx/corvane-dbx.exe") ||
  { echo "windows: corvane-dbx.exe was not built" >&2; exit 1; }
dbx_native=$(find_program_file "$native/src/corvane-dbx" "$native/src/corvane-dbx/corvane-dbx" || true)
if [ -z "$dbx_native" ] || [ -d "$dbx_native" ]; then
  [ -f "$native/CMakeCache.txt" ] || corvane_install
  [ -f "$native/CMakeCache.txt" ] || cmake -S "$CORVANE_ROOT" -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$native" -j "$(nproc)" --target corvane-dbx -- --no-print-directory
  dbx_native=$(find_program_file "$native/src/corvane-dbx" "$native/src/corvane-dbx/corvane-dbx")
fi

echo "windows: corvane-dbx end to end under Wine"
work="$build/dbx-e2e"
rm -rf "$work"
mkdir -p "$work/native-out" "$work/windows-out"
cd "$CORVANE_ROOT"
# A run of the program under Wine; the output goes to the file $1. Wine has
# been seen to end a program's first start after the tests with status 1 and
# no output at all; such a run is reported and made once more.
wine_run() {
  local out=$1 status=0
  shift
  "$wine" "$dbx_exe" "$@" >"$out" 2>"$work/wine-stderr" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "windows: corvane-dbx $1 under Wine ended with status $status; once more. Its errors:" >&2
    cat "$work/wine-stderr" >&2
    wait_wineserver
    "$wine" "$dbx_exe" "$@" >"$out"
  fi
}
wait_wineserver() { [ -z "$wineserver" ] || "$wineserver" -w 2>/dev/null || true; }
wait_wineserver  # the tests' Wine server gone before the program starts
"$dbx_native" list --deleted --format csv "$sample" >"$work/native.csv"
wine_run "$work/windows.csv" list --deleted --format csv "$sample"
cmp "$work/native.csv" "$work/windows.csv"
"$dbx_native" export --deleted --out "$work/native-out" "$sample" >/dev/null
wine_run /dev/null export --deleted --out "${work#"$CORVANE_ROOT/"}/windows-out" "$sample"
native_files=$(cd "$work/native-out" && ls | LC_ALL=C sort)
windows_files=$(cd "$work/windows-out" && ls | LC_ALL=C sort)
[ -n "$native_files" ] || { echo "windows: the native export wrote no file" >&2; exit 1; }
[ "$native_files" = "$windows_files" ] || {
  echo "windows: the exports differ in their file names" >&2
  diff <(echo "$native_files") <(echo "$windows_files") >&2 || true
  exit 1
}
while IFS= read -r name; do
  cmp "$work/native-out/$name" "$work/windows-out/$name"
done <<<"$native_files"
echo "windows: corvane-dbx gave the same listing ($(wc -l <"$work/native.csv") lines) and the same $(echo "$native_files" | wc -l) exported files"
