#!/usr/bin/env bash
# Builds Tolvenmire and runs every test. Installs what it needs when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}"

echo "== Linux build and tests (debug)"
cmake --preset debug >/dev/null
cmake --build --preset debug -j2
ctest --preset debug -j2

if [ -x scripts/test-windows.sh ]; then
    echo "== Windows build and tests under Wine"
    scripts/test-windows.sh
fi
if [ -x scripts/check-reproducible.sh ]; then
    echo "== The player's package: two builds, the same bytes"
    scripts/check-reproducible.sh
fi
if [ -x scripts/test-readers.sh ]; then
    echo "== The Linux file readers against Windows (Wine)"
    scripts/test-readers.sh
fi
if [ -x scripts/test-sanitizers.sh ]; then
    echo "== Sanitizer builds"
    scripts/test-sanitizers.sh
fi
echo "All tests passed."
