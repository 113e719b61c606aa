#!/bin/sh
# SPDX-License-Identifier: MIT
# Replays the saved crash inputs of every fuzz target, then fuzzes each target
# for a while on a scratch copy of its seed corpus, and prints libFuzzer's final
# figures. With "ci" as the mode, any crash makes the exit status 1.
#   fuzz/run.sh BUILD_DIR SECONDS report|ci
set -u
build=$1
seconds=$2
mode=$3
root=$(cd "$(dirname "$0")/.." && pwd)
status=0

for target in input_fuzz cmdline_fuzz paint_fuzz; do
  case $target in
    # room for reads past 4095 bytes and for trimmed tokens; number edges in the dictionary
    input_fuzz) seeds=input max_len=8192 dict="-dict=$root/fuzz/input.dict" ;;
    cmdline_fuzz) seeds=cmdline max_len=2048 dict= ;;
    # room for a full title, unit, message and a few hundred samples
    paint_fuzz) seeds=paint max_len=4096 dict="-dict=$root/fuzz/paint.dict" ;;
  esac
  bin=$build/$target
  work=$build/fuzz-work/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$root/fuzz/corpus/$seeds/"* "$work/corpus/"

  for input in "$root/fuzz/regressions/$target/"*; do
    [ -f "$input" ] || continue
    if "$bin" "$input" >"$work/regression.log" 2>&1; then
      echo "$target: regression $(basename "$input"): passes"
    else
      echo "$target: regression $(basename "$input"): CRASHES"
      grep -m 1 -E 'invariant broken|ERROR: ' "$work/regression.log"
      status=1
    fi
  done

  echo "$target: fuzzing for $seconds s, corpus $work/corpus"
  "$bin" -max_total_time="$seconds" -max_len=$max_len $dict -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/fuzz.log" 2>&1
  rc=$?
  grep -E '^#[0-9]+.*cov: ' "$work/fuzz.log" | tail -n 1
  grep '^stat::' "$work/fuzz.log"
  if [ $rc -ne 0 ]; then
    echo "$target: CRASH (exit status $rc), log $work/fuzz.log"
    grep -m 1 -E 'invariant broken|ERROR: ' "$work/fuzz.log"
    grep -m 1 'Test unit written to' "$work/fuzz.log"
    status=1
  fi
done

if [ "$mode" = ci ]; then exit $status; fi
exit 0
