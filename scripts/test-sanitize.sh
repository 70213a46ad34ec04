#!/usr/bin/env bash
# Every fuzz target for a bounded time (QNINET_FUZZ_SECONDS each, default 20), then the tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones
scripts/install-deps.sh test
jobs=${QNINET_JOBS:-$(nproc)}

scripts/fuzz.sh

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs" --timeout 900
