#!/usr/bin/env bash
# Builds Tolvenmire and the stand-in host with the sanitizers (the plug-in with the
# same flags as the host that loads it) and runs:
#   - the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, which
#     stop at the first finding (preset asan, build/asan);
#   - the tests that share the keyboard table between two threads under
#     ThreadSanitizer (preset tsan, build/tsan): the keyboard stress test, and one
#     block of randomized sessions (some send key events from a second thread, some
#     from a free-running one while the script runs); and the replay, whose reader
#     runs on a thread of its own: the kept recordings and the crafted bad ones.
#
#   scripts/test-sanitizers.sh [asan] [tsan]     both when neither is named
#
# scripts/test.sh builds and runs the asan preset as the Linux test build, then
# calls this for tsan. Installs what it needs when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

asan=0 tsan=0
[ $# -gt 0 ] || set -- asan tsan
for what in "$@"; do
    case $what in
    asan) asan=1 ;;
    tsan) tsan=1 ;;
    *)
        echo "usage: $0 [asan] [tsan]" >&2
        exit 2
        ;;
    esac
done

started=$SECONDS
if [ $asan -eq 1 ]; then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j2
    ctest --preset asan -j2
fi

if [ $tsan -eq 1 ]; then
    echo "== ThreadSanitizer: the keyboard table shared between threads, the replay's reader thread"
    cmake --preset tsan >/dev/null
    cmake --build --preset tsan -j2 --target keyboard_tests random_session_tests tolvenmire-sim bad_recording_tests
    ctest --preset tsan -j2
fi

echo "Sanitizer builds and runs took $((SECONDS - started)) s."
