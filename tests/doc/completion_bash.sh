#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Drives the bash completion the way bash does (COMP_WORDS, COMP_CWORD) in a
# non-interactive shell and compares the offered words with the expected ones.
# The full option list comes from the program's own usage text.
# Usage: completion_bash.sh COMPLETION VANTREL
set -u
# shellcheck source=/dev/null
source "$1" || exit 1
vantrel=$2

compspec=$(complete -p vantrel 2>/dev/null) || { echo "FAIL: no completion registered for vantrel"; exit 1; }
func=$(sed -n 's/.*-F \([^ ]*\) .*/\1/p' <<<"$compspec")

all_options=$("$vantrel" -h | sed -n 's/^  \(-[0-9A-Za-z]\) .*/\1/p' | sort | tr '\n' ' ')
[[ $all_options == *-C* ]] || { echo "FAIL: no options found in the usage text"; exit 1; }

failed=0
passed=0
# Completes the command line $1 (a trailing blank means an empty current word)
# and compares the sorted offers with $2 (blank-separated, or empty).
check() {
  local line=$1 expected=$2 got
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$func" vantrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
  expected=$(tr ' ' '\n' <<<"$expected" | sed '/^$/d' | sort | tr '\n' ' ')
  if [[ $got == "$expected" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: '$line': expected [$expected], got [$got]"
  fi
}

check 'vantrel -' "$all_options"
check 'vantrel ' "$all_options"
check 'vantrel -2 -r -' "$all_options"
check 'vantrel -C dark1 -' "$all_options"
check 'vantrel -C d' 'dark1 dark2'
check 'vantrel -C ' 'dark1 dark2 light1 light2'
check 'vantrel -2bC l' 'light1 light2'
check 'vantrel -Cl' '-Clight1 -Clight2'
check 'vantrel -C dark1 -C light' 'light1 light2'
check 'vantrel -M' '-M'
# Arguments that are not schemes get nothing offered.
check 'vantrel -s ' ''
check 'vantrel -t d' ''
check 'vantrel -td' ''
# -C here is the title, so the next word is a new option.
check 'vantrel -t -C -' "$all_options"
check 'vantrel -t -C d' ''
# The program stops reading options at "--" or at the first other word.
check 'vantrel -- -' ''
check 'vantrel 5 -' ''
check 'vantrel -2 - -' ''

echo "completion: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
