#!/usr/bin/env bash
# Instructions per robot cycle, counted by callgrind: build/bin/orvane-cyclecount
# runs the cycle step of a six-axis arm against joint modules simulated in the
# same process (protocol V2, no gap between frames, no sleeps) in three
# situations; only the cycle step itself is counted.
#   scripts/cyclecount.sh [--cycles N] [--top K]
# --top K also lists the K functions with the most instructions of their own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin/orvane-cyclecount"
cycles=1000
top=0
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles="$2"; shift 2 ;;
    --top) top="$2"; shift 2 ;;
    *) echo "cyclecount.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
command -v valgrind >/dev/null || { echo "cyclecount.sh: valgrind not installed (scripts/install-deps.sh)" >&2; exit 1; }
[ -x "$bin" ] || { echo "cyclecount.sh: $bin not found; build first (scripts/build.sh)" >&2; exit 1; }
work="$(mktemp -d /tmp/orvane-cyclecount-run-XXXXXX)"
trap 'rm -rf "$work"' EXIT
printf "%-8s %8s %22s %8s  %s\n" scenario cycles "instructions/cycle" budget "driver"
status=0
for s in joint cart replay; do
  out="$work/callgrind.$s.out"
  if ! valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out" \
      "$bin" --scenario "$s" --cycles "$cycles" >"$work/$s.stdout" 2>"$work/$s.stderr"; then
    echo "cyclecount.sh: scenario $s failed:" >&2
    cat "$work/$s.stdout" "$work/$s.stderr" >&2
    status=1
    continue
  fi
  total="$(awk '/^totals:/ {print $2}' "$out")"
  per=$(( total / cycles ))
  verdict="ok"
  [ "$per" -le 50000 ] || { verdict="OVER"; status=1; }
  printf "%-8s %8d %22d %8s  %s\n" "$s" "$cycles" "$per" "$verdict" "$(grep -m1 "^scenario" "$work/$s.stdout" | sed "s/^scenario [a-z]* cycles [0-9]* //")"
  if [ "$top" -gt 0 ]; then
    callgrind_annotate "$out" 2>/dev/null | python3 -c '
import re, sys
k, n = int(sys.argv[1]), int(sys.argv[2])
go = False
for line in sys.stdin:
    if "file:function" in line:
        go = True
        continue
    m = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*)", line)
    if go and m and k > 0:
        name = re.sub(r" \[[^\]]*\]$", "", m.group(2).strip())
        name = re.sub(r"^(\?\?\?|[^ :]*\.[ch]|[^ :]*\.S):", "", name)
        print("    %8d  %s" % (int(m.group(1).replace(",", "")) // n, name))
        k -= 1
' "$top" "$cycles"
  fi
done
exit $status
