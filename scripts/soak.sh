#!/usr/bin/env bash
# Soak run: the controller against the joint-bus simulator for MINUTES
# minutes, running a program in repeat mode with a front-end client connected
# that polls the program information every few seconds.
#
#   scripts/soak.sh MINUTES [--no-build]
#
# Every minute it samples the controller's resident memory (VmRSS of
# /proc/PID/status) and the cycle statistics the controller logged in that
# minute ("RobotThread Frequency" lines: lowest frequency, longest cycle;
# "ERROR RobotMaster cycletime" lines: cycles over the long-cycle threshold),
# and prints one table row. It fails with a message when
#   - the memory after the warm-up minutes grows beyond a small tolerance,
#   - a long-cycle line appears,
#   - a process dies, the front-end loses its connection or the program stops
#     repeating,
#   - the controller does not end in order (status 0) on SIGTERM at the end.
# The table also shows the machine's load average, to tell a loaded machine
# from a slow controller. Stops every process it started, also on Ctrl-C.
# Settings by environment: SOAK_WARMUP_MIN (default 5, at most a third of the
# run), SOAK_RSS_TOLERANCE_KB (default 512), SOAK_DIR (run folder, default a
# new folder under build/soak-runs/), SOAK_KEEP_GOING=1 (a long cycle or
# memory growth fails the run at its end instead of at once, so that the
# whole table is there).
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
orv_name=soak
. "$root/scripts/lib/processes.sh"

usage() { echo "usage: scripts/soak.sh MINUTES [--no-build]" >&2; exit 2; }

minutes="${1:-}"
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] && [ "$minutes" -le 10080 ] || usage
shift
do_build=1
for arg in "$@"; do
    case "$arg" in
        --no-build) do_build=0 ;;
        *) usage ;;
    esac
done

warmup="${SOAK_WARMUP_MIN:-5}"
[ "$warmup" -gt $((minutes / 3)) ] && warmup=$((minutes / 3))
tolerance_kb="${SOAK_RSS_TOLERANCE_KB:-512}"
keep_going="${SOAK_KEEP_GOING:-0}"
problems=()

say() { printf 'soak: %s\n' "$*"; }
fail() {
    printf 'soak: FAILED: %s\n' "$*" >&2
    failed=1
    exit 1
}

# A failed criterion: at once, or at the end with SOAK_KEEP_GOING=1.
problem() {
    [ "$keep_going" = 1 ] || fail "$*"
    printf 'soak: %s\n' "$*" >&2
    problems+=("$*")
}

sim_pid=""; ctrl_pid=""; fe_pid=""; feeder_pid=""; failed=0

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    [ -n "$feeder_pid" ] && orv_stop_pid "$feeder_pid" "the front-end feeder"
    [ -n "$fe_pid" ] && orv_stop_pid "$fe_pid" orvane-frontend
    [ -n "$ctrl_pid" ] && orv_stop_pid "$ctrl_pid" orvane 10
    [ -n "$sim_pid" ] && orv_stop_pid "$sim_pid" orvane-jointsim
    [ -n "${run_dir:-}" ] && say "logs in $run_dir"
    exit "$rc"
}
interrupted() {
    printf '\nsoak: interrupted, stopping everything it started\n' >&2
    exit 130
}
trap cleanup EXIT
trap interrupted INT TERM

# ---------------------------------------------------------------- set-up

if [ "$do_build" -eq 1 ]; then
    missing=0
    for exe in orvane orvane-jointsim orvane-frontend; do [ -x "$bin/$exe" ] || missing=1; done
    if [ "$missing" -eq 1 ]; then
        say "building the controller and its tools into build/"
        "$root/scripts/install-deps.sh" || fail "could not install the build dependencies"
        mkdir -p "$root/build"
        orv_build "$root/build/soak-build.log" orvane orvane-jointsim orvane-frontend || fail "$orv_error"
    fi
fi
orv_check_executables "$bin" orvane orvane-jointsim orvane-frontend || fail "$orv_error (run without --no-build)"

run_dir="${SOAK_DIR:-$root/build/soak-runs/$(date +%Y%m%d-%H%M%S)-$$}"
base="$run_dir/Orvane"
orv_stage_run "$run_dir" "$root/examples/CartesianV2" || fail "$orv_error"
# Own copies of the executables: a rebuild during the run does not touch them.
mkdir -p "$run_dir/bin" && cp "$bin/orvane" "$bin/orvane-jointsim" "$bin/orvane-frontend" "$run_dir/bin/" ||
    fail "cannot copy the executables to $run_dir/bin"
bin="$run_dir/bin"
# A program that keeps all three gantry joints moving, with a short wait.
cat >"$base/Data/Programs/SoakLoop.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<Program>
    <Joint a1="80" a2="60" a3="20" velPercent="60" acc="50" smooth="20"/>
    <Joint a1="220" a2="160" a3="60" velPercent="60" acc="50" smooth="20"/>
    <Linear x="-100" y="-150" z="100" a="0" b="0" c="0" vel="150" acc="50" smooth="0"/>
    <Wait Type="Time" Seconds="0.2"/>
</Program>
EOF

orv_free_ports || fail "$orv_error"
orv_start_jointsim "$bin" "$base" "$bus_port" "$run_dir/jointsim.log" --control 0 --speed 200 || fail "$orv_error"
orv_start_controller "$bin" "$base" "$run_dir/controller.out" ORVANE_FRONTEND_ADDRESS=127.0.0.1
say "controller pid $ctrl_pid, simulator pid $sim_pid, bus udp:$bus_port, front-end port $fe_port"
say "run folder $run_dir"

# The front-end reads its commands from a FIFO: enable, load, repeat mode,
# start, then a program information request every 5 s for as long as it runs.
mkfifo "$run_dir/frontend.in" || fail "cannot create a FIFO in $run_dir"
{
    printf '%s\n' enable wait-ready 'load SoakLoop.xml' 'replay repeat' 'override 100' start
    while :; do
        sleep 5
        printf 'info\n'
    done
} >"$run_dir/frontend.in" &
feeder_pid=$!
"$bin/orvane-frontend" --port "$fe_port" --connect-timeout 60 --timeout 30 --status-every 60 \
    <"$run_dir/frontend.in" >"$run_dir/frontend.log" 2>&1 &
fe_pid=$!

for _ in $(seq 1 600); do
    grep -q 'IPO: Starting program' "$run_dir/controller.out" 2>/dev/null && break
    kill -0 "$ctrl_pid" 2>/dev/null || fail "the controller ended at start-up: $(tail -n 5 "$run_dir/controller.out")"
    kill -0 "$fe_pid" 2>/dev/null || fail "the front-end ended at start-up: $(tail -n 5 "$run_dir/frontend.log")"
    sleep 0.1
done
grep -q 'IPO: Starting program' "$run_dir/controller.out" || fail "the program did not start"
say "program running in repeat mode; sampling every minute for $minutes minutes (warm-up $warmup)"

# ---------------------------------------------------------------- sampling

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$ctrl_pid/status" 2>/dev/null; }

# Counts and statistics of the controller's lines from byte offset $1 on.
window_stats() {
    tail -c +"$(($1 + 1))" "$run_dir/controller.out" | awk '
        /RobotThread Frequency:/ {
            for (i = 1; i <= NF; i++) {
                if ($i == "Frequency:") { f = $(i + 1) + 0; if (n == 0 || f < fmin) fmin = f; n++ }
                if ($i == "CycleTime:") { c = $(i + 1) + 0; if (c > cmax) cmax = c }
            }
        }
        /ERROR RobotMaster cycletime in ms/ { long++ }
        /IPO: Program done, restarting/ { repeats++ }
        /Pos: / { status++ }
        END { printf "%.2f %.2f %d %d %d %d\n", fmin, cmax, long + 0, repeats + 0, status + 0, n + 0 }'
}

table="$run_dir/soak-table.txt"
printf '%6s %10s %9s %12s %11s %8s %13s %10s\n' minute VmRSS_kB min_Hz max_cycle_ms long_cycles repeats status_lines load_1min |
    tee "$table"

offset=$(stat -c %s "$run_dir/controller.out")
warm_rss=""
peak_after=0
start_s=$(date +%s)
long_total=0
for minute in $(seq 1 "$minutes"); do
    target=$((start_s + minute * 60))
    while [ "$(date +%s)" -lt "$target" ]; do
        kill -0 "$ctrl_pid" 2>/dev/null || fail "the controller died in minute $minute: $(tail -n 5 "$run_dir/controller.out")"
        kill -0 "$sim_pid" 2>/dev/null || fail "the simulator died in minute $minute"
        kill -0 "$fe_pid" 2>/dev/null || fail "the front-end ended in minute $minute (connection lost?): $(tail -n 3 "$run_dir/frontend.log")"
        sleep 2
    done
    rss=$(rss_kb)
    [ -n "$rss" ] || fail "cannot read /proc/$ctrl_pid/status"
    size=$(stat -c %s "$run_dir/controller.out")
    read -r fmin cmax long repeats status reports < <(window_stats "$offset")
    offset=$size
    load=$(cut -d' ' -f1 /proc/loadavg)
    printf '%6d %10d %9s %12s %11d %8d %13d %10s\n' "$minute" "$rss" "$fmin" "$cmax" "$long" "$repeats" "$status" "$load" |
        tee -a "$table"
    long_total=$((long_total + long))
    if [ "$long" -gt 0 ]; then
        grep 'ERROR RobotMaster cycletime in ms' "$run_dir/controller.out" | tail -n 5 >&2
        problem "long cycles logged in minute $minute (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    fi
    [ "$repeats" -gt 0 ] || fail "the program did not repeat in minute $minute"
    [ "$minute" -eq "$warmup" ] && warm_rss=$rss
    if [ -n "$warm_rss" ] && [ "$minute" -gt "$warmup" ]; then
        [ "$rss" -gt "$peak_after" ] && peak_after=$rss
        [ "$rss" -le $((warm_rss + tolerance_kb)) ] ||
            problem "memory grew after the warm-up: ${warm_rss} kB at minute $warmup, ${rss} kB at minute $minute (tolerance $tolerance_kb kB)"
    fi
done

# ---------------------------------------------------------------- orderly end

kill -TERM "$ctrl_pid"
orv_wait_exit "$ctrl_pid" 30 || fail "the controller did not end within 30 s of SIGTERM"
wait "$ctrl_pid"
ctrl_rc=$?
ctrl_pid=""
[ "$ctrl_rc" -eq 0 ] || fail "the controller ended with status $ctrl_rc"
grep -q 'Orvane: Exiting...' "$run_dir/controller.out" || fail "no orderly exit in the controller's output"
if grep -q 'Sanitizer\|runtime error' "$run_dir/controller.out"; then
    fail "sanitizer report in the controller's output"
fi

[ "${#problems[@]}" -eq 0 ] || fail "${#problems[@]} criteria failed: ${problems[*]}"
say "passed: $minutes minutes, memory ${warm_rss:-n/a} kB after warm-up, peak after it ${peak_after} kB, no long cycles"
