#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
#   scripts/install-deps.sh build|test|bench|qt|package|docs ...
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libidn2-dev libssl-dev nlohmann-json3-dev
       libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev ca-certificates ccache)
test=(nginx tinyproxy python3 python3-aiosmtpd python3-pyftpdlib dnsmasq-base bind9-dnsutils chrony xinetd
      openssl curl clang libclang-rt-14-dev clang-format
      # Second real peers: DNS (beside dnsmasq) and SMTP (beside aiosmtpd). opensmtpd takes the
      # place of any other mail transport agent; the tests run it on a port of their own.
      unbound opensmtpd)
# The web peers beside nginx and tinyproxy: lighttpd with TLS, and squid as a second proxy.
test+=(lighttpd lighttpd-mod-openssl squid)
# The signing tool of the signed-update tests: keys made and files signed as a publisher would.
test+=(minisign)
# vsftpd, proftpd-core and pure-ftpd each provide ftp-server, and ntpsec replaces chrony, so they
# cannot all be installed: vsftpd is, the others are unpacked into $QNINET_PEERS_DIR and run from
# there (the "@package/..." rows of tests/harness/ServerLaunch.cpp); their libraries are installed.
test+=(vsftpd libmemcached11 libmemcachedutil2 libpcre2-posix3 libhiredis0.14 libsodium23 libcap2 libacl1
       libbsd0 libssl3)
unpacked=(proftpd-core:usr/sbin/proftpd pure-ftpd:usr/sbin/pure-ftpd ntpsec:usr/sbin/ntpd)
peers=${QNINET_PEERS_DIR:-/var/cache/qninet-peers}
# The Qt 6 windows: Widgets, and the fonts the offscreen platform draws text with.
qt=(qt6-base-dev qt6-qpa-plugins fonts-dejavu-core)
# The Debian packages (scripts/package.sh) and their check; the API reference (scripts/docs.sh).
package=(dpkg-dev lintian)
docs=(doxygen)
bench=(curl time libpugixml-dev libxml2-dev libexpat1-dev libbenchmark-dev)

wanted=()
for group in "$@"; do
  case "$group" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}" "${qt[@]}" "${package[@]}" "${docs[@]}") ;;
    bench) wanted+=("${build[@]}" "${bench[@]}") ;;
    qt) wanted+=("${build[@]}" "${qt[@]}") ;;
    package) wanted+=("${build[@]}" "${qt[@]}" "${package[@]}") ;;
    docs) wanted+=("${docs[@]}") ;;
    *) echo "install-deps: unknown group '$group' (build, test, bench, qt, package, docs)" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
to_unpack=()
if [[ " $* " == *" test "* ]]; then
  for entry in "${unpacked[@]}"; do
    [ -x "$peers/${entry%%:*}/${entry#*:}" ] || to_unpack+=("${entry%%:*}")
  done
fi
[ ${#missing[@]} -eq 0 ] && [ ${#to_unpack[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages ${missing[*]} ${to_unpack[*]}; run as root or install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# Service scripts must not start daemons (nginx, chrony, xinetd, unbound, smtpd, vsftpd) that would
# hold ports the tests need; the tests start their own servers.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
for pkg in "${to_unpack[@]}"; do
  echo "install-deps: unpacking $pkg into $peers"
  mkdir -p "$peers/debs"
  (cd "$peers/debs" && rm -f "$pkg"_*.deb && apt-get download -qq "$pkg" && dpkg-deb -x "$pkg"_*.deb "$peers/$pkg")
done
