#!/bin/sh
# Installs the build tree into a staging directory with DESTDIR and a
# non-default prefix, and checks that exactly the expected files arrive, with
# the expected modes and contents.
# Usage: install_layout.sh BUILD_DIR SOURCE_DIR MAN_PAGE_NAME
set -u
build=$1
source=$2
man=$3
stage=$(mktemp -d) || exit 1
trap 'rm -rf "$stage"' EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

DESTDIR=$stage cmake --install "$build" --prefix /opt/vt >"$stage.log" 2>&1 ||
  { cat "$stage.log"; rm -f "$stage.log"; echo "FAIL: cmake --install"; exit 1; }
rm -f "$stage.log"

got=$(cd "$stage" && find . -type f -printf '%m %p\n' | sort)
expected=$(sort <<EOT
755 ./opt/vt/bin/vantrel
644 ./opt/vt/share/man/man1/$man
644 ./opt/vt/share/bash-completion/completions/vantrel
644 ./opt/vt/share/zsh/vendor-completions/_vantrel
EOT
)
[ "$got" = "$expected" ] || fail "installed files differ:
expected:
$expected
got:
$got"

root=$stage/opt/vt
if [ -x "$root/bin/vantrel" ]; then
  [ "$("$root/bin/vantrel" -v)" = "vantrel $(sed -n 's/^project(vantrel VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")" ] ||
    fail "installed vantrel -v does not print the project's version"
fi
case $man in
  *.gz) page=$(gzip -dc "$root/share/man/man1/$man" 2>/dev/null) ;;
  *) page=$(cat "$root/share/man/man1/$man" 2>/dev/null) ;;
esac
[ "$page" = "$(cat "$source/doc/vantrel.1")" ] || fail "installed manual page differs from doc/vantrel.1"
cmp -s "$root/share/bash-completion/completions/vantrel" "$source/completions/vantrel.bash" ||
  fail "installed bash completion differs"
cmp -s "$root/share/zsh/vendor-completions/_vantrel" "$source/completions/_vantrel" ||
  fail "installed zsh completion differs"

[ $status -eq 0 ] && echo "install layout: as expected under DESTDIR and prefix /opt/vt"
exit $status
