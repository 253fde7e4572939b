#!/usr/bin/env bash
# Packs the player's package from the staged files, the same bytes from the same
# commit wherever and whenever it is built:
#   DIST/Tolvenmire-VERSION.zip  Tolvenmire.asi, Tolvenmire-check.exe, Tolvenmire.ini,
#                                Tolvenmire-README.txt
#   DIST/Tolvenmire.asi          the plug-in alone, as in the zip
#   DIST/Tolvenmire-check.exe    the check program alone, as in the zip
#   DIST/SHA256SUMS              the three, as sha256sum -c reads them
# The zip's entries are in name order, with permissions 644 (755 for the programs)
# and no owner or extra timestamps (strip-nondeterminism), all dated
# SOURCE_DATE_EPOCH: when unset, the time of the last commit, or without git history
# the release date of the version's changelog entry. Refuses a version that has no
# changelog entry. Run by the tolvenmire_package target (packaging/CMakeLists.txt).
#
#   pack.sh VERSION SOURCE_DIR STAGE_DIR PLUGIN CHECK_PROGRAM DIST
set -euo pipefail

if [ $# -ne 6 ]; then
    echo "usage: $0 VERSION SOURCE_DIR STAGE_DIR PLUGIN CHECK_PROGRAM DIST" >&2
    exit 2
fi
version=$1
source_dir=$2
stage=$3
plugin=$4
check=$5
dist=$6
here=$(dirname "$0")

for tool in zip:zip strip-nondeterminism:strip-nondeterminism sha256sum:coreutils; do
    command -v "${tool%%:*}" >/dev/null ||
        { echo "error: ${tool%%:*} not found (Debian package ${tool#*:}); the package is made with it" >&2; exit 1; }
done

entry=$("$here/changelog-entry.sh" "$source_dir/CHANGELOG.md" "$version")

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
    dated="SOURCE_DATE_EPOCH"
elif [ "$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$source_dir" && pwd -P)" ] &&
    epoch=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) && [ -n "$epoch" ]; then
    # (The sources' own history: not that of a repository they were unpacked into.)
    dated="the last commit"
else
    # No git history (a source archive): the release date of the changelog entry,
    # which is the same in every copy of these sources.
    day=$(head -n 1 <<<"$entry" | sed 's/^.* - //')
    epoch=$(date -u -d "$day" +%s)
    dated="the release date in CHANGELOG.md; no git history"
    echo "note: no git history in $source_dir: the zip's entries are dated $day, the release date of version $version in CHANGELOG.md" >&2
fi
if ! [[ $epoch =~ ^[0-9]+$ ]]; then
    echo "error: bad SOURCE_DATE_EPOCH \"$epoch\" (seconds since 1970, as in git log --format=%ct)" >&2
    exit 1
fi

zip_name=Tolvenmire-$version.zip
mkdir -p "$dist"
rm -f "$dist/$zip_name" "$dist/Tolvenmire.asi" "$dist/Tolvenmire-check.exe" "$dist/SHA256SUMS"
cp "$plugin" "$stage/Tolvenmire.asi"
cp "$check" "$stage/Tolvenmire-check.exe"
tmp=$stage/$zip_name
rm -f "$tmp"
# -X: no owner, no extra timestamps; -D: no folder entries.
(cd "$stage" && zip -q -X -D "$zip_name" Tolvenmire.asi Tolvenmire-check.exe Tolvenmire.ini Tolvenmire-README.txt)
strip-nondeterminism --type zip --timestamp "$epoch" "$tmp" >/dev/null
chmod 644 "$tmp"
mv "$tmp" "$dist/$zip_name"
cp "$plugin" "$dist/Tolvenmire.asi"
cp "$check" "$dist/Tolvenmire-check.exe"
(cd "$dist" && sha256sum "$zip_name" Tolvenmire.asi Tolvenmire-check.exe >SHA256SUMS)
echo "Packed $dist/$zip_name, entries dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC') ($dated)"
