#!/bin/sh
# SPDX-License-Identifier: MIT
# The set-up path of make, on a pretend machine: tools/check-deps runs with
# fake dpkg-query, apt-get, sudo and id first on PATH, which report and record
# what it asks of them. Then which package groups each make target asks for.
# Usage: check_deps.sh SOURCE_DIR
set -u
source=$1
script=$source/tools/check-deps
. "$(dirname "$0")/lib.sh"

# The fakes: dpkg-query reports the packages listed in $work/installed,
# apt-get records its arguments in $work/log and "installs" into that list,
# sudo works without a password when FAKE_SUDO is ok, and id -u prints FAKE_UID.
mkdir -p "$work/bin" "$work/sys"
for tool in sh env cat true; do
  for dir in /usr/bin /bin; do
    if [ -x "$dir/$tool" ]; then
      ln -s "$dir/$tool" "$work/sys/$tool"
      break
    fi
  done
done
cat >"$work/bin/dpkg-query" <<'EOT'
#!/bin/sh
for arg; do package=$arg; done
while read -r p; do
  if [ "$p" = "$package" ]; then printf 'install ok installed'; exit 0; fi
done <"$FAKE_ROOT/installed"
echo "dpkg-query: no packages found matching $package" >&2
exit 1
EOT
cat >"$work/bin/apt-get" <<'EOT'
#!/bin/sh
echo "apt-get $* [DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}]" >>"$FAKE_ROOT/log"
[ -n "${FAKE_APT_FAIL:-}" ] && exit 100
if [ "$1" = install ]; then
  for arg; do
    case $arg in install | -*) ;; *) echo "$arg" >>"$FAKE_ROOT/installed" ;; esac
  done
fi
exit 0
EOT
cat >"$work/bin/sudo" <<'EOT'
#!/bin/sh
[ "$1" = -n ] || { echo "fake sudo: only sudo -n is expected" >&2; exit 2; }
shift
if [ "$FAKE_SUDO" != ok ]; then
  echo "sudo: a password is required" >&2
  exit 1
fi
[ "$1" = true ] || echo "sudo -n $*" >>"$FAKE_ROOT/log"
exec "$@"
EOT
cat >"$work/bin/id" <<'EOT'
#!/bin/sh
[ "$1" = -u ] && echo "$FAKE_UID"
EOT
chmod +x "$work/bin"/*

# Runs check-deps with the given groups; $uid, $sudo ("ok", "password" or
# "absent"), $no_install and $apt_fail set the scene. The output goes to
# $work/out, the status to $rc.
run() {
  rm -f "$work/log"
  : >"$work/log"
  if [ "$sudo" = absent ]; then mv "$work/bin/sudo" "$work/sudo.off"; fi
  env -i PATH="$work/bin:$work/sys" FAKE_ROOT="$work" FAKE_UID="$uid" FAKE_SUDO="$sudo" \
    ${no_install:+NO_INSTALL="$no_install"} ${apt_fail:+FAKE_APT_FAIL=1} \
    sh "$script" "$@" >"$work/out" 2>&1
  rc=$?
  if [ "$sudo" = absent ]; then mv "$work/sudo.off" "$work/bin/sudo"; fi
}
installed() { printf '%s\n' "$@" >"$work/installed"; }
program="cmake g++ make pkg-config libncurses-dev"
test_packages="libgtest-dev libvterm-dev groff-base locales mandoc zsh valgrind tmux dpkg-dev file lintian devscripts gawk iputils-ping"
expect() { # what, condition...
  what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    fail "$what
--- output:
$(cat "$work/out")
--- log:
$(cat "$work/log")"
  fi
}
log_is() { [ "$(cat "$work/log")" = "$1" ]; }
out_has() { grep -qF -- "$1" "$work/out"; }

uid=0 sudo=absent no_install="" apt_fail=""

# Everything there: nothing said, nothing run.
installed $program $test_packages
run program test
expect "all installed: status 0, no output, no apt-get" \
  test $rc -eq 0 -a ! -s "$work/out" -a ! -s "$work/log"

# A fresh machine of the project's kind, as root: the program's packages are
# there, the test packages are not. make demo asks for the program only.
installed $program
run program
expect "root, program only: nothing to install" test $rc -eq 0 -a ! -s "$work/log"
installed $program libgtest-dev groff-base
run program test
missing="libvterm-dev locales mandoc zsh valgrind tmux dpkg-dev file lintian devscripts gawk iputils-ping"
expect "root: installs exactly the missing packages, after apt-get update" \
  log_is "apt-get update [DEBIAN_FRONTEND=noninteractive]
apt-get install -y --no-install-recommends $missing [DEBIAN_FRONTEND=noninteractive]"
expect "root: status 0" test $rc -eq 0
expect "root: prints the one command it runs" \
  out_has "+ env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get update && apt-get install -y --no-install-recommends $missing'"
run program test
expect "root, second run: nothing left to install" test $rc -eq 0 -a ! -s "$work/log"

# Not root, sudo without a password: the same command through sudo -n.
uid=1000 sudo=ok
installed $program
run program test
expect "sudo -n: the command runs through sudo" \
  out_has "+ sudo -n env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get update && apt-get install -y --no-install-recommends $test_packages'"
expect "sudo -n: apt-get ran, status 0" test $rc -eq 0 -a "$(grep -c '^apt-get' "$work/log")" -eq 2

# Not root, sudo wants a password: the command to run, status 1, nothing run.
sudo=password
installed cmake g++ make pkg-config
run program
expect "sudo with a password: status 1, apt-get not run" \
  test $rc -eq 1 -a "$(grep -c '^apt-get' "$work/log")" -eq 0
expect "sudo with a password: prints the command to run" \
  out_has "sudo sh -c 'apt-get update && apt-get install -y --no-install-recommends libncurses-dev'"

# Not root, no sudo at all (a minimal Debian): the command to run as root.
sudo=absent
run program
expect "no sudo: status 1, apt-get not run" test $rc -eq 1 -a ! -s "$work/log"
expect "no sudo: prints the command for root" \
  out_has "  apt-get update && apt-get install -y --no-install-recommends libncurses-dev"
expect "no sudo: does not suggest sudo" sh -c "! grep -q sudo '$work/out'"

# NO_INSTALL=1 turns the installing off, even for root.
uid=0 no_install=1
run program
expect "NO_INSTALL=1: status 1, apt-get not run, the command printed" \
  test $rc -eq 1 -a ! -s "$work/log" -a "$(grep -c 'apt-get update && apt-get install' "$work/out")" -eq 1
no_install=0
run program
expect "NO_INSTALL=0: installs" test $rc -eq 0 -a "$(grep -c '^apt-get' "$work/log")" -eq 2

# apt-get fails: status 1 and a message.
installed $program
apt_fail=1
run program test
expect "apt-get failing: status 1" test $rc -eq 1
expect "apt-get failing: says so" out_has "installing failed"
apt_fail=""

# An unknown group is a mistake in the Makefile.
run nonsense
expect "unknown group: status 2" test $rc -eq 2

# Which groups each make target asks for (make -n prints the recipes).
makes() { # target, expected check-deps line
  got=$(make -s -n -C "$source" BUILD="$work/b" SAN_BUILD="$work/s" BENCH_BUILD="$work/bb" \
    FUZZ_BUILD="$work/f" "$1" 2>&1 | grep 'tools/check-deps' | sort -u)
  if [ "$got" = "$2" ]; then
    passed=$((passed + 1))
  else
    fail "make $1 asks for [$got], expected [$2]"
  fi
}
if command -v make >/dev/null 2>&1; then
  makes all "tools/check-deps program"
  makes demo "tools/check-deps program"
  makes install "tools/check-deps program"
  makes check "tools/check-deps program test"
  makes package "tools/check-deps program
tools/check-deps program package"
  makes screenshots "tools/check-deps program test"
else
  fail "make is missing"
fi

echo "check-deps: $passed passed, $failed failed"
exit $status
