#!/usr/bin/env bash
# Installs, on a fresh Debian machine, only the build and test tools it lacks.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# chromium: the test suite loads the generated HTML pages in a real browser.
# nlohmann-json3-dev: JSON lines output.
# libpcap-dev: tul decode --pcap reads captures through it.
# python3, python3-setuptools, python3-dask, python3-distributed: the Python
# binding, its package build and the Dask example, tested with /usr/bin/python3.
# libsnmp-base: the MIBs under /usr/share/snmp/mibs that the importer test reads.
for pkg in build-essential cmake libgtest-dev libgmock-dev libbenchmark-dev pkg-config chromium nlohmann-json3-dev \
           libpcap-dev python3 python3-setuptools python3-dask python3-distributed libsnmp-base; do
  have "$pkg" || need+=("$pkg")
done
# With --bench also the peer library that bench/peer_bench compares against;
# no build or test needs it.
if [ "${1:-}" = "--bench" ]; then
  have libtasn1-6-dev || need+=(libtasn1-6-dev)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
