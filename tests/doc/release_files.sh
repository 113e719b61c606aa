#!/bin/sh
# SPDX-License-Identifier: MIT
# The files a release needs: the MIT licence in LICENSE, an SPDX line near the
# top of every source file, and a changelog entry for the project's version
# at the top of CHANGELOG.
# Usage: release_files.sh SOURCE_DIR VERSION
set -u
source=$1
version=$2
status=0
fail() {
  echo "FAIL: $*"
  status=1
}
cd "$source" || exit 1

head -n 1 LICENSE | grep -qx 'MIT License' || fail "LICENSE does not start with 'MIT License'"
grep -q '^Copyright (c) [0-9]\{4\}' LICENSE || fail "LICENSE has no copyright line"
grep -q '^Permission is hereby granted, free of charge' LICENSE || fail "LICENSE lacks the MIT text"

top=$(head -n 1 CHANGELOG)
[ "$top" = "vantrel ($version) unstable; urgency=medium" ] ||
  fail "CHANGELOG starts with '$top', not with the entry for $version"
trailer=$(grep -m 1 '^ -- ' CHANGELOG)
echo "$trailer" | grep -q '^ -- [^<]* <[^@>]*@[^>]*>  [A-Z][a-z][a-z], [0-9][0-9]* [A-Z][a-z][a-z] [0-9]\{4\} [0-9:]\{8\} [+-][0-9]\{4\}$' ||
  fail "CHANGELOG's first entry has no trailer line of the Debian form: '$trailer'"

# Source files: the tracked ones when this is a git work tree, else all but
# the build trees.
if command -v git >/dev/null 2>&1 && git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files)
else
  files=$(find . -path './build*' -prune -o -path ./.git -prune -o -type f -print | sed 's|^\./||')
fi
missing=""
count=0
for f in $files; do
  [ -f "$f" ] || continue
  case $f in
    fuzz/corpus/* | fuzz/regressions/* | tests/golden/* | doc/screenshots/*) continue ;;
    *.cpp | *.h | *.sh | *.zsh | *.bash | CMakeLists.txt | Makefile | completions/*) ;;
    *) head -c 2 "$f" | grep -q '^#!' || continue ;;
  esac
  count=$((count + 1))
  head -n 3 "$f" | grep -q 'SPDX-License-Identifier: MIT$' || missing="$missing
  $f"
done
[ -z "$missing" ] || fail "no SPDX-License-Identifier: MIT line in the first three lines of:$missing"

[ $status -eq 0 ] && echo "release files: LICENSE, CHANGELOG for $version, SPDX lines in $count source files"
exit $status
