#!/usr/bin/env bash
# Configures and builds. Release into build/ by default;
#   --sanitize=address,undefined  into build-asan/ (without benchmarks and
#   --sanitize=thread             into build-tsan/  end-to-end tests)
#   --debug                       Debug build type
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize=""
type="Release"
for arg in "$@"; do
  case "$arg" in
    --sanitize=*) sanitize="${arg#--sanitize=}" ;;
    --debug) type="Debug" ;;
    *) echo "build.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
dir="$root/build"
# Sanitizer builds hold what their suite runs: no benchmarks (timings under
# instrumentation mean nothing) and no end-to-end tests (release suite only).
suite=(-DORVANE_BUILD_BENCH=ON -DORVANE_BUILD_E2E=ON)
case "$sanitize" in
  "") ;;
  thread) dir="$root/build-tsan"; type="RelWithDebInfo" ;;
  *) dir="$root/build-asan"; type="RelWithDebInfo" ;;
esac
[ -z "$sanitize" ] || suite=(-DORVANE_BUILD_BENCH=OFF -DORVANE_BUILD_E2E=OFF)
jobs="$(nproc 2>/dev/null || echo 2)"
# Let ccache share results between checkouts in different folders (CI clones anew).
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DORVANE_SANITIZE="$sanitize" "${suite[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
echo "build.sh: built into $dir"
