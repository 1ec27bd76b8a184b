#!/usr/bin/env bash
# Runs the Windows conformance host under 64-bit Wine, in a throw-away prefix:
#   run_under_wine.sh HOST_EXE MODULE FIXTURE_FOLDER [gtest flags]
set -euo pipefail
host=$1 module=$2 fixtures=$3
shift 3
wine=${BRISVANDER_WINE64:-/usr/lib/wine/wine64}
wineserver=${BRISVANDER_WINESERVER:-/usr/lib/wine/wineserver}
fail() { echo "run_under_wine: $*" >&2; exit 1; }

[ -x "$wine" ] || fail "no 64-bit Wine loader at $wine (scripts/install-deps.sh installs wine64)"
[ -f "$host" ] || fail "no host at $host (built by the windows-x64 preset)"
[ -f "$module" ] || fail "no module at $module"
[ -d "$fixtures" ] || fail "no fixture folder at $fixtures"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/brisvander-wine.XXXXXX")
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer offers, and no window: the run has no display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT

# The first start makes the prefix; wait for it to settle before the host uses its registry.
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w

# Wine maps drive Z: to the Unix root.
windowsPath() {
    local path
    path=$(realpath "$1")
    printf 'Z:%s' "${path//\//\\}"
}

status=0
# The console writes CR LF; ctest shows the lines as they are on Linux.
"$wine" "$(windowsPath "$host")" "$(windowsPath "$module")" "$(windowsPath "$fixtures")" "$@" |
    tr -d '\r' || status=$?
"$wineserver" -w
exit "$status"
