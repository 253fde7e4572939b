#!/usr/bin/env bash
# Builds the plug-in and the session player, then plays a session in the stand-in
# host and prints what the plug-in did. With no arguments it plays the evening in
# scenarios/evening.txt and writes its chart and HUD picture into out/. Arguments go
# to tolvenmire-sim (try --help). Installs what it needs when run as root.
#
# What it is doing meanwhile (the packages, the build with ninja's [n/N] counter)
# goes to standard error, so that the timeline alone can be sent to a file; the
# build's whole log is kept in build/play-build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

say() { echo "$*" >&2; }

say "== Debian packages for the build: ${BUILD_PACKAGES[*]}"
need_packages "${BUILD_PACKAGES[@]}"

mkdir -p build
log=build/play-build.log
: >"$log"
failed() {
    tail -n 40 "$log" >&2
    say "error: the build failed; the whole log is in $log"
    exit 1
}

# ninja's progress lines as they come: on a terminal one line rewritten in place,
# otherwise each on its own line.
progress() {
    local line width=${COLUMNS:-80}
    if [ -t 2 ]; then
        while IFS= read -r line; do
            [[ $line == \[*/*\]* ]] || continue
            printf '\r\033[K%s' "${line:0:$((width - 1))}" >&2
        done
        printf '\r\033[K' >&2
    else
        while IFS= read -r line; do
            [[ $line == \[*/*\]* ]] && say "$line"
        done
    fi
    return 0
}

# Only what playing needs: the plug-in and the player, optimised (build/release).
if [ ! -f build/release/build.ninja ]; then
    say "== Configuring the release build (build/release)"
    cmake --preset release >>"$log" 2>&1 || failed
fi
say "== Building the plug-in (Tolvenmire.so) and the session player (tolvenmire-sim)"
started=$SECONDS
if ! cmake --build --preset release -j2 --target tolvenmire-sim 2>&1 | tee -a "$log" | progress; then
    failed
fi
say "   built in $((SECONDS - started)) s"

if [ $# -eq 0 ]; then
    set -- scenarios/evening.txt
fi
say "== Playing: tolvenmire-sim $*"
exec build/release/tolvenmire-sim "$@"
