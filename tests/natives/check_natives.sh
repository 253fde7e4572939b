#!/usr/bin/env bash
# The natives' hashes live in one table, sim/standin/native_table.h, and the plug-in
# agrees with it. Two checks of a tree's C++ sources (.cpp, .h), each printing every
# offending place as FILE:LINE:
#
#   check_natives.sh ROOT literals   no 16-digit hexadecimal literal in the code of
#                                    sim/, tests/ or bench/ outside the table: the
#                                    tools, the tests and the benchmarks name a native
#                                    from it (natives::GetGameTimer)
#   check_natives.sh ROOT plugin     the table and the plug-in (src/, which writes each
#                                    hash at its call site) name the same hashes: each
#                                    one the plug-in calls is in the table, and each one
#                                    in the table is called; each name of the table has
#                                    its one record
#
# Comments and strings are not code: a trace line a test expects, with its hash, is
# text. Recordings and fuzz corpora are not C++ sources.
set -euo pipefail
root=${1:?usage: check_natives.sh ROOT literals|plugin}
mode=${2:?usage: check_natives.sh ROOT literals|plugin}
table=sim/standin/native_table.h
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

# FILE:LINE:HEX for each 16-digit hexadecimal literal in the code of the files named
# (the digits in capitals; comments, strings and character literals skipped).
literals() {
    perl -e '
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
                    print "$path:$line:", uc($1), "\n" if $number =~ /^0[xX]([0-9A-Fa-f]{16})[uUlL]*$/;
                }
                elsif ($t =~ m{\G[A-Za-z_][0-9A-Za-z_]*}gc) { }
                else { pos($t) = pos($t) + 1 }
            }
        }' "$@"
}

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
    done < <(literals "${files[@]}")
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
    done < <(literals "${files[@]}")
    for hex in "${!nameOf[@]}"; do
        if [ -z "${called[$hex]:-}" ]; then
            echo "$root/$table:${lineOf[$hex]}: ${nameOf[$hex]} (0x$hex) is in the table, and the plug-in" \
                "never calls it" >&2
            status=1
        fi
    done
    # Each name has one record ({Name, "role", ...}) in the table.
    for name in "${nameOf[@]}"; do
        records=$(grep -cE "^ *\{$name, \"" "$table" || true)
        if [ "$records" != 1 ]; then
            echo "$root/$table:$(grep -nE "^inline constexpr uint64_t $name = " "$table" | cut -d: -f1):" \
                "$name has $records records in the table (one is its due)" >&2
            status=1
        fi
    done
    [ $status -eq 0 ] && echo "$root: the plug-in calls the ${#nameOf[@]} natives of $table, each with its" \
        "hash there, and no other"
    ;;
*)
    echo "usage: check_natives.sh ROOT literals|plugin" >&2
    exit 2
    ;;
esac
exit $status
