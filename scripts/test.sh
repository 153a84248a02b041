#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
# Takes the same --sanitize=... option as build.sh; --no-build runs what is
# already built. ORVANE_CTEST_ARGS passes extra CTest options. Exits non-zero
# on any failure; a failed test is never retried.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build"
build=1
args=()
for arg in "$@"; do
  case "$arg" in
    --no-build) build=0; continue ;;
    --sanitize=thread) dir="$root/build-tsan" ;;
    --sanitize=*) dir="$root/build-asan" ;;
  esac
  args+=("$arg")
done
if [ "$build" = 1 ]; then
  "$root/scripts/install-deps.sh"
  "$root/scripts/build.sh" "${args[@]}"
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
jobs="$(nproc 2>/dev/null || echo 2)"
cd "$dir"
ctest --output-on-failure -j "$jobs" ${ORVANE_CTEST_ARGS:-}
