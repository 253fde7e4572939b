#!/usr/bin/env bash
# Builds Tolvenmire and runs every test. Installs what it needs when run as root.
# Ends with the time each step took: wall-clock seconds, and the processor seconds
# (user + system) of the step's processes, which hold on a machine that is busy
# with other work too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

steps=()
step_started=$SECONDS
# The processor seconds of this shell's finished children so far, into CPU_MS (from
# bash's `times`, which must run in this shell: user and system, to the millisecond).
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
cpu_ms() {
    times >"$times_file"
    CPU_MS=$(awk 'function ms(t, m) { split(t, m, "m"); return (m[1] * 60 + m[2]) * 1000 }
        NR == 2 { printf "%d", ms($1) + ms($2) }' "$times_file")
}
# step NAME COMMAND... : runs one step and notes its time.
step() {
    local name=$1
    shift
    echo "== $name"
    local started=$SECONDS cpu
    cpu_ms
    cpu=$CPU_MS
    "$@"
    cpu_ms
    steps+=("$(printf '%5d s %7d s  %s' $((SECONDS - started)) $(((CPU_MS - cpu + 500) / 1000)) "$name")")
}

# The Linux test build is the sanitizer build: the whole suite runs under
# AddressSanitizer and UndefinedBehaviorSanitizer (a suite that passes under them
# passes without them). `cmake --workflow --preset quick` is the quick loop (README).
linux_build() {
    need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j2
}
step "Linux build (ASan + UBSan)" linux_build
step "Linux tests (ASan + UBSan)" ctest --preset asan -j2
# What the sanitizers take away runs in the release build (scripts/play.sh's, whose
# tolvenmire-sim the Windows tests also hold their build against), the test preset
# `plain`: the heap allocations of a frame, and the time and memory bounds of a
# stranger's files (a sanitizer's allocator and shadow memory stand in for the
# process's), and the session page in a real browser (not in the sanitizer build:
# the browser's work is not the plug-in's).
plain_checks() {
    need_packages "${BUILD_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}"
    [ -f build/release/build.ninja ] || cmake --preset release >/dev/null
    cmake --build --preset release -j2 --target tolvenmire-sim TolvenmireChanged perf_tests player_tests \
        bad_recording_tests
    ctest --preset plain
}
step "Linux checks without the sanitizers (release)" plain_checks
if [ -x scripts/test-windows.sh ]; then
    step "Windows build and tests under Wine" scripts/test-windows.sh
fi
if [ -x scripts/check-reproducible.sh ]; then
    step "The player's package: two builds, the same bytes" scripts/check-reproducible.sh
fi
if [ -x scripts/test-sanitizers.sh ]; then
    step "ThreadSanitizer build and runs" scripts/test-sanitizers.sh tsan
fi
echo "All tests passed. Where the time went (wall clock, processor):"
printf '  %s\n' "${steps[@]}"
cpu_ms
printf '  %5d s %7d s  in all\n' $((SECONDS - step_started)) $(((CPU_MS + 500) / 1000))
