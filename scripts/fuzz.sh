#!/usr/bin/env bash
# Runs one libFuzzer target for a while:  scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is a fuzz/*Fuzz.cpp name (e.g. ComMessageFuzz); "list" lists them.
# Builds with clang-14 under AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/. New inputs go to build-fuzz/corpus/TARGET (the seed corpus in
# fuzz/corpus/TARGET is only read); crashes to build-fuzz/artifacts/TARGET/.
# Keep a crashing input as a regression input by copying it into fuzz/corpus/TARGET/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" = "list" ]; then
  for f in "$root"/fuzz/*Fuzz.cpp; do basename "$f" .cpp; done
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...] | scripts/fuzz.sh list" >&2
  exit 2
fi
target="$1"
seconds="$2"
shift 2
if [ ! -f "$root/fuzz/$target.cpp" ]; then
  echo "fuzz.sh: no fuzz target $target (see scripts/fuzz.sh list)" >&2
  exit 2
fi
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2 ;;
esac
cxx="${ORVANE_FUZZ_CXX:-clang++-14}"
command -v "$cxx" >/dev/null || { echo "fuzz.sh: $cxx not found (apt-get install clang-14 libclang-rt-14-dev)" >&2; exit 2; }
dir="$root/build-fuzz"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_SANITIZE=address,undefined -DORVANE_FUZZ=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "${ORVANE_FUZZ_JOBS:-2}" --target "$target"

work="$dir/corpus/$target"
artifacts="$dir/artifacts/$target"
mkdir -p "$work" "$artifacts"
# Leaks are checked once, when the run ends (ASAN_OPTIONS below): the log's
# in-memory ring holds lines across inputs, which makes libFuzzer's check after
# every input scan the heap again and again for nothing.
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -detect_leaks=0 -artifact_prefix="$artifacts/")
if [ -f "$root/fuzz/dict/$target.dict" ]; then
  options+=(-dict="$root/fuzz/dict/$target.dict")
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The targets write their inputs into files of a temporary directory: keep those in memory.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# Run from the build directory: the target moves itself into a temporary directory anyway.
cd "$dir"
exec "$dir/bin/$target" "${options[@]}" "$@" "$work" "$root/fuzz/corpus/$target"
