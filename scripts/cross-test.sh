#!/usr/bin/env bash
# Builds the library, the controller, the tools and the unit tests for armhf
# (Cortex-A8) and runs the test suite under qemu-arm. Child processes that the
# tests start run under the same emulator (ORVANE_TEST_EMULATOR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build-armhf"

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
  apt-get update -qq
fi
"$root/scripts/install-deps.sh" crossbuild-essential-armhf qemu-user file \
  libtinyxml2-dev:armhf libgtest-dev:armhf libgmock-dev:armhf

cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-armhf.cmake" \
  -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
file "$dir/bin/orvane" | grep -q 'ARM' || { echo "cross-test: controller is not an ARM binary" >&2; exit 1; }

export ORVANE_TEST_EMULATOR="qemu-arm -L /"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" ${ORVANE_CTEST_ARGS:-}
