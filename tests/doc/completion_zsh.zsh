# SPDX-License-Identifier: MIT
# Runs the zsh completion in an interactive zsh on a pseudo-terminal (zpty):
# types a command line and a tab, and records every match the completion
# system is asked to add, through a wrapper around compadd that writes them to
# a file. The full option list comes from the program's own usage text.
# Usage: zsh -f completion_zsh.zsh COMPLETION VANTREL
zmodload zsh/zpty || { print "FAIL: no zsh/zpty module"; exit 1 }
completion=${1:A}
vantrel=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf $work' EXIT
# compinit finds the function by its file name in fpath; the dump that the
# first session writes spares the later ones the scan of every function.
cp $completion $work/_vantrel

all_options=(${(f)"$($vantrel -h | sed -n 's/^  \(-[0-9A-Za-z]\) .*/\1/p')"})
(( $#all_options > 10 )) || { print "FAIL: no options found in the usage text"; exit 1 }

# Prints the sorted matches for the command line $1, one per line.
offers() {
  local out=$work/matches
  : >| $out
  zpty z zsh -f -i
  zpty -w z "PS1=''; fpath=($work \$fpath); autoload -Uz compinit; compinit -u -d $work/zcompdump"
  zpty -w z "out=$out"
  # Calls that only query (-O, -A, -D) go straight through; the others add
  # matches, which are written down first.
  zpty -w z 'compadd() { if [[ " ${(j: :)@} " == *" -"[OAD]" "* ]]; then builtin compadd "$@"; return; fi; local -a m; builtin compadd -O m "$@"; print -rl -- $m >> $out; builtin compadd "$@"; }'
  zpty -w z 'completion_done() { print -r -- "<done>" >> $out }; comppostfuncs=(completion_done)'
  zpty -w z 'bindkey "^I" complete-word'
  zpty -w -n z "$1"$'\t'
  local i
  # compinit alone can take a few seconds on a loaded machine.
  for i in {1..300}; do
    grep -q '^<done>$' $out && break
    sleep 0.1
  done
  zpty -d z
  grep -q '^<done>$' $out || { print "<no completion ran>"; return }
  grep -v -e '^<done>$' -e '^$' $out | sort
}

integer passed failed
check() {
  local line=$1 got expected
  shift
  got=${(j: :)${(f)"$(offers $line)"}}
  expected=${(j: :)${(o)@}}
  if [[ $got == $expected ]]; then
    (( passed++ ))
  else
    (( failed++ ))
    print -r -- "FAIL: '$line': expected [$expected], got [$got]"
  fi
}

check 'vantrel -' $all_options
check 'vantrel -2 -' ${all_options:#-2}
check 'vantrel -C d' dark1 dark2
check 'vantrel -C ' dark1 dark2 light1 light2
check 'vantrel -2C l' light1 light2
check 'vantrel -C dark1 -C l' light1 light2
check 'vantrel -s '
check 'vantrel -h -'
check 'vantrel -- -'
check 'vantrel 5 -'

print "completion: $passed passed, $failed failed"
(( failed == 0 ))
