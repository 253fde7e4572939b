#!/usr/bin/env bash
# Holds the Linux build's file readers against Windows: for every file of the two
# fuzz corpora and a few hundred generated ones, the settings each answers (the
# Linux stand-in of GetPrivateProfileIntA against Wine's own) and the flask level
# the plug-in loads from it as its save file (the Linux plug-in against the real
# DLL under Wine, each in its stand-in host). Any difference is a fault of the
# stand-in; it is printed with both answers and the run fails. Installs what it
# needs when run as root; builds what is missing in build/quick (the Linux build
# the Windows suite is held against) and build/windows. The Windows suite runs the
# same comparison (WindowsFiles.ReadersAnswerAsOnLinux, tests/windows/compare_readers.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64-posix googletest wine64

prefix=$PWD/build/windows/wine
[ -f build/quick/build.ninja ] || cmake --preset quick >/dev/null
cmake --build --preset quick -j2 --target reader_answers >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target reader_answers >/dev/null

stop_wine() {
    WINEPREFIX=$prefix "$(dirname "${TOLVENMIRE_WINE64:-/usr/lib/wine/wine64}")/wineserver" -k 2>/dev/null || true
}
trap stop_wine EXIT

bash tests/windows/compare_readers.sh . build/readers build/quick/tests/platform/reader_answers \
    build/windows/reader_answers.exe cmake/wine-exec.sh "$prefix"
