#!/usr/bin/env bash
# The format check in a copy of the tree without git: it counts what it checked, fails on a
# badly formatted file, and fails when it found nothing to check.
set -uo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/qninet"
cp "$src/scripts/check-format.sh" "$work/scripts/"
cp "$src/.clang-format" "$work/"
fail=0
expect() {  # expected exit, expected text, case name
  out=$(PATH=/usr/bin:/bin "$work/scripts/check-format.sh" 2>&1)
  rc=$?
  if [ "$rc" -ne "$1" ] || [[ "$out" != *"$2"* ]]; then
    echo "FAIL $3: exit $rc, output: $out"
    fail=1
  fi
}
expect 1 "nothing was checked" "empty tree"
printf 'int f();\n' >"$work/qninet/good.h"
printf 'int g();\n' >"$work/qninet/other.cpp"
expect 0 "checked 2 files" "clean files"
printf 'int   h( ) ;\n' >"$work/qninet/bad.cpp"
expect 1 "qninet/bad.cpp differs" "a badly formatted file"
exit $fail
