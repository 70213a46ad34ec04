#!/usr/bin/env bash
# Loads the bash completion the build wrote and asks it for words as bash would after TAB.
#   completion_test.sh build/release/tools/qninet/qninet.bash
set -euo pipefail
# shellcheck source=/dev/null
source "$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/notes.txt" "$dir/other.txt"

# Each row: the words typed (the last one is being completed) | the words offered, sorted.
rows=(
  "qninet up|update ups"
  "qninet dns --type M|MAILB MB MG MINFO MR MX"
  "qninet dns --type = A,CA|A,CAA"
  "qninet mail --auth |auto cram-md5 login oauthbearer plain xoauth2"
  "qninet mail --body-file $dir/n|$dir/notes.txt"
  "qninet http -d @$dir/n|@$dir/notes.txt"
  "qninet xml $dir/o|$dir/other.txt"
  "qninet --v|--version"
)
failed=0
for row in "${rows[@]}"; do
  read -r -a COMP_WORDS <<<"${row%%|*}"
  [[ ${row%%|*} == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _qninet || :  # a word with nothing to offer returns non-zero
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [ "$got" != "${row#*|}" ]; then
    echo "completion of '${row%%|*}': got '$got', expected '${row#*|}'" >&2
    failed=1
  fi
done
exit $failed
