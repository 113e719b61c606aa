#!/bin/sh
# SPDX-License-Identifier: MIT
# Lints the manual page and checks it against the program it documents:
# the version in its header and an entry for every option of the usage text.
# Usage: man_lint.sh MANPAGE VANTREL
set -u
page=$1
vantrel=$2
status=0

fail() {
  echo "FAIL: $*"
  status=1
}

if ! command -v groff >/dev/null 2>&1; then
  echo "FAIL: groff is missing (Debian package groff-base)"
  exit 1
fi
out=$(groff -man -ww -z "$page" 2>&1) || fail "groff exited with status $?"
[ -z "$out" ] || fail "groff warnings:
$out"

# mandoc is stricter; every message of its lint is a failure.
if command -v mandoc >/dev/null 2>&1; then
  out=$(mandoc -Tlint "$page" 2>&1)
  [ -z "$out" ] || fail "mandoc -Tlint:
$out"
else
  echo "note: mandoc not installed, its lint skipped"
fi

# A hyphenation point right after an opening quote breaks the line there with
# a stray hyphen; the page rendered at every width from 60 to 100 shows none.
for width in $(seq 60 100); do
  bad=$(groff -man -Tutf8 -rLL=${width}n -P-cbou "$page" 2>/dev/null |
    grep -n "\"[-‐]$")
  [ -z "$bad" ] || fail "stray hyphen after a quote at $width columns:
$bad"
done

version=$("$vantrel" -v | sed -n 's/^vantrel //p')
[ -n "$version" ] || fail "no version line from $vantrel -v"
grep -q "^\.TH VANTREL 1 [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] \"vantrel $version\"" "$page" ||
  fail ".TH does not name vantrel $version with a date (YYYY-MM-DD)"

# Each option of the usage text needs its own item, a .TP followed by the
# option in bold (with or without an argument).
letters=$("$vantrel" -h | sed -n 's/^  -\([0-9A-Za-z]\) .*/\1/p')
[ -n "$letters" ] || fail "no options found in the usage text"
for l in $letters; do
  awk -v l="$l" 'prev == ".TP" && ($0 == ".B \\-" l || index($0, ".BI \\-" l " ") == 1) { found = 1 }
    { prev = $0 } END { exit !found }' "$page" || fail "no item for -$l in the manual page"
done

[ $status -eq 0 ] && echo "manual page: lint clean, $(echo "$letters" | wc -w) options documented"
exit $status
