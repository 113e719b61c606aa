#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the zsh completion: syntax first, then what it offers (see
# completion_zsh.zsh). Skipped, with status 77, where zsh is not installed.
# Usage: completion_zsh.sh COMPLETION VANTREL
if ! command -v zsh >/dev/null 2>&1; then
  echo "skipped: zsh is not installed"
  exit 77
fi
zsh -n "$1" || { echo "FAIL: zsh -n $1"; exit 1; }
exec zsh -f "$(dirname "$0")/completion_zsh.zsh" "$@"
