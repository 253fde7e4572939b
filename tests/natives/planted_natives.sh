#!/usr/bin/env bash
# check_natives.sh against faults planted in a copy of a tree's C++ sources: each
# must fail it, naming the place; what is not code (a comment, a string, a raw
# string) must not. Prints each case; exit status 1 if any went otherwise.
set -euo pipefail
root=$(cd "${1:?usage: planted_natives.sh ROOT}" && pwd)
check=$(cd "$(dirname "$0")" && pwd)/check_natives.sh

copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
(cd "$root" && find src sim tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -exec cp --parents {} "$copy" \;)
clean=$(mktemp -d)
trap 'rm -rf "$copy" "$clean"' EXIT
cp -r "$copy/." "$clean"

status=0
# expect MODE fails|passes WHAT [TEXT...]: runs the check on the copy; a failure must
# print each TEXT. The copy is put back as it was afterwards.
expect() {
    local mode=$1 outcome=$2 what=$3
    shift 3
    local out rc=0
    out=$(bash "$check" "$copy" "$mode" 2>&1) || rc=$?
    local ok=1
    if [ "$outcome" = fails ]; then
        [ $rc -eq 1 ] || ok=0
        local text
        for text in "$@"; do
            [[ $out == *"$text"* ]] || ok=0
        done
    else
        [ $rc -eq 0 ] || ok=0
    fi
    if [ $ok -eq 1 ]; then
        echo "ok: $what ($mode $outcome)"
    else
        echo "WRONG: $what: check_natives.sh $mode should have $outcome (status $rc):" >&2
        echo "$out" >&2
        status=1
    fi
    rm -rf "$copy"
    mkdir "$copy"
    cp -r "$clean/." "$copy"
}

test=tests/host/entry_test.cpp
table=sim/standin/native_table.h
lines=$(wc -l < "$copy/$test")
# The game timer's hash, as the table gives it (no file but the table spells it out),
# in small letters, and one off.
timer=$(sed -nE 's/^inline constexpr uint64_t GetGameTimer = (0x[0-9A-F]{16});.*/\1/p' "$root/$table")
[ -n "$timer" ] || { echo "FAILED: no GetGameTimer in $table" >&2; exit 1; }
timer_small=${timer,,}
timer_off=$(printf '0x%016X' $((timer + 1)))

expect literals passes "the tree as it is"
expect plugin passes "the tree as it is"

echo "const uint64_t Planted = ${timer}ull;" >> "$copy/$test"
expect literals fails "a native's hash written in a test" "$test:$((lines + 1)): $timer" \
    "natives::GetGameTimer"

echo 'const uint64_t Stray = 0x1122334455667788;' >> "$copy/$test"
expect literals fails "a 16-digit value that is no native" "$test:$((lines + 1)): 0x1122334455667788"

printf '%s\n' 'static uint64_t later() { return 1; }' '' "const uint64_t Late = $timer_small;" \
    >> "$copy/sim/replay/replay_host.cpp"
expect literals fails "a hash in small letters in the tools" "sim/replay/replay_host.cpp:" "natives::GetGameTimer"

printf '%s\n' "// $timer in a comment" "/* and $timer" '*/' \
    "const char* InText = \"$timer MISC::GET_GAME_TIMER() -> 1\";" \
    "const char* InRaw = R\"x($timer )\" )x\";" 'const int Grouped = 1'"'"'000;' \
    'const char Quote = '"'"'"'"'"';' >> "$copy/$test"
expect literals passes "hashes in comments and strings"

sed -i -E "s/^(inline constexpr uint64_t GetGameTimer = )$timer;/\\1$timer_off;/" "$copy/$table"
expect plugin fails "a hash of the table one digit off the plug-in's" \
    "the plug-in calls $timer, which is not in $table" \
    "$table:$(grep -n '^inline constexpr uint64_t GetGameTimer' "$root/$table" | cut -d: -f1): GetGameTimer ($timer_off)"

sed -i -E "s/NativeCall<int32_t>\\($timer\\);( +\\/\\/ MISC::GET_GAME_TIMER, fixed)/NativeCall<int32_t>(0x0000DEADBEEF0000);\\1/" \
    "$copy/src/host/tick_update.cpp"
expect plugin fails "a native the plug-in calls and the table has not" \
    "src/host/tick_update.cpp:" "calls 0x0000DEADBEEF0000, which is not in"

sed -i -E '/^ *\{MoneyDecrementCashBalance, "MONEY"/d' "$copy/$table"
expect plugin fails "a name of the table without its record" "MoneyDecrementCashBalance has 0 records"

hashes=sim/standin/game_hashes.h
satchel=$(grep -nE 'NativeCall<int32_t>\(0x[0-9A-F]{16}, 0, 0x4CC0E2FE\)' "$root/src/flask/drinking.cpp" | cut -d: -f1)
[ -n "$satchel" ] || { echo "FAILED: no INPUT_OPEN_SATCHEL_MENU in src/flask/drinking.cpp" >&2; exit 1; }
sed -i "${satchel}s/0x4CC0E2FE/0x4CC0E2EF/" "$copy/src/flask/drinking.cpp"
expect plugin fails "a control's hash mistyped in the plug-in" \
    "src/flask/drinking.cpp:$satchel: the plug-in writes 0x4CC0E2EF, which is none of the game's hashes"

sed -i 's/"MISC", "GET_GAME_TIMER"/"MISC", "GET_GAME_TIMES"/' "$copy/$table"
expect plugin fails "a native whose C++ name is not the game's" \
    "GetGameTimer is the native GET_GAME_TIMES: its name is GetGameTimes"

sed -i 's/"INPUT_MOVE_UD", InputMoveUd/"INPUT_MOVE_DU", InputMoveUd/' "$copy/$hashes"
expect plugin fails "a hash whose C++ name is not the game's" \
    "$hashes:$(grep -n '^inline constexpr uint32_t InputMoveUd' "$root/$hashes" | cut -d: -f1): InputMoveUd is the hash" \
    "INPUT_MOVE_DU: its name is InputMoveDu"

exit $status
