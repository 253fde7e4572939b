#!/usr/bin/env bash
# Recordings across the two builds, with the player's package as a player gets it:
# every shipped scenario recorded by the zip's Tolvenmire.asi in the Windows build
# of tolvenmire-sim under Wine and replayed by the Linux build; and scenarios
# recorded by the Linux build and replayed by the zip's DLL under Wine. Each replay
# must end with no difference and tell the scenario's own timeline
# (tests/replay/round_trip.sh says which lines a replay cannot tell).
#
#   replay_package.sh ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#
# EMULATOR runs a Windows program (cmake/wine-exec.sh PREFIX).
set -euo pipefail

if [ $# -lt 6 ]; then
    echo "usage: $0 ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR..." >&2
    exit 2
fi
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
    "(cmake --preset debug && cmake --build --preset debug --target tolvenmire-sim)"

rm -rf "$work"
game=$work/game
mkdir -p "$game"
unzip -q "$zip" -d "$game"
windows="$emulator $sim_exe --plugin $game/Tolvenmire.asi"

status=0
echo "Recorded by the zip's DLL under Wine, replayed on Linux:"
bash "$round_trip" "$work/on-windows" "$windows" "$linux_sim" "$scenarios"/*.txt || status=1
echo "Recorded on Linux, replayed by the zip's DLL under Wine:"
bash "$round_trip" "$work/on-linux" "$linux_sim" "$windows" \
    "$scenarios/evening.txt" "$scenarios/refill-every-saloon.txt" "$scenarios/pass-out.txt" || status=1
exit $status
