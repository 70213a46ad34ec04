#!/usr/bin/env bash
# Fails when a source file differs from what .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
bad=0
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "format: $f differs from .clang-format (run clang-format -i $f)"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "format: ${#files[@]} files clean"
exit $bad
