#!/usr/bin/env bash
# Runs every Google Benchmark of bench/ (build/bin/orvane_bench) once and prints
# one summary table. Times are CPU time per call; ratios are taken within the
# same run (same benchmark iteration where the benchmark measures both sides),
# so a busy machine slows both sides alike.
#   scripts/bench.sh [--json FILE] [extra orvane_bench options, e.g. --benchmark_min_time=1]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin/orvane_bench"
json=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --json) json="$2"; shift 2 ;;
    *) extra+=("$1"); shift ;;
  esac
done
if [ ! -x "$bin" ]; then
  echo "bench.sh: $bin not found; build first (scripts/build.sh; needs libbenchmark-dev)" >&2
  exit 1
fi
keep=""
if [ -z "$json" ]; then
  json="$(mktemp /tmp/orvane-bench-XXXXXX.json)"
  keep="no"
fi
work="$(mktemp -d /tmp/orvane-bench-run-XXXXXX)"
cleanup() {
  rm -rf "$work"
  if [ "$keep" = "no" ]; then rm -f "$json"; fi
}
trap cleanup EXIT
# The benchmarks log through the controller's log, which writes into the working folder.
(cd "$work" && "$bin" --benchmark_out="$json" --benchmark_out_format=json "${extra[@]}" >/dev/null 2>"$work/stderr") || {
  cat "$work/stderr" >&2
  exit 1
}
python3 - "$json" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
b = {x["name"]: x for x in data["benchmarks"] if x.get("run_type", "iteration") == "iteration"}
ctx = data["context"]
unit = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
def ns(name):
    x = b.get(name)
    return None if x is None else x["cpu_time"] * unit[x["time_unit"]]
def counter(name, key):
    x = b.get(name)
    return None if x is None or key not in x else x[key]
rows = []
def row(section, what, value, fmt="{:.0f}", unit_text=""):
    rows.append((section, what, "n/a" if value is None else fmt.format(value) + unit_text))

for kind in ["Cartesian", "SixAxis", "Talon4", "Talon5", "Rover", "Delta"]:
    for way, names in [("forward", [kind + "Forward", kind + "ForwardSmallStep", kind + "ForwardLargeStep"]),
                       ("inverse", [kind + "Inverse"])]:
        for n in names:
            if n in b:
                label = way if n in (kind + "Forward", kind + "Inverse") else way + (" (small step)" if "Small" in n else " (large step)")
                row("kinematics " + kind, label, ns(n), "{:.0f}", " ns")
k = "BM_SixAxisInverseVsKdlLma"
if k in b:
    row("six-axis vs KDL LMA", "ours, inverse", counter(k, "ours_ns"), "{:.0f}", " ns")
    row("six-axis vs KDL LMA", "KDL LMA, inverse", counter(k, "kdl_ns"), "{:.0f}", " ns")
    row("six-axis vs KDL LMA", "KDL time / our time", counter(k, "kdl_per_ours"), "{:.0f}", "x")
    row("six-axis vs KDL LMA", "largest joint difference", counter(k, "joint_diff_deg"), "{:.2e}", " deg")
    row("six-axis vs KDL LMA", "largest pose difference", counter(k, "pose_diff_mm"), "{:.2e}", " mm")
    row("six-axis vs KDL LMA", "largest orientation difference", counter(k, "pose_diff_deg"), "{:.2e}", " deg")
    rows.append(("six-axis vs KDL LMA", "targets / KDL not converged",
                 "%d / %d" % (counter(k, "targets"), counter(k, "kdl_failed"))))
k = "BM_SixAxisForwardVsKdl"
if k in b:
    rows.append(("six-axis vs KDL LMA", "forward: ours / KDL", "%.0f ns / %.0f ns, difference %.2e mm" % (
        counter(k, "ours_ns"), counter(k, "kdl_ns"), counter(k, "pose_diff_mm"))))
for name, label in [("BM_OneJointMove", "one joint move"), ("BM_TenLinearMovesSmoothed", "ten linear moves, smoothed"),
                    ("BM_LongestPath", "longest path (10 x 5001 steps)")]:
    if name in b:
        row("ComputePath", label + ": planning", ns(name) / 1e6, "{:.2f}", " ms")
        row("ComputePath", label + ": path duration", counter(name, "path_s"), "{:.2f}", " s")
        row("ComputePath", label + ": path duration / planning time", counter(name, "path_per_plan"), "{:.0f}", "x")
        row("ComputePath", label + ": path memory", counter(name, "path_MiB"), "{:.2f}", " MiB")
if "BM_LongestPath" in b:
    row("ComputePath", "memory after a short path follows the longest", counter("BM_LongestPath", "after_short_MiB"), "{:.3f}", " MiB")
row("path sampling", "GetJointPosition per call", ns("BM_GetJointPosition"), "{:.1f}", " ns")
row("conditions", "din1", ns("ConditionInput"), "{:.0f}", " ns")
row("conditions", "din1 or counter = 7 and pos.y >= 20", ns("ConditionMixed"), "{:.0f}", " ns")
row("conditions", "nested, 6 terms", ns("ConditionNested"), "{:.0f}", " ns")
row("front-end", "status telegram formatting", ns("StatusTelegramFormat"), "{:.0f}", " ns")
row("front-end", "parse keep-alive jog message", ns("ParseJogKeepAlive"), "{:.0f}", " ns")
row("front-end", "parse command message", ns("ParseCommand"), "{:.0f}", " ns")
row("joint bus", "protocol V2 cycle, 11 modules, no gaps", ns("BM_ProtocolV2Cycle"), "{:.0f}", " ns")
k = "BM_UdpDisconnect"
if k in b:
    row("joint bus", "UDP Disconnect (wall time; goal below 3 s)", b[k]["real_time"] * unit[b[k]["time_unit"]] / 1e6, "{:.1f}", " ms")

w0 = max(len(r[0]) for r in rows); w1 = max(len(r[1]) for r in rows)
print("orvane_bench on %s, %d CPUs, load average %s, library %s" % (
    ctx.get("host_name", "?"), ctx.get("num_cpus", 0), " ".join("%.2f" % v for v in ctx.get("load_avg", [])),
    ctx.get("library_build_type", "?")))
print("%-*s  %-*s  %s" % (w0, "area", w1, "figure", "value"))
print("-" * (w0 + w1 + 20))
for r in rows:
    print("%-*s  %-*s  %s" % (w0, r[0], w1, r[1], r[2]))
PY
