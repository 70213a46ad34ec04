#!/usr/bin/env bash
# Fails when a source file differs from what .clang-format makes of it, or when no file was
# found to check. The files are found without git, so a tree without it is checked all the same.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format: clang-format is not installed" >&2; exit 1; }
mapfile -d '' -t files < <(find qninet tools tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
if [ ${#files[@]} -eq 0 ]; then
  echo "format: no source files found; nothing was checked" >&2
  exit 1
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "format: $f differs from .clang-format (run clang-format -i $f)"
    bad=1
  fi
done
echo "format: checked ${#files[@]} files"
exit $bad
