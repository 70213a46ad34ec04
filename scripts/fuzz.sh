#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (QNINET_FUZZ_SECONDS
# each, 20 by default, so that all of them stay within a few minutes in CI), starting from the
# seeds in fuzz/corpus/<target>. A finding is kept as build/fuzz/<target>-crash-... .
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones
seconds=${QNINET_FUZZ_SECONDS:-20}
# Undefined behaviour is a finding, not a line in the log.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${QNINET_JOBS:-$(nproc)}"
status=0
for target in build/fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  # The nested formats get inputs long enough to nest thousands of levels deep.
  case $name in
    form_fuzz | news_fuzz | rss_fuzz) max_len=1048576 ;;
    *) max_len=65536 ;;
  esac
  echo "fuzz: $name for ${seconds}s"
  # A fixed seed makes a CI run repeatable: what it finds, it finds again.
  if ! "$target" -seed="${QNINET_FUZZ_SEED:-1}" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=20 \
       -artifact_prefix="build/fuzz/$name-" -print_final_stats=1 "$corpus" > "build/fuzz/$name.log" 2>&1; then
    tail -n 60 "build/fuzz/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "build/fuzz/$name.log" || true
  fi
done
exit $status
