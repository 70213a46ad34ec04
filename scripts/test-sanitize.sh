#!/usr/bin/env bash
# One clang build under AddressSanitizer and UndefinedBehaviorSanitizer holds both the tests and
# the libFuzzer targets: every fuzz target runs for a bounded time (QNINET_FUZZ_SECONDS each,
# default 20), then the library's tests run under the sanitizers (the program's tests only repeat
# the release run's, so they stay there), then the thread tests (asynchronous runs, fifty
# components on fifty threads) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones
scripts/install-deps.sh test
jobs=${QNINET_JOBS:-$(nproc)}

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
scripts/fuzz.sh build/sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs" --timeout 900

# ThreadSanitizer: only the library, the harness and the one thread-test program.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQNINET_BUILD_TESTS=ON \
  -DQNINET_BUILD_TOOLS=OFF -DQNINET_WITH_QT=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target thread_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/thread_tests
