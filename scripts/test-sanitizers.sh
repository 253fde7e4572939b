#!/usr/bin/env bash
# Builds Tolvenmire and the stand-in host with the sanitizers (the plug-in with the
# same flags as the host that loads it) and runs:
#   - the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, which
#     stop at the first finding (preset asan, build/asan);
#   - the tests that share the keyboard table between two threads under
#     ThreadSanitizer (preset tsan, build/tsan).
# Installs what it needs when run as root. Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

started=$SECONDS
echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan -j2 -E '^Command\.'
# The player's command tests compare what tolvenmire-sim prints byte for byte, and
# AddressSanitizer prints a warning of its own on the first swapcontext (the host's
# fiber switch) of every process. These tests run with the sanitizers' reports sent
# to files, which must then hold nothing but that warning.
reports="$PWD/build/asan/command-reports"
rm -rf "$reports" && mkdir -p "$reports"
ASAN_OPTIONS="log_path=$reports/asan" UBSAN_OPTIONS="log_path=$reports/ubsan" ctest --preset asan -j2 -R '^Command\.'
if cat "$reports"/* 2>/dev/null | grep -v "ASan doesn't fully support makecontext/swapcontext" | grep -q .; then
    echo "error: the sanitizers reported faults in the player's command tests:" >&2
    cat "$reports"/* >&2
    exit 1
fi

echo "== ThreadSanitizer: the keyboard table shared between threads"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j2 --target tolvenmire_tests
ctest --preset tsan

echo "Sanitizer builds and runs took $((SECONDS - started)) s."
