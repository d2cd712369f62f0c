#!/usr/bin/env bash
# Checks what describes the window to the desktop:
#   check_appstream.sh <packaging folder> <version>
# - appstreamcli validate accepts the AppStream metainfo file, whose newest
#   release is the program's version and whose launchable is the desktop entry;
# - the desktop entry starts the program with the files it was given, any
#   number of them (%F), as the program takes them.
set -euo pipefail
dir=$1 version=$2
metainfo=$dir/example.corvane.Recovery.metainfo.xml
desktop=$dir/corvane-recovery.desktop
status=0
problem() { echo "problem: $*"; status=1; }

command -v appstreamcli >/dev/null || { echo "appstreamcli is not installed (scripts/setup.sh installs appstream)"; exit 1; }
appstreamcli validate --no-net "$metainfo" || problem "appstreamcli validate refuses $metainfo"
newest=$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[ "$newest" = "$version" ] || problem "the newest release in the metainfo is $newest, the program is $version"
grep -q '<launchable type="desktop-id">corvane-recovery.desktop</launchable>' "$metainfo" ||
  problem "the metainfo does not launch corvane-recovery.desktop"
exec_line=$(grep '^Exec=' "$desktop")
[ "$exec_line" = "Exec=corvane-recovery %F" ] || problem "desktop entry: $exec_line (the program takes any number of files: %F)"
# The program takes any number of files (corvane-recovery [FILE.dbx...]).
grep -q 'corvane-recovery \[FILE.dbx\.\.\.\]' "$dir/corvane-recovery.1" "$dir/../src/mailsession/StartArguments.cpp" ||
  problem "the program's usage no longer reads [FILE.dbx...]"
[ $status -eq 0 ] && echo "metainfo valid, release $newest, Exec takes files as the program does"
exit $status
