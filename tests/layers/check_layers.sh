#!/usr/bin/env bash
# A tree's folders in layers, top to bottom (the plug-in's in src/, the tools' rooms
# in sim/): a file may include its own folder and the folders below it, never one
# above. Within a folder no two units (a .cpp with its .h) include each other.
# Includes of folders outside the tree (sim/ includes the plug-in's) are not its
# business. Prints each offending include.
set -euo pipefail
src=${1:?usage: check_layers.sh DIR LAYER... (top to bottom)}
shift
layers=("$@")
[ ${#layers[@]} -gt 0 ] || { echo "usage: check_layers.sh DIR LAYER... (top to bottom)" >&2; exit 2; }

rank() {
    local i
    for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
    echo -1
}

status=0
declare -A includes
cd "$src"
for file in */*.cpp */*.h; do
    folder=${file%%/*}
    own=$(rank "$folder")
    if [ "$own" -lt 0 ]; then
        echo "$file: the folder $folder is in no layer" >&2
        status=1
        continue
    fi
    line=0
    while IFS= read -r text; do
        line=$((line + 1))
        [[ $text =~ ^#include\ \"([a-z_]+)/([a-z_]+)\.h\" ]] || continue
        target=${BASH_REMATCH[1]}
        other=$(rank "$target")
        [ "$other" -ge 0 ] || continue
        if [ "$other" -lt "$own" ]; then
            echo "$src/$file:$line: $folder/ includes $target/, a layer above it" >&2
            status=1
        fi
        unit=${file%.*}
        included="$target/${BASH_REMATCH[2]}"
        [ "$included" != "$unit" ] && includes["$unit>$included"]="$src/$file:$line"
    done < "$file"
done
for pair in "${!includes[@]}"; do
    a=${pair%%>*} b=${pair##*>}
    if [[ -n ${includes["$b>$a"]:-} && $a < $b ]]; then
        echo "${includes[$pair]}: $a and $b include each other" >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "$src: ${#layers[@]} layers, every include points down"
exit $status
