#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: 64-bit, headless, quiet, in the
# given Wine prefix, which is made on first use (that takes a while).
#
#   wine-exec.sh PREFIX PROGRAM [ARGUMENT...]
#
# TOLVENMIRE_WINE64 names the wine64 loader when it is not the usual one.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
prefix=$1
shift

wine=${TOLVENMIRE_WINE64:-}
if [ -z "$wine" ]; then
    for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            wine=$candidate
            break
        fi
    done
fi
if [ -z "$wine" ] || [ ! -x "$wine" ]; then
    echo "error: wine64 not found (Debian package wine64; /usr/lib/wine/wine64). The Windows tests run under it." >&2
    exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Headless: no window is ever opened, whatever the session has.
unset DISPLAY WAYLAND_DISPLAY

if [ ! -e "$prefix/.tolvenmire-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    # Test programs may start in parallel: one makes the prefix, the others wait.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -e "$prefix/.tolvenmire-ready" ]; then
        rm -rf "$prefix"
        if ! "$wine" wineboot --init >"$prefix.log" 2>&1; then
            echo "error: could not make the Wine prefix $prefix; wineboot said:" >&2
            cat "$prefix.log" >&2
            exit 1
        fi
        touch "$prefix/.tolvenmire-ready"
    fi
    flock -u 9
    exec 9>&-
fi

exec "$wine" "$@"
