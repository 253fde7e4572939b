#!/usr/bin/env bash
# Recordings across the two builds, with the player's package as a player gets it:
# every shipped scenario recorded by the zip's Tolvenmire.asi in the Windows build
# of tolvenmire-sim under Wine and replayed by the Linux build; and scenarios
# recorded by the Linux build and replayed by the zip's DLL under Wine. Each replay
# must end with no difference and tell the scenario's own timeline
# (tests/replay/round_trip.sh says which lines a replay cannot tell). Then random
# sessions with key presses from inside frames, in bursts and before the start,
# recorded by each build and replayed by the other.
#
#   replay_package.sh PART ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#
# PART is one of the three, so that they run side by side: on-windows (every
# scenario recorded under Wine, replayed on Linux), on-linux (three scenarios
# recorded on Linux, replayed under Wine), random (the random sessions, both ways).
#
# EMULATOR runs a Windows program (cmake/wine-exec.sh PREFIX).
set -euo pipefail

if [ $# -lt 7 ]; then
    echo "usage: $0 on-windows|on-linux|random ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR..." >&2
    exit 2
fi
part=$1
shift
case $part in
on-windows | on-linux | random) ;;
*)
    echo "$0: no part $part (on-windows, on-linux or random)" >&2
    exit 2
    ;;
esac
zip=$1
sim_exe=$2
linux_sim=$3
scenarios=$4
work=$5
shift 5
emulator="$*"
round_trip=$(dirname "$0")/../replay/round_trip.sh

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

[ -f "$zip" ] || fail "$zip: no such file (the tolvenmire_package target makes it)"
[ -f "$sim_exe" ] || fail "$sim_exe: no such file"
[ -x "$linux_sim" ] || fail "$linux_sim: not built; the Windows recordings are replayed by the Linux build's" \
    "(cmake --preset quick && cmake --build --preset quick --target tolvenmire-sim; scripts/test-windows.sh builds it)"

rm -rf "$work"
game=$work/game
mkdir -p "$game"
unzip -q "$zip" -d "$game"
windows="$emulator $sim_exe --plugin $game/Tolvenmire.asi"

status=0
if [ "$part" = on-windows ]; then
    echo "Recorded by the zip's DLL under Wine, replayed on Linux:"
    bash "$round_trip" "$work/on-windows" "$windows" "$linux_sim" "$scenarios"/*.txt || status=1
fi
if [ "$part" = on-linux ]; then
    echo "Recorded on Linux, replayed by the zip's DLL under Wine:"
    bash "$round_trip" "$work/on-linux" "$linux_sim" "$windows" \
        "$scenarios/evening.txt" "$scenarios/refill-every-saloon.txt" "$scenarios/pass-out.txt" || status=1
fi

# Random sessions whose key presses come from inside a native call of the frame, in
# bursts of 300 between two frames, and before the first frame: recorded by one
# build, replayed by the other with no difference.
random_trip() { # NAME RECORDER REPLAYER
    local name=$1 recorder=$2 replayer=$3 keys seed recording rc
    for keys in inside bursts before-start; do
        for seed in 1 2; do
            recording=$work/random/$name-$keys-$seed.rec
            rc=0
            $recorder --random --seed "$seed" --keys "$keys" --minutes 1 --record "$recording" \
                >"$recording.played" 2>&1 || rc=$?
            if [ $rc -ne 0 ] || [ ! -f "$recording" ]; then
                echo "FAILED: random $keys seed $seed: recording it exited with status $rc" >&2
                cat "$recording.played" >&2
                status=1
                continue
            fi
            rc=0
            $replayer --replay "$recording" --no-pictures >"$recording.replayed" 2>&1 || rc=$?
            if [ $rc -ne 0 ]; then
                echo "FAILED: random $keys seed $seed: the replay exited with status $rc" >&2
                sed -n '/departs from the recording/,$p' "$recording.replayed" >&2
                status=1
                continue
            fi
            echo "ok: random $keys seed $seed"
        done
    done
}
if [ "$part" = random ]; then
    mkdir -p "$work/random"
    echo "Random sessions recorded by the zip's DLL under Wine, replayed on Linux:"
    random_trip on-windows "$windows" "$linux_sim"
    echo "Random sessions recorded on Linux, replayed by the zip's DLL under Wine:"
    random_trip on-linux "$linux_sim" "$windows"
fi
exit $status
