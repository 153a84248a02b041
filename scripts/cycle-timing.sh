#!/usr/bin/env bash
# Robot cycle timing as seen from the joint bus. Runs the controller with the
# six-axis example (protocol V2, UDP loopback) against orvane-jointsim, which
# stamps every frame it receives, at CycleTimeMS 10 and 20, each once idle and
# once beside a CPU-bound process (one busy loop), for SECONDS each (default 20).
# Reports the distribution of the period between two position frames of joint 1
# (median, p99, p99.9, max; the first 3 s of start-up are left out) and the
# controller's own "RobotThread Frequency" lines (frequency, maximum cycle time,
# workload). Nothing is installed or left running.
#   scripts/cycle-timing.sh [SECONDS] [--keep DIR]   (--keep: leave the runs' files in DIR)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
orv_name=cycle-timing.sh
. "$root/scripts/lib/processes.sh"
seconds=20
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep="$2"; shift 2 ;;
    [0-9]*) seconds="$1"; shift ;;
    *) echo "cycle-timing.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ "$seconds" -ge 5 ] && [ "$seconds" -le 600 ] || { echo "cycle-timing.sh: SECONDS must be 5 ... 600" >&2; exit 2; }
orv_check_executables "$bin" orvane orvane-jointsim ||
  { echo "cycle-timing.sh: $orv_error; build first (scripts/build.sh)" >&2; exit 1; }
work="$(mktemp -d /tmp/orvane-cycle-timing-XXXXXX)"
pids=()
cleanup() {
  local i
  for (( i=${#pids[@]}-1; i>=0; i-- )); do orv_stop_pid "${pids[$i]}" "pid ${pids[$i]}"; done
  pids=()
  if [ -n "$keep" ]; then mkdir -p "$keep" && cp -r "$work"/. "$keep"/; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

run() {  # cycle time ms, load (idle|busy)
  local ct="$1" load="$2" dir="$work/ct$1-$2" base busy=""
  base="$dir/Orvane"
  orv_stage_run "$dir" "$root/examples/SixAxisGripperV2" || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  sed -i "s/CycleTimeMS=\"[0-9]*\"/CycleTimeMS=\"$ct\"/; s/DisplayPort=\"[^\"]*\"/DisplayPort=\"\"/" \
    "$base/Data/Robots/ORV6/ORV6.xml"
  orv_free_ports || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  orv_start_jointsim "$bin" "$base" "$bus_port" "$dir/jointsim.out" --timestamps "$dir/frames.txt"
  local started=$?
  pids+=("$sim_pid")
  [ "$started" -eq 0 ] || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  if [ "$load" = busy ]; then
    bash -c 'while :; do :; done' &
    busy=$!; pids+=("$busy")
  fi
  orv_start_controller "$bin" "$base" "$dir/controller.out"
  pids+=("$ctrl_pid")
  sleep "$seconds"
  kill -0 "$ctrl_pid" 2>/dev/null || { echo "cycle-timing.sh: the controller ended early: $(tail -n 3 "$dir/controller.out")" >&2; }
  orv_stop_pid "$ctrl_pid" orvane; [ -n "$busy" ] && orv_stop_pid "$busy" "busy loop"; orv_stop_pid "$sim_pid" orvane-jointsim
  pids=()
  grep -h 'RobotThread Frequency' "$base"/logMessages0*.txt > "$dir/frequency.txt" 2>/dev/null || true
  python3 - "$dir" "$ct" "$load" <<'PY'
import re, sys
d, ct, load = sys.argv[1], sys.argv[2], sys.argv[3]
times = []
for line in open(d + "/frames.txt"):
    f = line.split()
    if len(f) == 4 and f[1] == "16" and f[3] == "20":  # joint 1 (ID 16), position frame 0x14
        times.append(float(f[0]))
times = [t for t in times if t >= times[0] + 3.0] if times else []
p = sorted((b - a) * 1000.0 for a, b in zip(times, times[1:]))
def q(x):
    return p[min(len(p) - 1, int(x * len(p)))] if p else float("nan")
print("CycleTimeMS %-3s %-5s periods %6d  median %6.2f  p99 %6.2f  p99.9 %6.2f  max %7.2f ms" % (
    ct, load, len(p), q(0.5), q(0.99), q(0.999), p[-1] if p else float("nan")))
for line in open(d + "/frequency.txt"):
    m = re.search(r"RobotThread Frequency.*", line)
    if m:
        print("    controller: " + m.group(0))
PY
}

echo "cycle timing, $seconds s per run, $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for ct in 10 20; do
  for load in idle busy; do
    run "$ct" "$load" || status=1
  done
done
exit $status
