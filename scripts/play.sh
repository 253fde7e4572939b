#!/usr/bin/env bash
# Builds the plug-in and plays a session in the stand-in host, printing what the
# plug-in did. Installs what it needs when run as root. Arguments go to
# tolvenmire-sim (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release -j2 >/dev/null
if [ $# -eq 0 ]; then
    set -- scenarios/evening.txt
fi
exec build/release/tolvenmire-sim "$@"
