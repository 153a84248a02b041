#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; only what is missing.
# Scripts name further packages as arguments (cycle-timing.sh: rt-tests stress-ng).
set -euo pipefail
pkgs=(cmake g++ make pkg-config ccache libtinyxml2-dev libgtest-dev libgmock-dev libbenchmark-dev python3)
# Tests: capsh starts the controller without CAP_SYS_NICE.
pkgs+=(libcap2-bin)
# Benchmarks only: the KDL reference comparison and callgrind for instructions per cycle.
pkgs+=(liborocos-kdl-dev valgrind)
# The browser front-end (orvane-web) and its tests in a real browser: headless
# Chromium driven over the DevTools protocol by a small Python client.
pkgs+=(libcivetweb-dev chromium python3-websocket fonts-dejavu-core)
pkgs+=("$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
