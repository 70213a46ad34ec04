#!/usr/bin/env bash
# Builds the library and the program, then runs `qninet demo` (no internet needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset release -DQNINET_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target qninet
exec build/release/tools/qninet/qninet demo "$@"
