#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every pipeline of the README and of the manual page's examples with a
# reader in the place of vantrel that takes the first line and quits, as a
# user's q does. The pipeline must deliver that line while it runs (a producer
# that holds its output back delivers none), the line must be numbers in the
# C locale's notation, and the whole pipeline must end soon after the reader
# has gone (a producer loop that outlives its reader never gives the prompt
# back). Each pipeline runs with every awk at hand among mawk and gawk.
# Machine-specific names are replaced: eth0 by lo, vda by this machine's first
# disk, deb.debian.org by 127.0.0.1.
# Usage: pipelines.sh README MANPAGE
set -u
readme=$1
manpage=$2
. "$(dirname "$0")/lib.sh"

# The README's indented code blocks, and the manual page's .EX/.EE blocks with
# the roff escapes undone, one file each; only those that pipe into vantrel.
awk -v dir="$work" '
  function flush() { if (block ~ /\|[ \n]*vantrel/) { f = dir "/readme." (++n); printf "%s", block > f; close(f) } block = "" }
  /^    / { block = block substr($0, 5) "\n"; next }
  { flush() }
  END { flush() }
' "$readme"
awk -v dir="$work" '
  function flush() { if (block ~ /\|[ \n]*vantrel/) { f = dir "/manpage." (++n); printf "%s", block > f; close(f) } block = "" }
  /^\.EX/ { inside = 1; next }
  /^\.EE/ { inside = 0; flush(); next }
  inside {
    line = $0
    gsub(/\\-/, "-", line); gsub(/\\\(aq/, "\047", line); gsub(/\\\(dq/, "\"", line)
    gsub(/\\e/, "\\", line)
    block = block line "\n"
  }
' "$manpage"
set -- "$work"/readme.* "$work"/manpage.*
[ -f "$work/readme.1" ] || fail "no pipeline into vantrel found in $readme"
[ -f "$work/manpage.1" ] || fail "no pipeline into vantrel found in $manpage"

disk=$(awk 'NR == 1 { print $3 }' /proc/diskstats 2>/dev/null)
can_ping=0
if command -v ping >/dev/null 2>&1 && ping -c 1 -W 2 127.0.0.1 >/dev/null 2>&1; then can_ping=1; fi

awks=""
for a in mawk gawk; do
  command -v $a >/dev/null 2>&1 && awks="$awks $a"
done
[ -n "$awks" ] || awks=" awk"
for a in mawk gawk; do
  case "$awks " in
    *" $a "*) ;;
    *) echo "note: $a is not installed (Debian package $a), the pipelines were not run with it: skipped" ;;
  esac
done

# A pipeline ends within this many seconds after its reader quits; producers
# here write once a second at most.
limit=20
for block; do
  [ -f "$block" ] || continue
  name=$(basename "$block")
  text=$(cat "$block")
  case $text in
    some-producer* | *"some-producer"*) continue ;;
  esac
  case $text in
    *ping*)
      if [ $can_ping -eq 0 ]; then
        echo "note: $name: ping is missing or cannot run here (iputils-ping): skipped"
        continue
      fi
      ;;
  esac
  case $text in
    *vda*)
      if [ -z "$disk" ]; then
        echo "note: $name: no disk in /proc/diskstats: skipped"
        continue
      fi
      ;;
  esac
  # Everything before the last "| vantrel", with the machine's names.
  producer=$(awk '{ all = all $0 "\n" } END {
      n = 0; while (match(substr(all, n + 1), /\|[ \n]*vantrel/)) { last = n + RSTART; n += RSTART + RLENGTH - 1 }
      printf "%s", substr(all, 1, last - 1) }' "$block" |
    sed -e 's/eth0/lo/g' -e "s/vda/$disk/g" -e 's/deb\.debian\.org/127.0.0.1/g')
  two=0
  case $text in *"vantrel -2"* | *"vantrel"*" -2 "*) two=1 ;; esac
  for a in $awks; do
    mkdir -p "$work/$a"
    ln -sf "$(command -v $a)" "$work/$a/awk"
    start=$(date +%s)
    line=$(PATH="$work/$a:$PATH" timeout $limit sh -c "$producer | head -n 1" 2>"$work/err")
    rc=$?
    took=$(($(date +%s) - start))
    what="$name with $a:
$producer"
    if [ $rc -eq 124 ]; then
      fail "$what
  did not end within ${limit}s after the reader quit (read: '$line')"
      continue
    fi
    if [ $two -eq 1 ]; then
      pattern='^-\{0,1\}[0-9][0-9]*\(\.[0-9]*\)\{0,1\} -\{0,1\}[0-9][0-9]*\(\.[0-9]*\)\{0,1\}$'
    else
      pattern='^-\{0,1\}[0-9][0-9]*\(\.[0-9]*\)\{0,1\}$'
    fi
    if ! echo "$line" | grep -q "$pattern"; then
      fail "$what
  first line '$line' is not $([ $two -eq 1 ] && echo 'a pair of numbers' || echo 'a number') (stderr: $(cat "$work/err"))"
      continue
    fi
    passed=$((passed + 1))
    echo "ok: $name with $a: '$line', ended after ${took}s"
  done
done

echo "pipelines: $passed passed, $failed failed"
exit $status
