#!/usr/bin/env bash
# The kill tests that record: save_kill_test kills (or makes exit) a Windows child
# under Wine per kill, which is the point, and keeps each recording left; the Linux
# build's kill_replay then replays every one natively, up to its last whole block,
# with no difference (recordings replay across the builds).
#
#   kill_and_replay.sh killed|exited WORK SAVE_KILL_TEST LINUX_KILL_REPLAY KILLS SEED EMULATOR...
#
# EMULATOR runs a Windows program (cmake/wine-exec.sh PREFIX).
set -euo pipefail

if [ $# -lt 7 ]; then
    echo "usage: $0 killed|exited WORK SAVE_KILL_TEST LINUX_KILL_REPLAY KILLS SEED EMULATOR..." >&2
    exit 2
fi
mode=$1 work=$2 save_kill_test=$3 kill_replay=$4 kills=$5 seed=$6
shift 6
case $mode in
killed) how=(--record) ;;
exited) how=(--exit) ;;
*)
    echo "$0: $mode: neither killed nor exited" >&2
    exit 2
    ;;
esac
if [ ! -x "$kill_replay" ]; then
    echo "FAILED: $kill_replay: not built; the recordings are replayed by the Linux build's" \
        "(scripts/test-windows.sh builds it)" >&2
    exit 1
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"
status=0
# A folder named from here: the Windows program runs in this one.
"$@" "$save_kill_test" --kills "$kills" --seed "$seed" "${how[@]}" --keep recordings || status=1
"$kill_replay" "$mode" recordings || status=1
[ $status -ne 0 ] || rm -rf "$work"
exit $status
