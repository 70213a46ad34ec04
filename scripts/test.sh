#!/usr/bin/env bash
# Builds everything and runs every test: unit, integration (real servers on loopback), the
# program's tests, the format check and a consumer built against the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}  # cache hits across clones
scripts/install-deps.sh test
jobs=${QNINET_JOBS:-$(nproc)}

cmake --preset release -DQNINET_BUILD_TESTS=ON >/dev/null
cmake --build --preset release -j "$jobs"

# The consumer: build tests/consumer and the README's complete C++ examples against an installed
# package, through find_package and again through pkg-config, and run them; once against an
# install prefix, once against the Debian packages unpacked into a scratch root.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "consumer: $*" >&2; exit 1; }
consumer() {  # PREFIX LIBDIR
  local prefix=$1 libdir=$2 examples=$1/examples code bin source with_qt=OFF
  mkdir -p "$examples"
  # A ```cpp block of the README holding main() is a program; its first line names its file.
  awk -v dir="$examples" '
    /^```cpp$/ { block = ""; inside = 1; next }
    /^```$/ && inside {
      inside = 0
      if (block ~ /int main\(/ && match(block, /^\/\/ [a-z_]+\.cpp/)) {
        file = dir "/" substr(block, 4, RLENGTH - 3); printf "%s", block > file; close(file)
      }
      next
    }
    inside { block = block $0 "\n" }' README.md
  [ -f "$examples/whois_example.cpp" ] || fail "the README's whois example is missing"
  [ -f "$examples/xml_example.cpp" ] || fail "the README's xml example is missing"
  [ -f "$libdir/libQNInetQt.so" ] && with_qt=ON
  cmake -S tests/consumer -B "$prefix/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DQNINET_EXAMPLES="$examples" -DQNINET_CONSUMER_QT=$with_qt >/dev/null
  cmake --build "$prefix/consumer-build" >/dev/null
  # Once more as a machine without Qt's development files sees the package: the library alone
  # must still be found and used, whether or not the package holds the Qt backend.
  cmake -S tests/consumer -B "$prefix/consumer-noqt" -G Ninja --no-warn-unused-cli -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON >/dev/null || fail "find_package(QNInet) needs Qt"
  cmake --build "$prefix/consumer-noqt" >/dev/null
  export LD_LIBRARY_PATH="$libdir"
  "$prefix/consumer-build/consumer"
  "$prefix/consumer-noqt/consumer"
  "$prefix/consumer-build/walk_feed_mx" | grep -qx 'News (2 items)' || fail "walk_feed_mx walked no feed"
  [ $with_qt = OFF ] || "$prefix/consumer-build/consumer_qt" || fail "consumer_qt showed no Qt window"
  for source in "$examples"/*.cpp; do
    g++ -o "${source%.cpp}" "$source" $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs qninet)
  done
  # Each example twice (CMake-built, pkg-config-built): whois takes its exception channel against a
  # closed port (exit 2); xml reads one value.
  printf '<r><Weight>2 lbs</Weight></r>' >"$examples/answer.xml"
  for bin in "$prefix/consumer-build" "$examples"; do
    code=0
    "$bin/whois_example" 127.0.0.1 1 2>"$examples/whois.err" || code=$?
    [ "$code" = 2 ] && grep -q '^whois: ' "$examples/whois.err" || fail "$bin/whois_example exited $code"
    [ "$(cd "$examples" && "$bin/xml_example")" = "2 lbs" ] || fail "$bin/xml_example printed no weight"
  done
  unset LD_LIBRARY_PATH
  echo "consumer: the README's examples built against $prefix with find_package and pkg-config and ran"
  # The Qt example application, built as an application would build it, when Qt is present.
  if [ $with_qt = ON ]; then
    cmake -S examples/qt-downloader -B "$prefix/qt-downloader" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$prefix/qt-downloader" >/dev/null
    echo "consumer: examples/qt-downloader built against $prefix"
  fi
}
cmake --install build/release --prefix "$scratch/install" >/dev/null
consumer "$scratch/install" "$scratch/install/lib"

# The Debian packages: lintian's errors fail (the warnings left are explained in
# cmake/Packaging.cmake), apt would find every dependency, and unpacked into a scratch root they
# serve the consumer, and the program runs from there with its manual page and completion.
scripts/package.sh
lintian --fail-on error --tag-display-limit 0 build/packages/*.deb
apt-get install --simulate ./build/packages/*.deb >/dev/null
root="$scratch/root"
for deb in build/packages/*.deb; do dpkg-deb -x "$deb" "$root"; done
consumer "$root/usr" "$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
[ "$("$root/usr/bin/qninet" --version)" = "qninet $(dpkg-deb -f build/packages/qninet_*.deb Version | cut -d- -f1)" ] ||
  fail "the packaged qninet does not run"
man_warnings=$(zcat "$root/usr/share/man/man1/qninet.1.gz" | groff -ww -z -man 2>&1)
[ -z "$man_warnings" ] || fail "groff on qninet.1: $man_warnings"
[ -f "$root/usr/share/bash-completion/completions/qninet" ] || fail "the package has no bash completion"
echo "packages: $(ls build/packages/*.deb | wc -l) built, lintian without errors, qninet runs from the root"

# The API reference: every public class, function and property documented, no warning.
scripts/docs.sh
scripts/check-format.sh
/usr/bin/python3 scripts/check-includes.py
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600
