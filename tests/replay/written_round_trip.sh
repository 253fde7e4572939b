#!/usr/bin/env bash
# A session written as a scenario (--to-scenario) must give the same session: a
# shipped scenario recorded by this build, or a kept recording, is written as a
# scenario with nothing left out (exit status 0), the written scenario passes
# --check, and played it tells what the plug-in did line for line as the original
# told it (the scenario played, or the recording replayed; timeline_lines.sh says
# which lines only the world can tell).
#
#   written_round_trip.sh WORK SIM scenario FILE.txt
#   written_round_trip.sh WORK SIM recording FILE.rec
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 WORK SIM scenario|recording FILE" >&2
    exit 2
fi
work=$1 sim=$2 kind=$3 file=$4
. "$(dirname "$0")/timeline_lines.sh"
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAILED: $file: $*" >&2
    exit 1
}

# The runs of the session, and how the original tells it.
if [ "$kind" = scenario ]; then
    status=0
    "$sim" "$file" --record "$work/session.rec" --no-pictures >"$work/told" 2>"$work/told.err" || status=$?
    [ $status -le 1 ] && [ -f "$work/session.rec" ] || fail "recording it exited with status $status"
    runs=("$work/session.rec")
    for n in 2 3 4 5 6 7 8 9; do
        [ -f "$work/session.rec.$n" ] && runs+=("$work/session.rec.$n")
    done
else
    runs=("$file")
    "$sim" --replay "$file" --no-pictures >"$work/told" 2>"$work/told.err" || fail "the replay exited with status $?"
fi

status=0
"$sim" --replay "${runs[@]}" --to-scenario "$work/written.txt" >"$work/write.out" 2>"$work/write.err" || status=$?
if [ $status -ne 0 ]; then
    cat "$work/write.out" "$work/write.err" >&2
    fail "writing it as a scenario exited with status $status"
fi
"$sim" "$work/written.txt" --check --no-pictures >"$work/check" 2>&1 || {
    cat "$work/check" >&2
    fail "the written scenario fails --check"
}
"$sim" "$work/written.txt" --no-pictures >"$work/written.told" 2>&1 || fail "the written scenario does not play"
plugin_lines "$work/told" >"$work/told.lines"
plugin_lines "$work/written.told" >"$work/written.lines"
if ! diff -u "$work/told.lines" "$work/written.lines" >"$work/diff"; then
    head -n 40 "$work/diff" >&2
    fail "the written scenario's timeline is not the session's"
fi
echo "ok: $(basename "$file"): $(wc -l <"$work/written.lines") lines of the plug-in, $(grep -c ' expect ' "$work/written.txt") expectations, ${#runs[@]} run(s)"
