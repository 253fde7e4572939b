#!/usr/bin/env bash
# Instructions per frame of each benchmark state, counted by callgrind (a figure
# that, unlike a time, does not drift with the load of a shared machine).
#
#   bench/callgrind.sh [--recording] [BUILD_FOLDER]     (default build/bench; the bench preset)
#
# With --recording the session is recorded meanwhile (RECORD_SESSION=1), and each
# frame also counts the script loop's wait, where the recorder ends the frame and
# puts its blocks out.
#
# For each state it plays a fixed number of frames under callgrind, collecting only
# inside TickUpdate (or onKeyboardEvent), and splits the instructions between the
# plug-in's own code, the flat script hook's nine functions and the C library
# (clock_gettime behind the Linux GetTickCount).
set -euo pipefail
cd "$(dirname "$0")/.."
recording=
if [ "${1:-}" = --recording ]; then
    recording=--recording
    shift
fi
build=${1:-build/bench}
bench=$build/bench/tolvenmire_bench
if [ ! -x "$bench" ]; then
    echo "error: $bench is missing; build it with: cmake --preset bench && cmake --build --preset bench --target tolvenmire_bench" >&2
    exit 1
fi
command -v valgrind >/dev/null || { echo "error: valgrind is missing (Debian package valgrind)" >&2; exit 1; }

frames=20000
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

printf '| state | natives per frame | instructions per frame | plug-in | script hook | C library |\n'
printf '|---|---:|---:|---:|---:|---:|\n'
for state in $("$bench" --list | awk '{print $1}'); do
    waits=()
    if [ -n "$recording" ]; then
        [ "$state" = keyboard_event ] && continue
        waits=(--toggle-collect='*recWait*')
    fi
    if [ "$state" = keyboard_event ]; then
        collect='onKeyboardEvent(*'
        calls=$frames
        natives=0
    else
        collect='TickUpdate()'
        calls=$((frames + 1)) # the frame that settles the state is collected too
        natives=$("$bench" --frames "$state" 1 | sed -E 's/.*, ([0-9.]+) natives per frame/\1/')
    fi
    valgrind --tool=callgrind --callgrind-out-file="$out/$state" --toggle-collect="$collect" "${waits[@]}" \
        "$bench" --frames "$state" "$frames" $recording >/dev/null 2>&1
    callgrind_annotate --inclusive=no --threshold=100 "$out/$state" 2>/dev/null | awk -v calls="$calls" \
        -v state="$state" -v natives="$natives" '
        /^ *[0-9,]+ +\(/ && /:/ && !/PROGRAM TOTALS/ {
            n = $1; gsub(",", "", n)
            if ($0 ~ /(nativeInit|nativePush64|nativeCall|getGlobalPtr|scriptWait)\(/) host += n
            else if ($0 ~ /\[[^]]*(libc|ld-linux|vdso)[^]]*\]/) sys += n
            else own += n
        }
        END {
            printf "| %s | %s | %.0f | %.0f | %.0f | %.0f |\n", state, natives, (own + host + sys) / calls,
                   own / calls, host / calls, sys / calls
        }'
done
