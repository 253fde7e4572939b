#!/usr/bin/env bash
# Scenarios recorded by one build and replayed by another: each scenario is played
# with --record by RECORDER, the recording replayed with --replay by REPLAYER, and
# the replay must end with no difference (exit status 0) and tell the scenario's own
# timeline.
#
#   round_trip.sh WORK "RECORDER..." "REPLAYER..." SCENARIO...
#
# RECORDER and REPLAYER are commands that run a tolvenmire-sim, with their own
# --plugin if any (for instance "cmake/wine-exec.sh PREFIX tolvenmire-sim.exe
# --plugin Tolvenmire.asi"); each is split on blanks.
#
# The timelines are compared line for line, without what a replay cannot tell
# because the recording holds the plug-in's conversation with the game and not the
# world (timeline_lines.sh says which lines). Every line about what the plug-in did
# must be the same, at the same time.
set -euo pipefail

if [ $# -lt 4 ]; then
    echo "usage: $0 WORK RECORDER REPLAYER SCENARIO..." >&2
    exit 2
fi
work=$1
read -r -a recorder <<<"$2"
read -r -a replayer <<<"$3"
shift 3

rm -rf "$work"
mkdir -p "$work"
failed=0

. "$(dirname "$0")/timeline_lines.sh"

for scenario in "$@"; do
    name=$(basename "$scenario" .txt)
    recording=$work/$name.rec
    status=0
    "${recorder[@]}" "$scenario" --record "$recording" --no-pictures >"$work/$name.played" 2>"$work/$name.played.err" ||
        status=$?
    # A scenario whose expectations fail still records; the recording is what counts.
    if [ $status -gt 1 ] || [ ! -f "$recording" ]; then
        echo "FAILED: $name: recording it exited with status $status" >&2
        cat "$work/$name.played.err" >&2
        failed=1
        continue
    fi
    # The runs after a restart are recorded one a file: replayed one after the other.
    runs=("$recording")
    for n in 2 3 4 5 6 7 8 9; do
        [ -f "$recording.$n" ] && runs+=("$recording.$n")
    done
    status=0
    "${replayer[@]}" --replay "${runs[@]}" --no-pictures >"$work/$name.replayed" 2>"$work/$name.replayed.err" ||
        status=$?
    if [ $status -ne 0 ]; then
        echo "FAILED: $name: the replay exited with status $status" >&2
        sed -n '/departs from the recording/,$p' "$work/$name.replayed" >&2
        cat "$work/$name.replayed.err" >&2
        failed=1
        continue
    fi
    plugin_lines "$work/$name.played" >"$work/$name.played.lines"
    plugin_lines "$work/$name.replayed" >"$work/$name.replayed.lines"
    if ! diff -u "$work/$name.played.lines" "$work/$name.replayed.lines" >"$work/$name.diff"; then
        echo "FAILED: $name: the replay's timeline is not the scenario's:" >&2
        head -n 40 "$work/$name.diff" >&2
        failed=1
        continue
    fi
    echo "ok: $name ($(wc -l <"$work/$name.replayed.lines") lines, ${#runs[@]} run(s))"
done
exit $failed
