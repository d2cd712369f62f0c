#!/usr/bin/env bash
# Runs Debian's package checker on the packages made by make_debs.sh and fails
# on any error or warning; informational tags are shown, not counted.
#   lintian_debs.sh <packages folder>
set -euo pipefail
out=$1
command -v lintian >/dev/null || { echo "lintian is not installed (scripts/setup.sh installs it)"; exit 1; }
report=$(lintian --info --display-info --fail-on none "$out"/*.deb 2>&1 | grep -v 'running with root privileges' || true)
echo "$report" | grep -E '^[EWI]: ' || true
if grep -qE '^[EW]: ' <<<"$report"; then
  echo "lintian reports errors or warnings:"
  echo "$report"
  exit 1
fi
echo "lintian: no errors, no warnings"
