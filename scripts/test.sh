#!/usr/bin/env bash
# Builds everything and runs every test: unit, integration (real servers on loopback), the
# program's tests, the format check and a consumer built against the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
jobs=${QNINET_JOBS:-$(nproc)}

cmake --preset release -DQNINET_BUILD_TESTS=ON >/dev/null
cmake --build --preset release -j "$jobs"

# The consumer: install into a scratch prefix and build a program against the package.
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/release --prefix "$prefix" >/dev/null
cmake -S tests/consumer -B "$prefix/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer-build/consumer"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --exists qninet
echo "consumer: built and ran against the installed package"

scripts/check-format.sh
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600
