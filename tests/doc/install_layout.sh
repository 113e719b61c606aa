#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build tree into a staging directory with DESTDIR and a
# non-default prefix, and checks that exactly the expected files arrive, with
# the expected modes and contents. Then the zsh completion's place under the
# prefixes /usr/local (site-functions, which zsh searches there) and /usr
# (vendor-completions, where distribution packages put theirs).
# Usage: install_layout.sh BUILD_DIR SOURCE_DIR MAN_PAGE_NAME
set -u
build=$1
source=$2
man=$3
stage=$(mktemp -d) || exit 1
trap 'rm -rf "$stage" "$stage.log"' EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# Installs into $stage/$1 under the prefix $2.
install_to() {
  DESTDIR=$stage/$1 cmake --install "$build" --prefix "$2" >"$stage.log" 2>&1 ||
    { cat "$stage.log"; echo "FAIL: cmake --install --prefix $2"; exit 1; }
}

install_to opt /opt/vt
got=$(cd "$stage/opt" && find . -type f -printf '%m %p\n' | sort)
expected=$(sort <<EOT
755 ./opt/vt/bin/vantrel
644 ./opt/vt/share/man/man1/$man
644 ./opt/vt/share/bash-completion/completions/vantrel
644 ./opt/vt/share/zsh/site-functions/_vantrel
644 ./opt/vt/share/doc/vantrel/copyright
644 ./opt/vt/share/doc/vantrel/changelog${man#vantrel.1}
EOT
)
[ "$got" = "$expected" ] || fail "installed files differ:
expected:
$expected
got:
$got"

root=$stage/opt/opt/vt
version=$(sed -n 's/^project(vantrel VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
if [ -x "$root/bin/vantrel" ]; then
  [ "$("$root/bin/vantrel" -v)" = "vantrel $version" ] ||
    fail "installed vantrel -v does not print the project's version $version"
fi
case $man in
  *.gz) page=$(gzip -dc "$root/share/man/man1/$man" 2>/dev/null) ;;
  *) page=$(cat "$root/share/man/man1/$man" 2>/dev/null) ;;
esac
[ "$page" = "$(cat "$build/vantrel.1")" ] || fail "installed manual page differs from $build/vantrel.1"
case $page in
  *"@PROJECT_VERSION@"* | *"@"[A-Z_]*"@"*) fail "installed manual page has an unreplaced @VARIABLE@" ;;
esac
echo "$page" | head -n 1 | grep -q "\"vantrel $version\"" || fail "manual page header does not name $version"
cmp -s "$root/share/bash-completion/completions/vantrel" "$source/completions/vantrel.bash" ||
  fail "installed bash completion differs"
cmp -s "$root/share/zsh/site-functions/_vantrel" "$source/completions/_vantrel" ||
  fail "installed zsh completion differs"
cmp -s "$root/share/doc/vantrel/copyright" "$build/copyright" || fail "installed copyright file differs"

# The zsh completion by prefix.
for case in /usr/local:site-functions /usr:vendor-completions /usr/:vendor-completions \
  /opt/usr:site-functions; do
  prefix=${case%%:*}
  dir=${case#*:}
  install_to zsh "$prefix"
  found=$(cd "$stage/zsh" && find . -name _vantrel | sed 's|^\.||')
  want=$(echo "$prefix/share/zsh/$dir/_vantrel" | sed 's|//*|/|g')
  [ "$found" = "$want" ] || fail "prefix $prefix: zsh completion at '$found', not $want"
  rm -rf "$stage/zsh"
done

[ $status -eq 0 ] && echo "install layout: as expected under DESTDIR and prefix /opt/vt; zsh completion in site-functions, under /usr in vendor-completions"
exit $status
