#!/usr/bin/env bash
# The natives' hashes live in one table, sim/standin/native_table.h, the game's 32-bit
# hashes in another, sim/standin/game_hashes.h, and the plug-in agrees with them. Two
# checks of a tree's C++ sources (.cpp, .h), each printing every offending place as
# FILE:LINE:
#
#   check_natives.sh ROOT literals   no 16-digit hexadecimal literal in the code of
#                                    sim/, tests/ or bench/ outside the table: the
#                                    tools, the tests and the benchmarks name a native
#                                    from it (natives::GetGameTimer)
#   check_natives.sh ROOT plugin     the table and the plug-in (src/, which writes each
#                                    hash at its call site) name the same hashes: each
#                                    one the plug-in calls is in the table, and each one
#                                    in the table is called; each name of the table has
#                                    its one record; each 8-digit hash the plug-in
#                                    writes is one of the game's hashes of
#                                    game_hashes.h (whose names tests/natives prove),
#                                    or a value listed below as no such hash; and each
#                                    constant of the two tables is called by the
#                                    game's name in CamelCase (_UI_PROMPT_DELETE:
#                                    UiPromptDelete, INPUT_MOVE_UD: InputMoveUd)
#
# Comments and strings are not code: a trace line a test expects, with its hash, is
# text. Recordings and fuzz corpora are not C++ sources.
set -euo pipefail
root=${1:?usage: check_natives.sh ROOT literals|plugin}
mode=${2:?usage: check_natives.sh ROOT literals|plugin}
table=sim/standin/native_table.h
hashes=sim/standin/game_hashes.h
cd "$root"

# 16-digit values that are not natives' hashes, and what each is.
declare -A notNative=(
    [9E3779B97F4A7C15]="SplitMix64's increment"
    [BF58476D1CE4E5B9]="SplitMix64's first multiplier"
    [94D049BB133111EB]="SplitMix64's second multiplier"
    [5445585400000001]="the stand-in host's first label-text handle"
    [486F7374696C6521]="the hostile game's salt of its seed"
    [0123456789ABCDEF]="a native the game does not have (the probe plug-in's)"
    [FFFFFFFFFFFFFFF9]="a prompt group of -7 pushed with its sign"
    [00000000FFFFFFFE]="a prompt group pushed without its sign"
)
# 8-digit values of the plug-in that are not hashes of the game's names, and what
# each is.
declare -A notHash=(
    [3D4CCCCC]="0.05 in single precision, the health rate's step"
    [3CA3D70A]="0.02 in single precision, the stamina rate's step"
    [3F8CCCCD]="1.1 in single precision, a settings factor"
    [3EFEB19F]="the intensity table's first entry, 0.4974489 in single precision"
    [3F800000]="1.0 in single precision, the intensity table's last entry"
    [EDB88320]="the recording's CRC-32 polynomial"
    [FFFFFFFF]="the recording's CRC-32, all bits set"
    [67F3AB43]="the speech parameter hash, whose name the game does not publish"
)

# FILE:LINE:HEX for each hexadecimal literal of DIGITS digits in the code of the
# files named (the digits in capitals; comments, strings and character literals
# skipped).
literals() {
    local digits=$1
    shift
    perl -e '
        my $digits = shift @ARGV;
        for my $path (@ARGV) {
            open(my $f, "<", $path) or die "$path: $!\n";
            local $/;
            my $t = <$f>;
            close $f;
            my $line = 1;
            pos($t) = 0;
            while (pos($t) < length $t) {
                if ($t =~ /\G\n/gc) { $line++ }
                elsif ($t =~ m{\G//[^\n]*}gc) { }
                elsif ($t =~ m{\G/\*(.*?)(?:\*/|\z)}gcs) { $line += ($1 =~ tr/\n//) }
                elsif ($t =~ m{\G(?:u8|u|U|L)?R"([^ ()\\\t\n]{0,16})\((.*?)\)\1"}gcs) { $line += ($2 =~ tr/\n//) }
                elsif ($t =~ m{\G"(?:\\.|[^"\\\n])*"?}gc) { }
                elsif ($t =~ m{\G\x27(?:\\.|[^\x27\\\n])*\x27?}gc) { }
                elsif ($t =~ m{\G(\.?[0-9](?:[eEpP][+-]|\x27[0-9A-Za-z_]|[0-9A-Za-z_.])*)}gc) {
                    my $number = $1;
                    print "$path:$line:", uc($1), "\n" if $number =~ /^0[xX]([0-9A-Fa-f]{$digits})[uUlL]*$/;
                }
                elsif ($t =~ m{\G[A-Za-z_][0-9A-Za-z_]*}gc) { }
                else { pos($t) = pos($t) + 1 }
            }
        }' "$digits" "$@"
}

# The game's name in CamelCase: _UI_PROMPT_DELETE -> UiPromptDelete.
camel() { sed -E 's/_*([A-Z0-9])([A-Z0-9]*)/\1\L\2/g' <<<"$1"; }

sources() {
    local folder
    for folder in "$@"; do
        if [ -d "$folder" ]; then find "$folder" -type f \( -name '*.cpp' -o -name '*.h' \) ! -path "$table"; fi
    done | sort
}

# The table's names: NAME HEX LINE, one a line.
declare -A nameOf lineOf
while IFS=: read -r line name hex; do
    hex=${hex^^}
    nameOf[$hex]=$name
    lineOf[$hex]=$line
done < <(grep -nE '^inline constexpr uint64_t [A-Za-z0-9_]+ = 0[xX][0-9A-Fa-f]{16};' "$table" |
    sed -E 's/^([0-9]+):inline constexpr uint64_t ([A-Za-z0-9_]+) = 0[xX]([0-9A-Fa-f]{16});.*/\1:\2:\3/')
if [ ${#nameOf[@]} -eq 0 ]; then
    echo "$root/$table: no natives in it" >&2
    exit 1
fi

status=0
case $mode in
literals)
    mapfile -t files < <(sources sim tests bench)
    count=0
    while IFS=: read -r file line hex; do
        if [ -n "${nameOf[$hex]:-}" ]; then
            echo "$root/$file:$line: 0x$hex is the native natives::${nameOf[$hex]}: name it from $table" >&2
            status=1
        elif [ -z "${notNative[$hex]:-}" ]; then
            echo "$root/$file:$line: 0x$hex: a 16-digit literal outside $table (a native's hash goes into" \
                "the table; a value that is not one, into check_natives.sh's list)" >&2
            status=1
        fi
        count=$((count + 1))
    done < <(literals 16 "${files[@]}")
    [ $status -eq 0 ] && echo "$root: ${#files[@]} sources of sim/, tests/ and bench/ name the ${#nameOf[@]} natives" \
        "from $table ($count other 16-digit literals, none a native)"
    ;;
plugin)
    mapfile -t files < <(sources src)
    declare -A called
    while IFS=: read -r file line hex; do
        if [ -n "${nameOf[$hex]:-}" ]; then
            called[$hex]=1
        elif [ -z "${notNative[$hex]:-}" ]; then
            echo "$root/$file:$line: the plug-in calls 0x$hex, which is not in $table" >&2
            status=1
        fi
    done < <(literals 16 "${files[@]}")
    for hex in "${!nameOf[@]}"; do
        if [ -z "${called[$hex]:-}" ]; then
            echo "$root/$table:${lineOf[$hex]}: ${nameOf[$hex]} (0x$hex) is in the table, and the plug-in" \
                "never calls it" >&2
            status=1
        fi
    done
    # Each name has one record ({Name, "NAMESPACE", "GAME_NAME", ...}) in the table,
    # and is the game's name in CamelCase. (The table read once, the names put in
    # CamelCase at once: this runs for every fault planted_natives.sh plants.)
    declare -A records gameOf
    while read -r name; do
        records[$name]=$((${records[$name]:-0} + 1))
    done < <(sed -nE 's/^ *\{([A-Za-z0-9_]+), ".*/\1/p' "$table")
    while read -r name game; do
        gameOf[$name]=$game
    done < <(sed -nE 's/^ *\{([A-Za-z0-9_]+), "[A-Z]+", "([A-Z0-9_]+)".*/\1 \2/p' "$table")
    names=("${nameOf[@]}")
    games=()
    for name in "${names[@]}"; do games+=("${gameOf[$name]:-}"); done
    mapfile -t camels < <(printf '%s\n' "${games[@]}" | sed -E 's/_*([A-Z0-9])([A-Z0-9]*)/\1\L\2/g')
    for i in "${!names[@]}"; do
        name=${names[$i]}
        if [ "${records[$name]:-0}" != 1 ] || [ "${camels[$i]}" != "$name" ]; then
            line=$(grep -nE "^inline constexpr uint64_t $name = " "$table" | cut -d: -f1)
        fi
        if [ "${records[$name]:-0}" != 1 ]; then
            echo "$root/$table:$line: $name has ${records[$name]:-0} records in the table (one is its due)" >&2
            status=1
            continue
        fi
        game=${games[$i]}
        if [ "${camels[$i]}" != "$name" ]; then
            echo "$root/$table:$line: $name is the native ${game:-(no game name)}: its name is" \
                "${camels[$i]}" >&2
            status=1
        fi
    done
    # The game's 32-bit hashes: NAME HEX, one a line; each named as the game names it.
    declare -A hashName
    while IFS=: read -r line name hex; do
        hashName[${hex^^}]=$name
        game=$(sed -nE "s/^ *\{\"[a-z ]+\", \"([A-Z0-9_]+)\", $name,.*/\1/p" "$hashes")
        if [ "$(camel "$game")" != "$name" ]; then
            echo "$root/$hashes:$line: $name is the hash ${game:-(no record of it)}: its name is" \
                "$(camel "$game")" >&2
            status=1
        fi
    done < <(grep -nE '^inline constexpr uint32_t [A-Za-z0-9_]+ = 0[xX][0-9A-Fa-f]{8};' "$hashes" |
        sed -E 's/^([0-9]+):inline constexpr uint32_t ([A-Za-z0-9_]+) = 0[xX]([0-9A-Fa-f]{8});.*/\1:\2:\3/')
    count=0
    while IFS=: read -r file line hex; do
        if [ -z "${hashName[$hex]:-}" ] && [ -z "${notHash[$hex]:-}" ]; then
            echo "$root/$file:$line: the plug-in writes 0x$hex, which is none of the game's hashes of" \
                "$hashes (a value that is no hash of a name goes into check_natives.sh's list)" >&2
            status=1
        fi
        count=$((count + 1))
    done < <(literals 8 "${files[@]}")
    [ $status -eq 0 ] && echo "$root: the plug-in calls the ${#nameOf[@]} natives of $table, each with its" \
        "hash there, and no other; its $count 8-digit values are hashes of $hashes or listed as none;" \
        "every constant is named as the game names it"
    ;;
*)
    echo "usage: check_natives.sh ROOT literals|plugin" >&2
    exit 2
    ;;
esac
exit $status
