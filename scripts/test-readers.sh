#!/usr/bin/env bash
# Holds the Linux build's file readers against Windows: for every file of the two
# fuzz corpora and a few hundred generated ones, the settings each answers (the
# Linux stand-in of GetPrivateProfileIntA against Wine's own) and the flask level
# the plug-in loads from it as its save file (the Linux plug-in against the real
# DLL under Wine, each in its stand-in host). Any difference is a fault of the
# stand-in; it is printed with both answers and the run fails. Installs what it
# needs when run as root; builds what is missing in build/debug and build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64-posix googletest wine64

out=build/readers
prefix=$PWD/build/windows/wine
cmake --preset debug >/dev/null
cmake --build --preset debug -j2 --target reader_answers >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target reader_answers >/dev/null

linux=build/debug/tests/platform/reader_answers
windows=build/windows/reader_answers.exe
rm -rf "$out"
mkdir -p "$out"
"$linux" generate "$out/generated" >/dev/null
settings=(tests/fuzz/corpus/profile_reader tests/fuzz/corpus/flask_level "$out/generated/settings")
saves=(tests/fuzz/corpus/flask_level tests/fuzz/corpus/profile_reader "$out/generated/save")

stop_wine() {
    WINEPREFIX=$prefix "$(dirname "${TOLVENMIRE_WINE64:-/usr/lib/wine/wine64}")/wineserver" -k 2>/dev/null || true
}
trap stop_wine EXIT

"$linux" settings "${settings[@]}" >"$out/linux.txt"
"$linux" save "${saves[@]}" >>"$out/linux.txt"
# Windows writes its lines in text mode, with CR LF.
{
    cmake/wine-exec.sh "$prefix" "$windows" settings "${settings[@]}"
    cmake/wine-exec.sh "$prefix" "$windows" save "${saves[@]}"
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
