#!/usr/bin/env bash
# Builds the Windows plug-in (Tolvenmire.asi), the stand-in host as
# ScriptHookRDR2.dll and the test programs with the MinGW-w64 cross compiler, and
# runs every test against the real DLL under Wine: headless, in a fresh Wine
# prefix inside the build folder, with Wine's own loader, settings-file reader and
# file system; and plays the player's package from its zip (the evening, compared
# with the Linux build's). What the Windows build is held against is the Linux
# build of the quick loop's (build/quick: gcc at -O1, no sanitizers): its
# tolvenmire-sim, the file readers, and the replay of the recordings the kill tests
# leave. Installs
# what it needs when run as root.
# Arguments go to ctest (for instance -R KeyWindow).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${PACKAGE_PACKAGES[@]}" "${BUILD_PACKAGES[@]}" wine64

build=build/windows
prefix=$PWD/$build/wine
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
if [ -z "$wine64" ]; then
    echo "error: wine64 is installed but its loader is neither /usr/lib/wine/wine64 nor on PATH" >&2
    exit 1
fi
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)

cmake --preset windows >/dev/null
cmake --build --preset windows -j2
# What of the Linux build the Windows tests use (nothing to do after scripts/test.sh).
[ -f build/quick/build.ninja ] || cmake --preset quick >/dev/null
cmake --build --preset quick -j2 --target tolvenmire-sim kill_replay reader_answers

# The Wine processes of this prefix end with the run, however it ends.
stop_wine() {
    if [ -n "$wineserver" ] && [ -d "$prefix" ]; then
        WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
        WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true
    fi
}
trap stop_wine EXIT

stop_wine
rm -rf "$prefix" "$prefix.lock" "$prefix.log"
started=$(date +%s.%N)
# Made here rather than by the first test, so that listing the test cases does
# not wait for it.
TOLVENMIRE_WINE64=$wine64 cmake/wine-exec.sh "$prefix" cmd /c exit 0 >/dev/null
# One Wine server for the whole run. Left to itself the server ends whenever no
# Windows program runs (while the tests running are at their Linux parts), and a
# program started as it ends cannot reach it ("a wine server seems to be running,
# but I cannot connect to it"), or does not start at all. The prefix's first server
# is let end; this one stays, and so do the system processes (services and the
# like) that the first program under it starts: they are started here, with their
# output nowhere, since they hold open the output of whatever program starts them
# (a test's listing of its cases would wait for them).
if [ -n "$wineserver" ]; then
    WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true
    WINEPREFIX=$prefix "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    TOLVENMIRE_WINE64=$wine64 cmake/wine-exec.sh "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
fi
prepared=$(date +%s.%N)

status=0
TOLVENMIRE_WINE64=$wine64 ctest --preset windows -j2 "$@" || status=$?
finished=$(date +%s.%N)

awk -v s="$started" -v p="$prepared" -v f="$finished" \
    'BEGIN { printf "Wine: prefix made in %.1f s, tests run in %.1f s\n", p - s, f - p }'
exit $status
