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
#   play_package.sh keys ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#     the zip's Tolvenmire.ini with the drink key written as a player may write it
#     (P, p, F5, NumPad0, D7, Q0, 80, " 80", 80abc, +80): the zip's plug-in drinks
#     on the key meant (O for Q0, which names no key), and not on another.
#   play_package.sh check ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR...
#     the zip's Tolvenmire-check.exe explains each settings file of
#     tests/player/settings/ in the words of its .txt, as tolvenmire-sim --settings
#     does on Linux, with exit status 0 exactly when every line means what it says;
#     started with no argument it explains the zip's Tolvenmire.ini beside it, as
#     the Linux build does; it waits for a key in a console of its own (a terminal
#     under Wine, as a double-click gives it one), not from a prompt or with no
#     console.
#
# EMULATOR runs a Windows program (cmake/wine-exec.sh PREFIX).
set -euo pipefail

if [ $# -lt 7 ]; then
    echo "usage: $0 evening|settings|keys|check ZIP SIM_EXE LINUX_SIM SCENARIOS WORK EMULATOR..." >&2
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

# Unpacked as a player unpacks it: into a fresh folder, and nothing but the four
# files lands there (no folder inside the zip that would keep the plug-in out of the
# game's folder).
rm -rf "$work"
game=$work/game
mkdir -p "$game"
unzip -q "$zip" -d "$game"
listed=$(cd "$game" && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')
expected_files="./Tolvenmire-README.txt ./Tolvenmire-check.exe ./Tolvenmire.asi ./Tolvenmire.ini "
[ "$listed" = "$expected_files" ] || fail "the zip unpacks to: $listed; expected $expected_files"

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
            "(cmake --preset quick && cmake --build --preset quick --target tolvenmire-sim;" \
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
keys)
    # TEXT CODE OTHER SHOWN: the drink key written TEXT drinks on CODE, not on OTHER,
    # and the timeline's start line names it SHOWN.
    rows=("P 80 79 P" "p 80 79 P" "F5 116 79 F5" "NumPad0 96 79 NumPad0" "D7 55 79 D7" "Q0 79 80 O"
        "80 80 79 P" "_80 80 79 P" "80abc 80 79 P" "+80 80 79 P")
    for row in "${rows[@]}"; do
        read -r text code other shown <<<"$row"
        text=${text//_/ } # "_80" stands for " 80"
        name=key-$code-$(printf '%s' "$text" | tr -c 'A-Za-z0-9+' '_')
        mkdir -p "$work/$name"
        grep -q $'^TOLVENMIRE_KEY=O\r$' "$game/Tolvenmire.ini" ||
            fail "the zip's Tolvenmire.ini has no line TOLVENMIRE_KEY=O (with Windows line ends)"
        sed "s/^TOLVENMIRE_KEY=O\r\$/TOLVENMIRE_KEY=$text\r/" "$game/Tolvenmire.ini" >"$work/$name/Tolvenmire.ini"
        printf '%s\n' "# The zip's settings file with TOLVENMIRE_KEY=$text." \
            "settings-file Tolvenmire.ini" "0:01 press key $other" "0:02 expect drinking off" \
            "0:03 press key $code" "0:04 expect drinking on" "0:05 end" >"$work/$name/keys.txt"
        play "$name" --no-pictures "$work/$name/keys.txt"
        grep -q '^  expectations: 2 passed, 0 failed' <(sed 's/\r$//' "$work/$name.out") ||
            fail "TOLVENMIRE_KEY=$text: $(grep expectations: "$work/$name.out")"
        grep -q "  start .*drink key $shown ($code) " "$work/$name.out" ||
            fail "TOLVENMIRE_KEY=$text: the start line does not name the key $shown ($code)"
    done
    echo "The zip's plug-in drinks on the key meant, for each of ${#rows[@]} ways to write it"
    ;;
check)
    settings=$(dirname "$scenarios")/tests/player/settings
    [ -d "$settings" ] || fail "$settings: no such folder (the settings files explained)"
    mkdir -p "$work/settings"
    cp "$settings"/*.ini "$work/settings/"
    checked=0
    # explain NAME FOLDER [FILE]: Tolvenmire-check.exe [FILE] in FOLDER, its standard
    # input no console; the text into $work/NAME.out (CRLF made LF), the status into
    # $work/NAME.status.
    explain() {
        local name=$1 folder=$2
        shift 2
        local status=0
        (cd "$folder" && timeout 120 "${emulator[@]}" "$game/Tolvenmire-check.exe" "$@" </dev/null) \
            >"$work/$name.raw" 2>"$work/$name.err" || status=$?
        sed 's/\r$//' "$work/$name.raw" >"$work/$name.out"
        echo "$status" >"$work/$name.status"
        [ "$status" -le 1 ] || { cat "$work/$name.err" >&2; fail "Tolvenmire-check.exe $* exited with $status"; }
    }
    for ini in "$work/settings"/*.ini; do
        base=$(basename "$ini" .ini)
        explain "check-$base" "$work/settings" "$base.ini"
        if ! diff -u "$settings/$base.txt" "$work/check-$base.out" >"$work/check-$base.diff"; then
            cat "$work/check-$base.diff" >&2
            fail "Tolvenmire-check.exe $base.ini (+) does not say what $base.txt (-) says"
        fi
        want=1
        grep -qx 'Every line means what it says.' "$settings/$base.txt" && want=0
        [ "$(cat "$work/check-$base.status")" = "$want" ] ||
            fail "Tolvenmire-check.exe $base.ini exited with $(cat "$work/check-$base.status"), not $want"
        checked=$((checked + 1))
    done
    # With no argument: the Tolvenmire.ini beside it, as the Linux build explains it.
    explain check-beside "$work"
    (cd "$game" && "$linux_sim" --settings Tolvenmire.ini) >"$work/check-beside-linux.out" || true
    diff -u "$work/check-beside-linux.out" "$work/check-beside.out" >&2 ||
        fail "Tolvenmire-check.exe on the zip's Tolvenmire.ini (+) differs from the Linux build's (-)"
    [ "$(cat "$work/check-beside.status")" = 0 ] || fail "the zip's Tolvenmire.ini does not mean what it says"
    grep -q 'Press any key' "$work/check-beside.out" && fail "Tolvenmire-check.exe waited for a key with no console"
    # In a console of its own (under Wine, a terminal it is the only program of, as a
    # double-click gives it one) it asks for a key and waits for it; run from a
    # prompt (cmd), whose console it shares, it does not. (Wine draws the console's
    # text with cursor moves for blanks: they are left out before the text is read.)
    command -v script >/dev/null || fail "script (Debian package bsdutils) is needed to give it a terminal"
    in_terminal() {
        local name=$1
        shift
        timeout 120 script -qec "$(printf '%q ' "$@")" /dev/null >"$work/$name.raw" 2>&1 ||
            fail "Tolvenmire-check.exe in a terminal ($name) did not end well: $(tail -c 300 "$work/$name.raw")"
        sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/$name.raw" | tr -d '\r ' >"$work/$name.out"
    }
    started=$(date +%s)
    (sleep 8 && printf x) | (cd "$game" && in_terminal check-own-console "${emulator[@]}" Tolvenmire-check.exe)
    waited=$(($(date +%s) - started))
    grep -q 'Everylinemeanswhatitsays.' "$work/check-own-console.out" ||
        fail "Tolvenmire-check.exe in a console of its own did not explain the file"
    grep -q 'Pressanykeytoclosethiswindow.' "$work/check-own-console.out" ||
        fail "Tolvenmire-check.exe in a console of its own did not ask for a key"
    [ "$waited" -ge 8 ] || fail "Tolvenmire-check.exe in a console of its own ended after $waited s, before the key"
    (cd "$game" && in_terminal check-from-prompt "${emulator[@]}" cmd /c Tolvenmire-check.exe) </dev/null
    grep -q 'Everylinemeanswhatitsays.' "$work/check-from-prompt.out" ||
        fail "Tolvenmire-check.exe from a prompt did not explain the file"
    grep -q 'Pressany' "$work/check-from-prompt.out" && fail "Tolvenmire-check.exe from a prompt waited for a key"
    echo "Tolvenmire-check.exe from the zip explains $checked settings files as the Linux build does," \
        "and the zip's Tolvenmire.ini beside it: every line means what it says; in a console of its own it" \
        "waited $waited s for the key, from a prompt and with no console it did not wait"
    ;;
*)
    echo "usage: $0 evening|settings|keys|check ..." >&2
    exit 2
    ;;
esac
