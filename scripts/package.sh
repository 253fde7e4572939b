#!/usr/bin/env bash
# Builds the player's package, dist/Tolvenmire-<version>.zip: Tolvenmire.asi (the
# Windows plug-in, cross-compiled), Tolvenmire.ini (every setting at its default,
# explained) and Tolvenmire-README.txt. The version is the one in the top
# CMakeLists.txt. Installs what it needs when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest unzip

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target tolvenmire_package

version=$(sed -n 's/^project(Tolvenmire VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=dist/Tolvenmire-$version.zip
if [ ! -f "$zip" ]; then
    echo "error: $zip was not made" >&2
    exit 1
fi
unzip -l "$zip"
echo "Package: $zip"
