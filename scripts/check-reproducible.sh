#!/usr/bin/env bash
# Checks that the player's package is reproducible bit for bit: two clean cross
# builds of the plug-in and the package from two clones of the same commit, in two
# folders at different paths, one after the other (so at different times), with a
# different umask and time zone, must give byte-identical Tolvenmire.asi,
# Tolvenmire-check.exe, zip and SHA256SUMS. Builds only what the package needs (no
# tests). The commit checked is HEAD: changes not committed are not in it. Without
# git history it checks two copies of the source tree instead. Installs what it
# needs when run as root.
#
#   scripts/check-reproducible.sh [--against DIST]
#
# --against DIST: the package a build of this very tree has just made (scripts/test.sh
# hands it the Windows test build's dist/) is the first of the two, and only the
# second is built; when the tree has changes not committed, both are built as ever.
# Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
need_packages "${PACKAGE_PACKAGES[@]}" git

against=
if [ "${1:-}" = --against ] && [ $# -eq 2 ]; then
    against=$2
elif [ $# -ne 0 ]; then
    echo "usage: $0 [--against DIST]" >&2
    exit 2
fi

started=$SECONDS
version=$(project_version)
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvenmire-reproducible.XXXXXX")
first=$work/a
second=$work/second-build/of/the/same/sources
mkdir -p "$first" "$second"

commit=
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ] &&
    commit=$(git rev-parse --verify -q HEAD 2>/dev/null); then
    what="commit ${commit:0:12}"
    if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        echo "note: the working tree has changes that are not committed; the check builds $what without them"
        against=
    fi
else
    what="this source tree (no git history)"
fi
# The sources of each build made here: the second alone when the first is given.
sources=("$second")
[ -n "$against" ] || sources=("$first" "$second")
for dir in "${sources[@]}"; do
    if [ -n "$commit" ]; then
        git clone -q --no-checkout "$PWD" "$dir"
        git -C "$dir" checkout -q --detach "$commit"
    else
        tar -c --exclude=./build --exclude=./dist --exclude=./out -f - . | tar -x -C "$dir"
    fi
done

# build DIR UMASK TZ
build() {
    local dir=$1
    echo "== Build in $dir (umask $2, TZ=$3)"
    if ! (cd "$dir" && umask "$2" && unset SOURCE_DATE_EPOCH && export TZ=$3 &&
        cmake --preset windows -DTOLVENMIRE_TESTS=OFF &&
        cmake --build --preset windows -j2 --target tolvenmire_package) >"$dir.log" 2>&1; then
        tail -n 30 "$dir.log" >&2
        echo "error: the build in $dir failed; its whole log is $dir.log" >&2
        exit 1
    fi
}
if [ -n "$against" ]; then
    mkdir -p "$first/dist"
    for f in Tolvenmire.asi Tolvenmire-check.exe "Tolvenmire-$version.zip" SHA256SUMS; do
        if [ ! -f "$against/$f" ]; then
            echo "error: $against/$f: not found (--against names the dist/ folder of a build of this tree)" >&2
            exit 1
        fi
        cp "$against/$f" "$first/dist/"
    done
    echo "== The first build: $against (umask $(umask), TZ=${TZ:-unset})"
else
    build "$first" 022 UTC
fi
build "$second" 002 Pacific/Chatham

status=0
for f in Tolvenmire.asi Tolvenmire-check.exe "Tolvenmire-$version.zip" SHA256SUMS; do
    a=$first/dist/$f
    b=$second/dist/$f
    if cmp "$a" "$b"; then
        echo "same bytes: $f ($(stat -c %s "$a") bytes, SHA-256 $(sha256sum "$a" | cut -d' ' -f1))"
    else
        status=1
    fi
done
if [ $status -ne 0 ]; then
    echo "error: two builds of $what differ; both are kept in $work (diffoscope, in Debian, shows how)" >&2
    exit 1
fi
rm -rf "$work"
echo "Reproducible: two builds of $what give the same bytes ($((SECONDS - started)) s)."
