#!/usr/bin/env bash
# The package's changelog check (packaging/changelog-entry.sh): a version is packaged
# only with an entry of its own, dated and not empty; the entry ends at the next
# version's heading. Each case: the changelog, the version, and the exit status and
# output (the entry exactly, or the start of the error) expected.
#
#   changelog_entry_test.sh CHANGELOG_ENTRY_SH
set -euo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# case NAME VERSION STATUS EXPECTED CHANGELOG
case_() {
    local name=$1 version=$2 status=$3 expected=$4 changelog=$5 got=0 out
    printf '%b' "$changelog" >"$work/CHANGELOG.md"
    out=$("$check" "$work/CHANGELOG.md" "$version" 2>&1) || got=$?
    out=${out//$work\//}
    # The entry exactly; an error by its start.
    if [ "$got" -ne "$status" ] || { [ "$status" -eq 0 ] && [ "$out" != "$expected" ]; } ||
        [[ $out != "$expected"* ]]; then
        echo "FAILED $name: exit $got, output:" >&2
        printf '%s\n' "$out" >&2
        echo "  expected exit $status and output starting: $expected" >&2
        failures=$((failures + 1))
    fi
}

head='# Changelog\n\n## [Unreleased]\n- not yet\n\n'
case_ "the entry, up to the next version" 1.1.0 0 $'## [1.1.0] - 2027-01-02\n\n- faster' \
    "$head## [1.1.0] - 2027-01-02\n\n- faster\n## [1.0.0] - 2026-12-08\n- first\n"
case_ "an older version's entry" 1.0.0 0 $'## [1.0.0] - 2026-12-08\n- first' \
    "$head## [1.1.0] - 2027-01-02\n- faster\n## [1.0.0] - 2026-12-08\n- first\n"
case_ "no entry for the version" 1.2.0 1 "error: CHANGELOG.md: no entry for version 1.2.0" \
    "$head## [1.1.0] - 2027-01-02\n- faster\n"
case_ "only Unreleased" 1.0.0 1 "error: CHANGELOG.md: no entry for version 1.0.0" "$head"
case_ "a version that only starts the same" 1.0 1 "error: CHANGELOG.md: no entry for version 1.0" \
    "## [1.0.1] - 2027-01-02\n- fix\n"
case_ "a dot is not any character" 1.0.0 1 "error: CHANGELOG.md:1: the heading of version 1.0.0 must read" \
    "## [1.0.0] - 2027x01-02\n- fix\n"
case_ "no release date" 1.0.0 1 "error: CHANGELOG.md:6: the heading of version 1.0.0 must read" \
    "$head## [1.0.0]\n- first\n"
case_ "an empty entry" 1.1.0 1 "error: CHANGELOG.md:6: the entry of version 1.1.0 is empty" \
    "$head## [1.1.0] - 2027-01-02\n\n## [1.0.0] - 2026-12-08\n- first\n"
out=$("$check" "$work/nothing.md" 1.0.0 2>&1) && failures=$((failures + 1)) || true
[[ ${out//$work\//} == "error: nothing.md: no such file"* ]] || { echo "FAILED no changelog: $out" >&2; failures=$((failures + 1)); }

if [ $failures -ne 0 ]; then
    echo "$failures case(s) failed" >&2
    exit 1
fi
echo "changelog check: every case as expected"
