#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the Debian package made by deb_build.sh: its contents (exactly the
# expected paths, owners and modes), its copyright file and changelog, and its
# control fields.
# Usage: deb_package.sh DEB_DIR MAN_PAGE_NAME VERSION
set -u
man=$2
version=$3
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

command -v dpkg-deb >/dev/null 2>&1 || { echo "FAIL: dpkg-deb is missing"; exit 1; }
set -- "$1"/vantrel_*.deb
[ -f "$1" ] || { echo "FAIL: no package in $(dirname "$1")"; exit 1; }
deb=$1
[ "$(basename "$deb")" = "vantrel_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "package file named $(basename "$deb")"

# Owner and mode of every entry, then its path.
got=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | sort -k3)
expected=$(sort -k3 <<EOT
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/vantrel
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vantrel
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/vantrel/
-rw-r--r-- root/root ./usr/share/doc/vantrel/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vantrel/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/$man
drwxr-xr-x root/root ./usr/share/zsh/
drwxr-xr-x root/root ./usr/share/zsh/vendor-completions/
-rw-r--r-- root/root ./usr/share/zsh/vendor-completions/_vantrel
EOT
)
[ "$got" = "$expected" ] || fail "package contents differ:
expected:
$expected
got:
$got"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vantrel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Maintainer)" = "vantrel developers <dev@vantrel.dev>" ] ||
  fail "Maintainer is '$(field Maintainer)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for lib in libc6 libncursesw6 libtinfo6 libstdc++6; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$lib\( \|$\)" || fail "Depends lacks $lib: '$depends'"
done

# The files of /usr/share/doc/vantrel, read from the package itself.
tree=$(mktemp -d) || exit 1
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree" || fail "dpkg-deb -x"
doc=$tree/usr/share/doc/vantrel
if [ -f "$doc/copyright" ]; then
  head -n 1 "$doc/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
  grep -qx 'License: Expat' "$doc/copyright" || fail "copyright names no Expat (MIT) licence"
  grep -q '^Copyright: [0-9]' "$doc/copyright" || fail "copyright has no Copyright field"
  grep -q '^ Permission is hereby granted' "$doc/copyright" || fail "copyright lacks the licence text"
fi
if [ -f "$doc/changelog.gz" ]; then
  top=$(gzip -dc "$doc/changelog.gz" | head -n 1)
  [ "$top" = "vantrel ($version) unstable; urgency=medium" ] ||
    fail "changelog starts with '$top', not the entry for $version"
fi
page=$tree/usr/share/man/man1/$man
case $man in
  *.gz) head=$(gzip -dc "$page" | head -n 1) ;;
  *) head=$(head -n 1 "$page") ;;
esac
case $head in
  *"\"vantrel $version\""*) ;;
  *) fail "manual page header '$head' does not name vantrel $version" ;;
esac

[ $status -eq 0 ] && echo "package: $(basename "$deb"), Depends: $depends"
exit $status
