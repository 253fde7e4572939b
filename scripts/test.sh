#!/usr/bin/env bash
# Builds Tolvenmire and runs every test. Installs what it needs when run as root.
# Ends with the time each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

steps=()
step_started=$SECONDS
# step NAME COMMAND... : runs one step and notes its time.
step() {
    local name=$1
    shift
    echo "== $name"
    local started=$SECONDS
    "$@"
    steps+=("$(printf '%5d s  %s' $((SECONDS - started)) "$name")")
}

linux_build() {
    need_packages "${BUILD_PACKAGES[@]}"
    cmake --preset debug >/dev/null
    cmake --build --preset debug -j2
}
step "Linux build (debug)" linux_build
linux_tests() {
    need_packages "${BROWSER_PACKAGES[@]}" # the session page's tests in a real browser
    ctest --preset debug -j2
}
step "Linux tests" linux_tests
if [ -x scripts/test-windows.sh ]; then
    step "Windows build and tests under Wine" scripts/test-windows.sh
fi
if [ -x scripts/check-reproducible.sh ]; then
    step "The player's package: two builds, the same bytes" scripts/check-reproducible.sh
fi
if [ -x scripts/test-readers.sh ]; then
    step "The Linux file readers against Windows (Wine)" scripts/test-readers.sh
fi
if [ -x scripts/test-sanitizers.sh ]; then
    step "Sanitizer builds" scripts/test-sanitizers.sh
fi
echo "All tests passed. Where the time went:"
printf '  %s\n' "${steps[@]}"
printf '  %5d s  in all\n' $((SECONDS - step_started))
