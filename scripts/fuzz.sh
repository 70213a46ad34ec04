#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time (QNINET_FUZZ_SECONDS each, 20 by default),
# starting from the seeds in fuzz/corpus/<target>, as many at once as there are cores. The
# targets come from BUILD_DIR when given (the sanitize build holds them beside the tests);
# otherwise the fuzz preset is configured and built. A finding is kept as
# BUILD_DIR/fuzz/<target>-crash-... .
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones
seconds=${QNINET_FUZZ_SECONDS:-20}
jobs=${QNINET_JOBS:-$(nproc)}
build=${1:-}
if [ -z "$build" ]; then
  build=build/fuzz
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
fi
# Undefined behaviour is a finding, not a line in the log.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export seconds build

fuzz_one() {
  local target=$1 name corpus max_len
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  # The nested formats get inputs long enough to nest thousands of levels deep.
  case $name in
    form_fuzz | news_fuzz | rss_fuzz) max_len=1048576 ;;
    *) max_len=65536 ;;
  esac
  # A fixed seed makes a CI run repeatable: what it finds, it finds again.
  if "$target" -seed="${QNINET_FUZZ_SEED:-1}" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 \
       -timeout=20 -artifact_prefix="$build/fuzz/$name-" -print_final_stats=1 "$corpus" >"$build/fuzz/$name.log" 2>&1; then
    echo "fuzz: $name for ${seconds}s, $(grep -oE 'number_of_executed_units: *[0-9]+' "$build/fuzz/$name.log" | grep -oE '[0-9]+$') runs"
  else
    echo "fuzz: $name FOUND A FAULT" >&2
    tail -n 60 "$build/fuzz/$name.log" >&2
    return 1
  fi
}
export -f fuzz_one

targets=()
for target in "$build"/fuzz/*_fuzz; do
  [ -x "$target" ] && targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets in $build/fuzz" >&2; exit 1; }
# Each target is one process on one core.
printf '%s\0' "${targets[@]}" | xargs -0 -n 1 -P "$jobs" bash -c 'fuzz_one "$1"' _
