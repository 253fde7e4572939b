#!/usr/bin/env bash
# Builds Tolvenmire and runs every test. Installs what it needs when run as root.
#
# The steps run in four lanes at once, each step's output in a log of its own under
# build/test-logs (a failing step's log is printed whole): on 2 cores a lane compiles
# while another waits on Wine, on a test's last seconds or on the linker.
# Ends with the time each step took: wall-clock seconds (of a step that shared the
# machine with the other lanes), and the processor seconds (user + system) of the
# step's processes, which add up whatever else runs beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

# Everything first: apt-get installs one thing at a time, and the lanes would meet
# in it.
need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev "${BROWSER_PACKAGES[@]}" \
    "${PACKAGE_PACKAGES[@]}" wine64 git

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
started=$SECONDS

# The processor seconds of this shell's finished children so far, into CPU_MS (from
# bash's `times`, which must run in the shell whose children it counts: a lane's
# steps, or the whole run; user and system, to the millisecond).
cpu_ms() {
    local file=$logs/times.$BASHPID
    times >"$file"
    CPU_MS=$(awk 'function ms(t, m) { split(t, m, "m"); return (m[1] * 60 + m[2]) * 1000 }
        NR == 2 { printf "%d", ms($1) + ms($2) }' "$file")
    rm -f "$file"
}

# step NAME COMMAND... : runs one step of a lane into its log and notes its time;
# a failing step prints its log and fails the lane.
step() {
    local name=$1 log
    shift
    log=$logs/$(echo "$name" | tr -c 'A-Za-z0-9\n' '-' | tr -s '-').log
    echo "-- $name: started ($((SECONDS - started)) s)"
    local began=$SECONDS cpu status=0
    cpu_ms
    cpu=$CPU_MS
    "$@" >"$log" 2>&1 || status=$?
    cpu_ms
    if [ $status -ne 0 ]; then
        echo "== $name: FAILED (exit status $status). Its log, $log:"
        cat "$log"
        echo "== $name: FAILED (exit status $status); the log above is $log"
        return 1
    fi
    printf '%5d s %7d s  %s\n' $((SECONDS - began)) $(((CPU_MS - cpu + 500) / 1000)) "$name" >>"$logs/steps"
    echo "-- $name: passed ($((SECONDS - began)) s, ending at $((SECONDS - started)) s)"
}

# The Linux test build is the sanitizer build: the whole suite runs under
# AddressSanitizer and UndefinedBehaviorSanitizer (a suite that passes under them
# passes without them). `cmake --workflow --preset quick` is the quick loop (README).
linux_build() {
    cmake --preset asan -DTOLVENMIRE_SUITE_ONLY=ON
    cmake --build --preset asan -j2
}
# What the sanitizers take away runs in the quick loop's build (gcc at -O1, no
# sanitizers, build/quick; the Windows tests hold their build against its
# tolvenmire-sim, file readers and replay), the test preset `plain`: the heap
# allocations of a frame, and the time and memory bounds of a stranger's files (a
# sanitizer's allocator and shadow memory stand in for the process's), and the
# session page in a real browser (not in the sanitizer build: the browser's work is
# not the plug-in's). Only what those use is built.
plain_build() {
    # (From nothing, the test programs in batches of eight files, which build sooner
    # than the loop's one file at a time, and without the precompiled test headers,
    # which cost more than they save the three test programs built here; `cmake
    # --workflow --preset quick` sets one file a batch and the headers.)
    [ -f build/quick/build.ninja ] || cmake --preset quick -DTOLVENMIRE_TEST_UNITY_BATCH=8 -DTOLVENMIRE_TEST_PCH=OFF
    cmake --build --preset quick -j2 --target tolvenmire-sim TolvenmireChanged perf_tests command_tests \
        bad_recording_tests kill_replay reader_answers
}

# The Windows build. The package (dist/) is packed again: its zip's entries carry
# the last commit's date, and the reproducibility check compares it.
windows_build() {
    rm -rf dist
    cmake --preset windows
    cmake --build --preset windows -j2
}
# The Windows suite holds its build against the plain build's programs: it waits
# for the plain lane to have built them (one ninja at a time in a build folder).
windows_tests() {
    while [ ! -e "$logs/plain-built" ]; do
        [ -e "$logs/plain-failed" ] && { echo "the plain Linux build failed: no Windows suite"; return 1; }
        sleep 1
    done
    scripts/test-windows.sh
}

# The lanes: the Linux test build and its suite; the ThreadSanitizer build and its
# runs; the plain build and its checks; the Windows build, its suite under Wine
# and, beside that suite, the player's package. (Measured: the TSan lane after the
# plain one, or at a lower priority, ends no sooner: a starved TSan lane ends last.)
lane_asan() {
    step "Linux build (ASan + UBSan)" linux_build || return 1
    step "Linux tests (ASan + UBSan)" ctest --preset asan -j2 || return 1
}
lane_tsan() {
    step "ThreadSanitizer build and runs" scripts/test-sanitizers.sh tsan || return 1
}
lane_plain() {
    if ! step "Linux plain build" plain_build; then
        touch "$logs/plain-failed"
        return 1
    fi
    touch "$logs/plain-built"
    step "Linux checks without the sanitizers (plain)" ctest --preset plain || return 1
}
lane_windows() {
    step "Windows build" windows_build || return 1
    # The Windows test build's package is the first of the two builds compared; the
    # second is built beside the suite, which only reads the package. (Each in a
    # shell of its own, so that neither step's processor time counts the other's.)
    step "The player's package: two builds, the same bytes" scripts/check-reproducible.sh --against dist &
    local package=$!
    step "Windows tests under Wine" windows_tests &
    local tests=$! status=0
    wait $tests || status=1
    wait $package || status=1
    return $status
}

lanes=()
for lane in lane_asan lane_tsan lane_plain lane_windows; do
    $lane &
    lanes+=($!)
done
status=0
for pid in "${lanes[@]}"; do
    wait "$pid" || status=1
done

if [ $status -ne 0 ]; then
    echo "error: a step failed (its log is printed above; all logs are in $logs)" >&2
    exit 1
fi
echo "All tests passed. Where the time went (wall clock, processor; four lanes at once):"
sed 's/^/  /' "$logs/steps"
cpu_ms
printf '  %5d s %7d s  in all\n' $((SECONDS - started)) $(((CPU_MS + 500) / 1000))
