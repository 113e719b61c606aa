#!/bin/sh
# SPDX-License-Identifier: MIT
# peer.sh: vantrel beside feedgnuplot (streaming mode, gnuplot's dumb
# terminal at the same size), one after the other in one run on the same
# machine, each in a pseudo-terminal driven by the flood driver:
#
#   flood   as many samples as each takes, 80x24 and 200x50 (vantrel -b there)
#   steady  100 samples a second, 80x24; the peer once with its default
#           refresh (once a second) and once refreshing 100 times a second,
#           as often as vantrel repaints
#
# and prints the medians and the ratios. The peer is for this benchmark
# only; nothing else needs it.
#
# Usage: bench/peer.sh [build-dir] [runs] [steady-seconds]
# (VANTREL=path runs another build of the program than build-dir/vantrel)
set -eu

build=${1:-build-bench}
runs=${2:-3}
seconds=${3:-20}
flood="$build/flood"
vantrel=${VANTREL:-$build/vantrel}

if ! command -v feedgnuplot >/dev/null 2>&1 || ! command -v gnuplot >/dev/null 2>&1; then
  echo "peer.sh: the peer is missing. Install it with: apt-get install feedgnuplot gnuplot-nox" >&2
  exit 1
fi
if [ ! -x "$flood" ] || [ ! -x "$vantrel" ]; then
  echo "peer.sh: $flood or $vantrel is missing; build them with make bench" >&2
  exit 1
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT

# The value of one figure in the median line of the last measurement.
figure() {
  tail -n 1 "$out" | tr ' ' '
' | sed -n "s|^$1=||p"
}

# measure NAME flood-options -- command: runs the driver, shows its lines and
# keeps the median line's figures as NAME_<figure> shell variables.
measure() {
  name=$1
  shift
  "$flood" --runs "$runs" "$@" >"$out"
  cat "$out"
  for f in samples/s cpu_s/Msample cpu_us/sample frames/s bytes/frame; do
    v=$(figure "$f")
    key=$(echo "$f" | tr '/' '_')
    eval "${name}_${key}=\${v:-0}"
  done
}

peer() {
  # $1 columns, $2 rows, $3 refresh period; the rest are flood options.
  cols=$1 rows=$2 period=$3
  shift 3
  measure "$@" --cols "$cols" --rows "$rows" --marker '\f' --quit '' --label "feedgnuplot --stream $period" \
    -- feedgnuplot --stream "$period" --xlen $((cols - 4)) --lines --terminal "dumb $cols,$rows" --exit
}

ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "n/a" }'
}

echo "== flood, 80x24"
measure v80 --samples 4000000 -- "$vantrel"
peer 80 24 1 p80 --samples 1000000
echo "== flood, 200x50 (vantrel -b)"
measure v200 --cols 200 --rows 50 --samples 2000000 -- "$vantrel" -b
peer 200 50 1 p200 --samples 1000000
echo "== steady 100 samples/s, 80x24, ${seconds}s"
measure vs --steady 100 --seconds "$seconds" -- "$vantrel"
peer 80 24 1 ps --steady 100 --seconds "$seconds"
peer 80 24 0.01 pf --steady 100 --seconds "$seconds"

echo "== ratios (medians of $runs runs)"
echo "flood throughput, vantrel / feedgnuplot, 80x24:  $(ratio "$v80_samples_s" "$p80_samples_s")"
echo "flood throughput, vantrel -b / feedgnuplot, 200x50: $(ratio "$v200_samples_s" "$p200_samples_s")"
echo "flood CPU per sample, feedgnuplot / vantrel, 80x24: $(ratio "$p80_cpu_s_Msample" "$v80_cpu_s_Msample")"
echo "steady CPU per sample, feedgnuplot (1 refresh/s) / vantrel: $(ratio "$ps_cpu_us_sample" "$vs_cpu_us_sample")"
echo "steady CPU per sample, feedgnuplot (100 refreshes/s) / vantrel: $(ratio "$pf_cpu_us_sample" "$vs_cpu_us_sample")"
echo "steady CPU per frame, feedgnuplot (100 refreshes/s) / vantrel: $(ratio \
  "$(awk -v c="$pf_cpu_us_sample" -v f="$pf_frames_s" 'BEGIN { print (f > 0 ? c * 100 / f : 0) }')" \
  "$(awk -v c="$vs_cpu_us_sample" -v f="$vs_frames_s" 'BEGIN { print (f > 0 ? c * 100 / f : 0) }')")"
