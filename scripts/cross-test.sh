#!/usr/bin/env bash
# Builds the library, the controller, the tools and the tests for armhf
# (Cortex-A8) and runs the test suite under qemu-arm. Child processes that the
# tests start run under the same emulator (ORVANE_TEST_EMULATOR).
#   --leave-out e2e,fault   neither builds nor runs these labels (CI does so)
# ORVANE_CTEST_ARGS passes extra CTest options.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build-armhf"
leave_out=""
for arg in "$@"; do
  case "$arg" in
    --leave-out=*) leave_out="${arg#--leave-out=}" ;;
    *) echo "cross-test: unknown option $arg" >&2; exit 2 ;;
  esac
done
suites=(-DORVANE_BUILD_E2E=ON -DORVANE_BUILD_FAULT=ON)
for label in ${leave_out//,/ }; do
  case "$label" in
    e2e) suites[0]=-DORVANE_BUILD_E2E=OFF ;;
    fault) suites[1]=-DORVANE_BUILD_FAULT=OFF ;;
    *) echo "cross-test: can leave out e2e and fault, not $label" >&2; exit 2 ;;
  esac
done

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
  apt-get update -qq
fi
"$root/scripts/install-deps.sh" crossbuild-essential-armhf qemu-user file \
  libtinyxml2-dev:armhf libgtest-dev:armhf libgmock-dev:armhf

# Compiler flags come from the toolchain file only at the first configure:
# configure anew when it has changed since.
toolchain_sum=$(sha256sum "$root/cmake/toolchain-armhf.cmake" | cut -d' ' -f1)
if [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$dir/.toolchain-sum" 2>/dev/null)" != "$toolchain_sum" ]; then
  echo "cross-test: the toolchain file changed, configuring build-armhf/ anew"
  rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
fi
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
start=$(date +%s)
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-armhf.cmake" \
  -DORVANE_BUILD_BENCH=OFF "${suites[@]}" >/dev/null
echo "$toolchain_sum" >"$dir/.toolchain-sum"
cmake --build "$dir" -j "$(nproc)"
file "$dir/bin/orvane" | grep -q 'ARM' || { echo "cross-test: controller is not an ARM binary" >&2; exit 1; }
built=$(date +%s)
echo "cross-test: built in $((built - start)) s"

export ORVANE_TEST_EMULATOR="qemu-arm -L /"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" ${ORVANE_CTEST_ARGS:-}
echo "cross-test: tests took $(( $(date +%s) - built )) s"
