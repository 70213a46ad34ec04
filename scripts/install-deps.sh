#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
#   scripts/install-deps.sh build|test|bench|qt ...
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
       libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev ca-certificates)
test=(nginx tinyproxy python3 python3-aiosmtpd python3-pyftpdlib dnsmasq-base bind9-dnsutils chrony xinetd
      openssl curl clang libclang-rt-14-dev clang-format
      # Second real peers: DNS (beside dnsmasq) and SMTP (beside aiosmtpd). opensmtpd takes the
      # place of any other mail transport agent; the tests run it on a port of their own.
      unbound opensmtpd)
# The web peers beside nginx and tinyproxy: lighttpd with TLS, and squid as a second proxy.
test+=(lighttpd lighttpd-mod-openssl squid)
# The Qt 6 windows: Widgets, and the fonts the offscreen platform draws text with.
qt=(qt6-base-dev qt6-qpa-plugins fonts-dejavu-core)
bench=(curl time libpugixml-dev libxml2-dev libexpat1-dev libbenchmark-dev)

wanted=()
for group in "$@"; do
  case "$group" in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}" "${qt[@]}") ;;
    bench) wanted+=("${build[@]}" "${bench[@]}") ;;
    qt) wanted+=("${build[@]}" "${qt[@]}") ;;
    *) echo "install-deps: unknown group '$group' (build, test, bench, qt)" >&2; exit 2 ;;
  esac
done

# ---- FTP peers (test group) -------------------------------------------------------------------
# vsftpd, proftpd-core and pure-ftpd conflict as Debian installs (each provides ftp-server):
# vsftpd is installed, the other two are unpacked into $QNINET_PEERS_DIR and run from there
# (tests/harness/FtpPeers.cpp), with their libraries installed.
if [[ " $* " == *" test "* ]]; then
  peers=${QNINET_PEERS_DIR:-/var/cache/qninet-peers}
  if ! command -v vsftpd >/dev/null || [ ! -x "$peers/proftpd-core/usr/sbin/proftpd" ] ||
     [ ! -x "$peers/pure-ftpd/usr/sbin/pure-ftpd" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "install-deps: the FTP peers need root" >&2; exit 1; }
    [ -e /usr/sbin/policy-rc.d ] || { printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d;
      chmod +x /usr/sbin/policy-rc.d; trap 'rm -f /usr/sbin/policy-rc.d' EXIT; }
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends vsftpd libmemcached11 \
      libmemcachedutil2 libpcre2-posix3 libhiredis0.14 libsodium23 libcap2 libacl1 >/dev/null
    mkdir -p "$peers/debs"
    for pkg in proftpd-core pure-ftpd; do
      (cd "$peers/debs" && rm -f "$pkg"_*.deb && apt-get download -qq "$pkg" && dpkg-deb -x "$pkg"_*.deb "$peers/$pkg")
    done
  fi
fi
# ---------------------------------------------------------------------------------------------------

# ---- NTP peer (test group) --------------------------------------------------------------------
# ntpsec conflicts with chrony as a Debian install (installing it removes chrony): it is unpacked
# into $QNINET_PEERS_DIR and run from there (tests/harness/Ntpsec.cpp); its libraries (libbsd0,
# libcap2, libssl3) are installed.
if [[ " $* " == *" test "* ]]; then
  peers=${QNINET_PEERS_DIR:-/var/cache/qninet-peers}
  if [ ! -x "$peers/ntpsec/usr/sbin/ntpd" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "install-deps: the NTP peer needs root" >&2; exit 1; }
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libbsd0 libcap2 libssl3 >/dev/null
    mkdir -p "$peers/debs"
    (cd "$peers/debs" && rm -f ntpsec_*.deb && apt-get download -qq ntpsec && dpkg-deb -x ntpsec_*.deb "$peers/ntpsec")
  fi
fi
# ---------------------------------------------------------------------------------------------------

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages ${missing[*]}; run as root or install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Service scripts must not start daemons (nginx, chrony, xinetd, unbound, smtpd) that would
# hold ports the tests need; the tests start their own servers.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
