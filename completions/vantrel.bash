# SPDX-License-Identifier: MIT
# bash completion for vantrel                              -*- shell-script -*-
#
# Self-contained: it needs nothing from the bash-completion package, so it
# also works when sourced by hand.

_vantrel() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local options='-2 -b -B -f -r -c -e -E -s -S -m -M -t -u -C -v -h'
  local schemes='dark1 dark2 light1 light2'
  # Letters whose option takes an argument.
  local with_arg='ceEsSmMtuC'
  COMPREPLY=()

  # Follow the words before the cursor as the program's option scan does: an
  # option that takes an argument swallows the rest of its word or, when that
  # is empty, the next word (even one starting with a minus). "--" or a word
  # that is not an option ends the scan, and the program ignores the rest.
  local i word rest letter pending=''
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $pending ]]; then
      pending=''
      continue
    fi
    case $word in
      --) return 0 ;;
      -?*) ;;
      *) return 0 ;;
    esac
    rest=${word#-}
    while [[ -n $rest ]]; do
      letter=${rest:0:1}
      rest=${rest:1}
      if [[ $with_arg == *"$letter"* ]]; then
        [[ -z $rest ]] && pending=$letter
        break
      fi
    done
  done

  # The current word is the argument of the option before it.
  if [[ -n $pending ]]; then
    [[ $pending == C ]] && mapfile -t COMPREPLY < <(compgen -W "$schemes" -- "$cur")
    return 0
  fi

  # An argument in the same word as its option, as in -Cd or -2Cl.
  if [[ $cur == -?* ]]; then
    rest=${cur#-}
    local head=-
    while [[ -n $rest ]]; do
      letter=${rest:0:1}
      rest=${rest:1}
      head+=$letter
      if [[ $with_arg == *"$letter"* ]]; then
        if [[ -n $rest ]]; then
          [[ $letter == C ]] &&
            mapfile -t COMPREPLY < <(compgen -P "$head" -W "$schemes" -- "$rest")
          return 0
        fi
        break
      fi
    done
  fi

  if [[ -z $cur || $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  fi
  return 0
}

complete -F _vantrel vantrel
