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
# Installs what it needs when run as root. Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

started=$SECONDS
echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan -j2

echo "== ThreadSanitizer: the keyboard table shared between threads, the replay's reader thread"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j2 --target keyboard_tests random_session_tests tolvenmire-sim bad_recording_tests
ctest --preset tsan

echo "Sanitizer builds and runs took $((SECONDS - started)) s."
