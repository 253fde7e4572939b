#!/usr/bin/env bash
# The session page of an hour in headless Chromium: its size, its opening time and
# the scrubber's redraw (bench/page_open.py; docs/performance.md). Builds the
# release tolvenmire-sim first; needs chromium, chromium-driver and python3-selenium.
#
#   bench/page_open.sh [--opens N] [--moves N]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}"
[ -f build/release/build.ninja ] || cmake --preset release >/dev/null
cmake --build --preset release -j2 --target tolvenmire-sim >&2
exec /usr/bin/python3 bench/page_open.py build/release/tolvenmire-sim "$@"
