#!/usr/bin/env bash
# Builds the plug-in and the session player, then plays a session in the stand-in
# host and prints what the plug-in did. With no arguments it plays the evening in
# scenarios/evening.txt and writes its chart and HUD picture into out/. Arguments go
# to tolvenmire-sim (try --help). Installs what it needs when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}"

# Only what playing needs: the plug-in and the player. The log is kept for a failure.
mkdir -p build
log=build/play-build.log
if ! { cmake --preset release && cmake --build --preset release -j2 --target tolvenmire-sim; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "error: the build failed; the whole log is in $log" >&2
    exit 1
fi
if [ $# -eq 0 ]; then
    set -- scenarios/evening.txt
fi
exec build/release/tolvenmire-sim "$@"
