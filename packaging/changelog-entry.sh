#!/usr/bin/env bash
# Prints the entry of VERSION in the changelog: its heading ("## [1.0.0] -
# 2026-12-08", as Keep a Changelog writes it) and the text under it, up to the next
# version's heading. Fails, naming the file and what is missing, when there is no
# such entry or it says nothing: a version is not packaged without telling players
# what it changed.
#
#   changelog-entry.sh CHANGELOG VERSION
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 CHANGELOG VERSION" >&2
    exit 2
fi
changelog=$1
version=$2
if [ ! -f "$changelog" ]; then
    echo "error: $changelog: no such file; it must have an entry for version $version" >&2
    exit 1
fi

entry=$(awk -v v="$version" '
    /^## \[/ {
        if (on) exit
        heading = $0
        if (index(heading, "## [" v "]") == 1) { on = 1; print NR ":" heading; next }
    }
    on { print }
' "$changelog")
if [ -z "$entry" ]; then
    echo "error: $changelog: no entry for version $version; add one (\"## [$version] - YYYY-MM-DD\" and what it changes for players) before packaging it" >&2
    exit 1
fi
line=${entry%%:*}
heading=$(head -n 1 <<<"${entry#*:}")
if ! grep -Eq "^## \[$(sed 's/\./\\./g' <<<"$version")\] - [0-9]{4}-[0-9]{2}-[0-9]{2}\$" <<<"$heading"; then
    echo "error: $changelog:$line: the heading of version $version must read \"## [$version] - YYYY-MM-DD\" (the release date), not \"$heading\"" >&2
    exit 1
fi
# Not `tail | grep -q`: grep stops at the first match, and under pipefail the
# tail it leaves writing (SIGPIPE) would fail the test now and then.
if ! grep -q '[^[:space:]]' <<<"$(tail -n +2 <<<"$entry")"; then
    echo "error: $changelog:$line: the entry of version $version is empty; say what it changes for players" >&2
    exit 1
fi
printf '%s\n' "${entry#*:}"
