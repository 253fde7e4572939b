#!/usr/bin/env bash
# Builds the player's package: dist/Tolvenmire-<version>.zip (Tolvenmire.asi, the
# Windows plug-in, cross-compiled; Tolvenmire-check.exe, which explains the settings
# file beside it; Tolvenmire.ini, every setting at its default, explained;
# Tolvenmire-README.txt), the two programs alone beside it, and dist/SHA256SUMS of
# the three, then prints the path, size and SHA-256 of each. The
# version is the one in the top CMakeLists.txt; CHANGELOG.md must have its entry.
# The same commit gives the same bytes (scripts/check-reproducible.sh). Installs what
# it needs when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${PACKAGE_PACKAGES[@]}"

version=$(project_version)
# Before the build: a version without a changelog entry is not packaged.
packaging/changelog-entry.sh CHANGELOG.md "$version" >/dev/null

zip=dist/Tolvenmire-$version.zip
# Packed afresh each time, so that the entries carry the date of the commit built.
rm -f "$zip"
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target tolvenmire_package

for f in "$zip" dist/Tolvenmire.asi dist/Tolvenmire-check.exe dist/SHA256SUMS; do
    [ -f "$f" ] || { echo "error: $f was not made" >&2; exit 1; }
done
(cd dist && sha256sum --quiet -c SHA256SUMS) || { echo "error: dist/SHA256SUMS does not match the files" >&2; exit 1; }
unzip -l "$zip"
echo "Package of Tolvenmire $version (what it changes: CHANGELOG.md):"
for f in "$zip" dist/Tolvenmire.asi dist/Tolvenmire-check.exe; do
    printf '  %-26s %7d bytes  SHA-256 %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done
echo "Checksums: dist/SHA256SUMS (check a download with: sha256sum -c SHA256SUMS)"
