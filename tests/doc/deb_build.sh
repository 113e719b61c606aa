#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the Debian package from the build tree with CPack, as make package
# does, into a directory of its own, for the tests that check it.
# Usage: deb_build.sh BUILD_DIR OUT_DIR
set -u
build=$1
out=$2
command -v cpack >/dev/null 2>&1 || { echo "FAIL: cpack is missing"; exit 1; }
rm -rf "$out"
mkdir -p "$out" || exit 1
(cd "$build" && cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake") >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; echo "FAIL: cpack"; exit 1; }
set -- "$out"/vantrel_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  cat "$out/cpack.log"
  echo "FAIL: no single vantrel_*.deb made"
  exit 1
fi
# Only the package stays; CPack's staging tree is not needed.
rm -rf "$out/_CPack_Packages"
echo "package: $1"
