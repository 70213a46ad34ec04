#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
#   scripts/install-deps.sh build|test|bench|qt ...
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
       libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev ca-certificates)
test=(nginx tinyproxy python3 python3-aiosmtpd python3-pyftpdlib dnsmasq-base bind9-dnsutils chrony xinetd
      openssl curl clang libclang-rt-14-dev clang-format)
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
# Service scripts must not start daemons (nginx, chrony, xinetd) that would hold ports the
# tests need; the tests start their own servers.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
