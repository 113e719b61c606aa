#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs lintian --pedantic on the Debian package made by deb_build.sh, which
# must print no error (E:) and no warning (W:), and hardening-check on the
# program in it. Skipped, with status 77, where lintian or hardening-check
# (Debian packages lintian and devscripts) is missing; on CI that fails.
# HARDENED is ON when the build uses the hardening flags (not in a sanitizer
# build, which hardening-check then leaves alone), CONFIG the build type
# (_FORTIFY_SOURCE needs an optimising one).
# Usage: deb_lintian.sh DEB_DIR HARDENED CONFIG
set -u
hardened=$2
config=$3
set -- "$1"/vantrel_*.deb
[ -f "$1" ] || { echo "FAIL: no package in $(dirname "$1")"; exit 1; }
deb=$1
for tool in lintian:lintian hardening-check:devscripts; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
    echo "skipped: ${tool%%:*} is not installed (Debian package ${tool#*:})"
    [ -n "${CI:-}" ] && exit 1
    exit 77
  fi
done
status=0

# lintian warns on stderr that it runs as root; that is not about the package.
out=$(lintian --pedantic --info "$deb" 2>/dev/null)
echo "lintian --pedantic --info:"
echo "${out:-  (nothing to say)}"
if echo "$out" | grep -q '^[EW]: '; then
  echo "FAIL: lintian reports errors or warnings"
  status=1
fi

tree=$(mktemp -d) || exit 1
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree" || { echo "FAIL: dpkg-deb -x"; exit 1; }
# Control-flow protection is left out: the linker marks a program only when
# every object in it is built for it, and Debian 12's C start files (Scrt1.o,
# crti.o) are not, so no program of Debian 12 passes that check.
checks=--nocfprotection
case $config in
  Release | RelWithDebInfo | MinSizeRel) ;;
  *)
    echo "note: a $config build does not optimise, so has no _FORTIFY_SOURCE: its check skipped"
    checks="$checks --nofortify"
    ;;
esac
if [ "$hardened" != ON ]; then
  echo "note: this build has no hardening flags (a sanitizer build, or VANTREL_HARDENING off): hardening-check skipped"
elif ! hardening-check $checks "$tree/usr/bin/vantrel"; then
  echo "FAIL: hardening-check"
  status=1
fi
[ $status -eq 0 ] && echo "package: no lintian error or warning$([ "$hardened" = ON ] && echo ', hardening-check passed')"
exit $status
