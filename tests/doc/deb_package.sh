#!/bin/sh
# Builds the Debian package from the build tree with CPack, into a scratch
# directory, and checks its contents (exactly the expected paths, owners and
# modes) and its control fields.
# Usage: deb_package.sh BUILD_DIR MAN_PAGE_NAME
set -u
build=$1
man=$2
out=$(mktemp -d) || exit 1
trap 'rm -rf "$out"' EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

for tool in cpack dpkg-deb; do
  command -v $tool >/dev/null 2>&1 || { echo "FAIL: $tool is missing"; exit 1; }
done
(cd "$build" && cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake") >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; echo "FAIL: cpack"; exit 1; }
set -- "$out"/vantrel_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  cat "$out/cpack.log"
  echo "FAIL: no single vantrel_*.deb made"
  exit 1
fi
deb=$1

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
[ "$(field Version)" = 1.7.6 ] || fail "Version is '$(field Version)'"
[ "$(field Maintainer)" = "vantrel developers <dev@vantrel.dev>" ] ||
  fail "Maintainer is '$(field Maintainer)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for lib in libc6 libncursesw6 libtinfo6 libstdc++6; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$lib\( \|$\)" || fail "Depends lacks $lib: '$depends'"
done
info=$(dpkg-deb -I "$deb")
echo "$info" | grep -q '^ Package: vantrel$' || fail "dpkg-deb -I shows no 'Package: vantrel'"
echo "$info" | grep -q '^ Version: 1\.7\.6$' || fail "dpkg-deb -I shows no 'Version: 1.7.6'"

[ $status -eq 0 ] && echo "package: $(basename "$deb"), Depends: $depends"
exit $status
