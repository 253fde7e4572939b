#!/usr/bin/env bash
# Holds the Linux build's file readers against Windows: for every file of the two
# fuzz corpora and a few hundred generated ones, the settings each answers (the
# Linux stand-in of GetPrivateProfileIntA against Wine's own) and the flask level
# the plug-in loads from it as its save file (the Linux plug-in against the real
# DLL under Wine, each in its stand-in host). Any difference is a fault of the
# stand-in; it is printed with both answers and the run fails.
#
#   compare_readers.sh SOURCE_DIR OUT LINUX_READER WINDOWS_READER EMULATOR...
#
# The readers are the two builds' reader_answers; EMULATOR runs a Windows program
# (cmake/wine-exec.sh PREFIX). Run by the Windows suite (WindowsFiles.ReadersAnswerAsOnLinux)
# and by scripts/test-readers.sh.
set -euo pipefail

if [ $# -lt 5 ]; then
    echo "usage: $0 SOURCE_DIR OUT LINUX_READER WINDOWS_READER EMULATOR..." >&2
    exit 2
fi
out=$(mkdir -p "$2" && cd "$2" && pwd)
linux=$(realpath "$3")
windows=$(realpath "$4")
source_dir=$1
shift 4
if [ ! -x "$linux" ]; then
    echo "error: $linux: not built; the Windows readers are held against the Linux build's" \
        "(scripts/test-windows.sh builds it)" >&2
    exit 1
fi
# The corpora are named from the source tree, as the answers' lines give them.
cd "$source_dir"

rm -rf "$out"
mkdir -p "$out"
"$linux" generate "$out/generated" >/dev/null
settings=(tests/fuzz/corpus/profile_reader tests/fuzz/corpus/flask_level "$out/generated/settings")
saves=(tests/fuzz/corpus/flask_level tests/fuzz/corpus/profile_reader "$out/generated/save")

"$linux" settings "${settings[@]}" >"$out/linux.txt"
"$linux" save "${saves[@]}" >>"$out/linux.txt"
# Windows writes its lines in text mode, with CR LF.
{
    "$@" "$windows" settings "${settings[@]}"
    "$@" "$windows" save "${saves[@]}"
} | tr -d '\r' >"$out/windows.txt"

files=$(cut -f2 "$out/linux.txt" | sort -u | wc -l)
answers=$(wc -l <"$out/linux.txt")
settings_files=$(grep -c '^settings' "$out/linux.txt" || true)
save_files=$(grep -c '^save' "$out/linux.txt" || true)
if ! cmp -s <(cut -f1,2 "$out/linux.txt") <(cut -f1,2 "$out/windows.txt"); then
    echo "error: the two builds did not answer for the same files ($out/linux.txt, $out/windows.txt)" >&2
    exit 1
fi
differences=$(paste "$out/linux.txt" "$out/windows.txt" |
    awk -F'\t' '$3 != $6 { printf "%s %s\n  Linux:   %s\n  Windows: %s\n", $1, $2, $3, $6 }')
count=$(grep -c '^  Linux:' <<<"$differences" || true)
if [ "$count" -ne 0 ]; then
    echo "$differences"
    echo "Readers: $count of $answers answers differ between the Linux stand-ins and Windows (Wine)" >&2
    exit 1
fi
echo "Readers: the Linux stand-ins answer as Windows (Wine) for all $files files ($settings_files read as settings, $save_files as save files): 0 differences"
