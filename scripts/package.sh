#!/usr/bin/env bash
# Builds the Debian packages into build/packages (cmake/Packaging.cmake lists them): the library,
# its development files, the Qt 6 backend and its development files, and the program with its
# manual page and bash completion. Installed as /usr, so its own build folder, build/package.
#   scripts/package.sh && apt-get install ./build/packages/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones and build folders
scripts/install-deps.sh package
jobs=${QNINET_JOBS:-$(nproc)}

cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQNINET_BUILD_TESTS=OFF -DQNINET_WITH_QT=ON >/dev/null
cmake --build build/package -j "$jobs"
rm -rf build/packages
(cd build/package && cpack -G DEB -B "$PWD/../packages" >/dev/null)
rm -rf build/packages/_CPack_Packages
ls build/packages/*.deb
