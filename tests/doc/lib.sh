# SPDX-License-Identifier: MIT
# Sourced by the documentation tests that count their cases: a scratch
# directory removed on exit, and fail, which counts a failed case and marks
# the run as failed.
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
status=0
passed=0
failed=0
fail() {
  echo "FAIL: $*"
  status=1
  failed=$((failed + 1))
}
