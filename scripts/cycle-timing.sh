#!/usr/bin/env bash
# Robot cycle timing as seen from the joint bus, beside cyclictest. Runs the
# controller with the six-axis example (protocol V2, UDP loopback) against
# orvane-jointsim, which stamps every frame it receives, at CycleTimeMS 10 and
# 20, each once idle and once beside
#   stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 256M
# for SECONDS each (default 20). In the same window cyclictest (rt-tests) runs
# SCHED_FIFO threads at the controller's priority and cycle interval: one on
# the controller's CPU when ORVANE_CPU pins it, else one on every CPU.
#
# Reports per run: the period between two position frames of joint 1 (in
# cyclictest's window, after 3 s of start-up) as median, p99, p99.9 and max with the error
# of each from the nominal cycle time; the p99.9 and max of |period - nominal|
# beside cyclictest's p99.9 and max wake-up latency and their ratio; the
# controller's overrun count and its own "RobotThread Frequency" lines.
#
#   scripts/cycle-timing.sh [SECONDS] [--keep DIR] [--loads "idle stress"] [--cycles "10 20"]
#
# --keep leaves the runs' files in DIR. The controller runs with
# ORVANE_RT_PRIORITY (default 80; 0 = normal scheduling, cyclictest then runs
# at priority 0 too) and ORVANE_CPU as set in the environment. Installs
# rt-tests and stress-ng when missing; leaves nothing running.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
orv_name=cycle-timing.sh
. "$root/scripts/lib/processes.sh"
seconds=20
keep=""
loads="idle stress"
cycles="10 20"
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep="$2"; shift 2 ;;
    --loads) loads="$2"; shift 2 ;;
    --cycles) cycles="$2"; shift 2 ;;
    [0-9]*) seconds="$1"; shift ;;
    *) echo "cycle-timing.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 5 ] && [ "$seconds" -le 600 ] ||
  { echo "cycle-timing.sh: SECONDS must be 5 ... 600" >&2; exit 2; }
for load in $loads; do
  case "$load" in idle|stress) ;; *) echo "cycle-timing.sh: unknown load $load (idle, stress)" >&2; exit 2 ;; esac
done
for ct in $cycles; do
  [[ "$ct" =~ ^[0-9]+$ ]] && [ "$ct" -ge 1 ] && [ "$ct" -le 1000 ] ||
    { echo "cycle-timing.sh: cycle time $ct must be 1 ... 1000 ms" >&2; exit 2; }
done
priority="${ORVANE_RT_PRIORITY:-80}"
[[ "$priority" =~ ^[0-9]+$ ]] && [ "$priority" -le 99 ] ||
  { echo "cycle-timing.sh: ORVANE_RT_PRIORITY must be 0 ... 99" >&2; exit 2; }
cpu="${ORVANE_CPU:-}"
[ -z "$cpu" ] || { [[ "$cpu" =~ ^[0-9]+$ ]] && [ "$cpu" -lt "$(nproc --all)" ]; } ||
  { echo "cycle-timing.sh: ORVANE_CPU must be a CPU number below $(nproc --all)" >&2; exit 2; }
orv_check_executables "$bin" orvane orvane-jointsim ||
  { echo "cycle-timing.sh: $orv_error; build first (scripts/build.sh)" >&2; exit 1; }
"$root/scripts/install-deps.sh" rt-tests stress-ng >/dev/null ||
  { echo "cycle-timing.sh: could not install rt-tests and stress-ng" >&2; exit 1; }

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

run() {  # cycle time ms, load (idle|stress)
  local ct="$1" load="$2" dir="$work/ct$1-$2" base stress="" cyclic="" cyclic_args
  base="$dir/Orvane"
  orv_stage_run "$dir" "$root/examples/SixAxisGripperV2" || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  sed -i "s/CycleTimeMS=\"[0-9]*\"/CycleTimeMS=\"$ct\"/; s/DisplayPort=\"[^\"]*\"/DisplayPort=\"\"/" \
    "$base/Data/Robots/ORV6/ORV6.xml"
  orv_free_ports || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  orv_start_jointsim "$bin" "$base" "$bus_port" "$dir/jointsim.out" --timestamps "$dir/frames.txt"
  local started=$?
  pids+=("$sim_pid")
  [ "$started" -eq 0 ] || { echo "cycle-timing.sh: $orv_error" >&2; return 1; }
  if [ "$load" = stress ]; then
    setsid stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 256M --timeout "$((seconds + 30))s" \
      </dev/null >"$dir/stress-ng.out" 2>&1 &
    stress=$!; pids+=("$stress")
  fi
  orv_start_controller "$bin" "$base" "$dir/controller.out" ORVANE_RT_PRIORITY="$priority" ${cpu:+ORVANE_CPU="$cpu"}
  pids+=("$ctrl_pid")
  sleep 3  # start-up, left out of the figures
  cyclic_args=(-m -q -v -d 0 -p "$priority" -i "$((ct * 1000))" -D "$seconds")
  # Pinned: one thread on the controller's CPU. Unpinned: one on every CPU,
  # since the cycle thread may run on any of them and a stall of one CPU
  # reaches only the threads that are on it.
  if [ -n "$cpu" ]; then cyclic_args+=(-a "$cpu"); else cyclic_args+=(-t "$(nproc)" -a); fi
  local window lines
  window="$(date +%s.%N)"
  setsid cyclictest "${cyclic_args[@]}" </dev/null >"$dir/cyclictest.out" 2>&1 &
  cyclic=$!; pids+=("$cyclic")
  wait "$cyclic"
  window="$window $(date +%s.%N)"
  # The statistics line comes every 7.5 s: wait for the next, whose overrun
  # count covers the whole window.
  lines=$(cat "$base"/logMessages0*.txt 2>/dev/null | grep -c 'RobotThread Frequency')
  local i
  for (( i = 0; i < 100; i++ )); do
    [ "$(cat "$base"/logMessages0*.txt 2>/dev/null | grep -c 'RobotThread Frequency')" -gt "$lines" ] && break
    sleep 0.1
  done
  kill -0 "$ctrl_pid" 2>/dev/null || echo "cycle-timing.sh: the controller ended early: $(tail -n 3 "$dir/controller.out")" >&2
  orv_stop_pid "$ctrl_pid" orvane
  [ -n "$stress" ] && orv_stop_pid "$stress" stress-ng
  orv_stop_pid "$sim_pid" orvane-jointsim
  pids=()
  grep -h 'Real-time:\|RobotThread Frequency' "$base"/logMessages0*.txt > "$dir/controller-lines.txt" 2>/dev/null || true
  python3 - "$dir" "$ct" "$load" $window <<'PY'
import re, sys
d, ct, load = sys.argv[1], float(sys.argv[2]), sys.argv[3]
window_start, window_end = float(sys.argv[4]), float(sys.argv[5])

def quantile(values, q):
    return values[min(len(values) - 1, int(q * len(values)))] if values else float("nan")

times = []
for line in open(d + "/frames.txt"):
    f = line.split()
    if len(f) == 4 and f[1] == "16" and f[3] == "20":  # joint 1 (ID 16), position frame 0x14
        times.append(float(f[0]))
times = [t for t in times if window_start <= t <= window_end]  # cyclictest's window (realtime clock)
periods = sorted((b - a) * 1000.0 for a, b in zip(times, times[1:]))
errors = sorted(abs(p - ct) for p in periods)

latencies = []  # cyclictest -v: "thread: cycle: latency in us"
for line in open(d + "/cyclictest.out"):
    f = [x.strip() for x in line.split(":")]
    if len(f) == 3 and all(x.isdigit() for x in f):
        latencies.append(int(f[2]) / 1000.0)
latencies.sort()

overruns = "n/a"
freq_lines = []
for line in open(d + "/controller-lines.txt"):
    m = re.search(r"Overruns (\d+)", line)
    if m:
        overruns = m.group(1)
    m = re.search(r"RobotThread Frequency.*", line)
    if m:
        freq_lines.append(m.group(0))

print("CycleTimeMS %-3d %-6s periods %5d  median %6.2f (%+.2f)  p99 %6.2f (%+.2f)  p99.9 %6.2f (%+.2f)  max %7.2f (%+.2f) ms  overruns since start-up %s" % (
    ct, load, len(periods),
    quantile(periods, 0.5), quantile(periods, 0.5) - ct,
    quantile(periods, 0.99), quantile(periods, 0.99) - ct,
    quantile(periods, 0.999), quantile(periods, 0.999) - ct,
    periods[-1] if periods else float("nan"), (periods[-1] - ct) if periods else float("nan"), overruns))
e999, emax = quantile(errors, 0.999), (errors[-1] if errors else float("nan"))
c999, cmax = quantile(latencies, 0.999), (latencies[-1] if latencies else float("nan"))
def ratio(a, b):
    return "%.1f" % (a / b) if b > 0 else "n/a"
late = sum(1 for p in periods if p > ct + 1.0)
print("    |period - nominal|  p99.9 %6.2f  max %7.2f ms;  cyclictest (%d samples) p99.9 %6.2f  max %7.2f ms;  ratio p99.9 %s  max %s" % (
    e999, emax, len(latencies), c999, cmax, ratio(e999, c999), ratio(emax, cmax)))
print("    periods over nominal + 1 ms: %d of %d" % (late, len(periods)))
print("    goal: p99.9 <= cyclictest p99.9 + 1 ms: %s;  max <= cyclictest max + 2 ms: %s" % (
    "yes" if e999 <= c999 + 1.0 else "no", "yes" if emax <= cmax + 2.0 else "no"))
for line in freq_lines:
    print("    controller: " + line)
PY
}

echo "cycle timing, $seconds s per run, $(nproc) CPUs, priority $priority${cpu:+, CPU $cpu}, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for ct in $cycles; do
  for load in $loads; do
    run "$ct" "$load" || status=1
  done
done
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
