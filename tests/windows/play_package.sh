#!/usr/bin/env bash
# Plays the player's package as a player gets it: the zip unpacked into a fresh
# folder, as into the game's folder, and its Tolvenmire.asi loaded by the Windows
# build of tolvenmire-sim under Wine.
#
#   play_package.sh evening  ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#     plays SCENARIOS/evening.txt: every expectation must pass, and the timeline and
#     the two pictures must be those of the Linux build's tolvenmire-sim (LINUX_SIM)
#     line for line. Only the plug-in's path and the wall-clock time may differ (and
#     Windows' CRLF line ends on the console). Then SCENARIOS/refill-every-saloon.txt:
#     eight refills, Van Horn's served in her barmaid's voice.
#   play_package.sh settings ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#     a short session with the zip's Tolvenmire.ini as it is must be the same
#     session as one with no settings file at all: every setting at its default.
#
# EMULATOR runs a Windows program (cmake/wine-exec.sh PREFIX).
set -euo pipefail

if [ $# -lt 7 ]; then
    echo "usage: $0 evening|settings ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR..." >&2
    exit 2
fi
mode=$1
zip=$2
sim_exe=$3
linux_sim=$4
scenarios=$5
work=$6
shift 6
emulator=("$@")

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

[ -f "$zip" ] || fail "$zip: no such file (the tolvenmire_package target makes it)"
[ -f "$sim_exe" ] || fail "$sim_exe: no such file"

# Unpacked as a player unpacks it: into a fresh folder, and nothing but the three
# files lands there (no folder inside the zip that would keep the plug-in out of the
# game's folder).
rm -rf "$work"
game=$work/game
mkdir -p "$game"
unzip -q "$zip" -d "$game"
listed=$(cd "$game" && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$listed" = "./Tolvenmire-README.txt ./Tolvenmire.asi ./Tolvenmire.ini " ] ||
    fail "the zip unpacks to: $listed; expected Tolvenmire-README.txt Tolvenmire.asi Tolvenmire.ini"

# The timeline with what may differ between two runs, or between the two systems,
# made the same: the plug-in's path in the first line, the wall-clock time, CRLF.
normalise() {
    sed -e 's/\r$//' \
        -e '1s/^\(tolvenmire-sim: .* with \).*$/\1<the plug-in>/' \
        -e 's/^\(Played .* frames) in \)[0-9.]* s\.$/\1<wall-clock> s./' "$1"
}

# play NAME ARGUMENT... : tolvenmire-sim.exe under Wine, the plug-in from the zip;
# the timeline into $work/NAME.out. Fails unless the exit status is 0 (an
# expectation that fails gives 1).
play() {
    local name=$1
    shift
    local status=0
    "${emulator[@]}" "$sim_exe" --plugin "$game/Tolvenmire.asi" "$@" >"$work/$name.out" 2>"$work/$name.err" ||
        status=$?
    if [ $status -ne 0 ]; then
        cat "$work/$name.out" "$work/$name.err" >&2
        fail "tolvenmire-sim.exe $* exited with status $status"
    fi
    # (--quiet prints only the summary, without the line that names the plug-in.)
    [[ " $* " == *" --quiet "* ]] || head -n 1 "$work/$name.out" | grep -qF "with $game/Tolvenmire.asi" ||
        fail "the session did not play the zip's plug-in: $(head -n 1 "$work/$name.out")"
}

case $mode in
evening)
    if [ ! -x "$linux_sim" ]; then
        fail "$linux_sim: not built; the Windows evening is compared with the Linux build's" \
            "(cmake --preset release && cmake --build --preset release --target tolvenmire-sim;" \
            "scripts/test-windows.sh builds it)"
    fi
    # The timeline; then, quietly, the pictures (the summary names where they went,
    # which differs by the folder's separator).
    play evening-windows --no-pictures "$scenarios/evening.txt"
    play pictures-windows --quiet --out "$work/pictures-windows" "$scenarios/evening.txt"
    linux_play() {
        local name=$1
        shift
        if ! "$linux_sim" "$@" "$scenarios/evening.txt" >"$work/$name.out" 2>&1; then
            cat "$work/$name.out" >&2
            fail "the Linux evening failed ($linux_sim)"
        fi
    }
    linux_play evening-linux --no-pictures
    linux_play pictures-linux --quiet --out "$work/pictures-linux"
    grep -q '^  expectations: [1-9][0-9]* passed, 0 failed$' <(normalise "$work/evening-windows.out") ||
        fail "the evening's expectations: $(grep expectations: "$work/evening-windows.out")"
    if ! diff -u <(normalise "$work/evening-linux.out") <(normalise "$work/evening-windows.out") \
        >"$work/evening.diff"; then
        cat "$work/evening.diff" >&2
        fail "the Windows timeline (-: Linux, +: Windows) differs from the Linux one"
    fi
    for picture in evening-chart.svg evening-hud.svg; do
        cmp <(sed 's/\r$//' "$work/pictures-linux/$picture") <(sed 's/\r$//' "$work/pictures-windows/$picture") ||
            fail "$picture differs between Linux and Windows (both in $work)"
    done
    echo "The evening from the zip: $(grep expectations: "$work/evening-windows.out" | sed 's/^ *//; s/\r$//')," \
        "the timeline ($(wc -l <"$work/evening-windows.out") lines) and the pictures those of Linux"
    # Every saloon's bartender offers the refill and serves it in their own voice,
    # Van Horn's barmaid among them.
    play every-saloon --no-pictures "$scenarios/refill-every-saloon.txt"
    grep -q '^  expectations: [1-9][0-9]* passed, 0 failed' <(sed 's/\r$//' "$work/every-saloon.out") ||
        fail "refill-every-saloon.txt: $(grep expectations: "$work/every-saloon.out")"
    grep -q 'the bartender says .*(voice 1038_U_F_M_VHTBARTENDER_01)' "$work/every-saloon.out" ||
        fail "refill-every-saloon.txt: Van Horn's barmaid did not serve the refill in her voice"
    echo "Every saloon from the zip: $(grep expectations: "$work/every-saloon.out" | sed 's/^ *//; s/\r$//')," \
        "Van Horn's barmaid served in her voice"
    ;;
settings)
    # A short session that uses each setting: the drink key, the deadeye lock, healing
    # and sobering at the levels a drink reaches, the refill price.
    events='cash $25.00
0:01    press key O
0:02    expect drinking on
0:12    press stop
0:20    enter saloon valentine
0:21    target bartender
0:22    complete refill-prompt
0:31    expect charged $10.00
0:32    end'
    printf '# The settings file of the package, as it is.\nsettings-file game/Tolvenmire.ini\n%s\n' "$events" \
        >"$work/shipped-settings.txt"
    printf '# No settings file: every default.\n%s\n' "$events" >"$work/no-settings.txt"
    play shipped-settings --no-pictures "$work/shipped-settings.txt"
    play no-settings --no-pictures "$work/no-settings.txt"
    if ! diff -u <(normalise "$work/no-settings.out" | tail -n +2) \
        <(normalise "$work/shipped-settings.out" | tail -n +2) >"$work/settings.diff"; then
        cat "$work/settings.diff" >&2
        fail "the session with the zip's Tolvenmire.ini (+) is not the one with every default (-)"
    fi
    echo "The zip's Tolvenmire.ini gives every default:" \
        "$(grep -m1 ' start ' "$work/shipped-settings.out" | sed 's/^ *0:00.0  start *//; s/\r$//')"
    ;;
*)
    echo "usage: $0 evening|settings ..." >&2
    exit 2
    ;;
esac
