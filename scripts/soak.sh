#!/usr/bin/env bash
# Soak run: the controller against the joint-bus simulator for MINUTES
# minutes, running a program in repeat mode with a front-end client connected
# that polls the program information every few seconds.
#
#   scripts/soak.sh MINUTES [--no-build] [--stress]
#
# Beside it cyclictest (rt-tests) runs a SCHED_FIFO thread on every CPU at the
# controller's priority (ORVANE_RT_PRIORITY, default 80) and cycle interval;
# with --stress also "stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 256M".
#
# Every minute it samples the controller's resident memory (VmRSS of
# /proc/PID/status), the cycle statistics the controller logged in that
# minute ("RobotThread Frequency" lines: lowest frequency, longest cycle, the
# overruns, i.e. cycles lost; "ERROR RobotMaster cycletime" lines) and
# cyclictest's longest wake-up latency in that minute, and prints one table
# row. A long cycle is one whose work took more than twice the cycle time. It
# fails with a message when
#   - the memory after the warm-up minutes grows beyond a small tolerance,
#   - a minute has a long cycle while cyclictest's longest latency in it stayed
#     below the cycle time (the machine did not hold a plain thread up either),
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

usage() { echo "usage: scripts/soak.sh MINUTES [--no-build] [--stress]" >&2; exit 2; }

minutes="${1:-}"
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] && [ "$minutes" -le 10080 ] || usage
shift
do_build=1
stress=0
for arg in "$@"; do
    case "$arg" in
        --no-build) do_build=0 ;;
        --stress) stress=1 ;;
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

sim_pid=""; ctrl_pid=""; fe_pid=""; feeder_pid=""; stress_pid=""; cyclic_pid=""; failed=0
priority="${ORVANE_RT_PRIORITY:-80}"
[[ "$priority" =~ ^[0-9]+$ ]] && [ "$priority" -le 99 ] || { echo "soak: ORVANE_RT_PRIORITY must be 0 ... 99" >&2; exit 2; }

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    [ -n "$feeder_pid" ] && orv_stop_pid "$feeder_pid" "the front-end feeder"
    [ -n "$fe_pid" ] && orv_stop_pid "$fe_pid" orvane-frontend
    [ -n "$ctrl_pid" ] && orv_stop_pid "$ctrl_pid" orvane 10
    [ -n "$sim_pid" ] && orv_stop_pid "$sim_pid" orvane-jointsim
    [ -n "$cyclic_pid" ] && orv_stop_pid "$cyclic_pid" cyclictest
    [ -n "$stress_pid" ] && orv_stop_pid "$stress_pid" stress-ng
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
"$root/scripts/install-deps.sh" rt-tests stress-ng >/dev/null || fail "could not install rt-tests and stress-ng"

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

cycle_ms=$(sed -n 's/.*CycleTimeMS="\([0-9]*\)".*/\1/p' "$base/Data/Robots/GANTRY/GANTRY.xml" | head -n1)
[ -n "$cycle_ms" ] || fail "no CycleTimeMS in the staged robot configuration"

if [ "$stress" -eq 1 ]; then
    setsid stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 256M --timeout "$((minutes * 60 + 300))s" \
        </dev/null >"$run_dir/stress-ng.out" 2>&1 &
    stress_pid=$!
    say "beside stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 256M (pid $stress_pid)"
fi
# One wake-up latency per line ("thread: count: microseconds"), read per minute below.
setsid cyclictest -m -q -v -d 0 -p "$priority" -i "$((cycle_ms * 1000))" -t "$(nproc)" -a </dev/null >"$run_dir/cyclictest.out" 2>&1 &
cyclic_pid=$!

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

# Counts and statistics of the controller's lines from byte offset $1 on;
# overruns as the last count logged (-1: none logged).
window_stats() {
    tail -c +"$(($1 + 1))" "$run_dir/controller.out" | awk '
        BEGIN { overruns = -1 }
        /RobotThread Frequency:/ {
            for (i = 1; i <= NF; i++) {
                if ($i == "Frequency:") { f = $(i + 1) + 0; if (n == 0 || f < fmin) fmin = f; n++ }
                if ($i == "CycleTime:") { c = $(i + 1) + 0; if (c > cmax) cmax = c }
                if ($i == "Overruns") overruns = $(i + 1) + 0
            }
        }
        /ERROR RobotMaster cycletime in ms/ { long++ }
        /IPO: Program done, restarting/ { repeats++ }
        /Pos: / { status++ }
        END { printf "%.2f %.2f %d %d %d %d %d\n", fmin, cmax, long + 0, repeats + 0, status + 0, n + 0, overruns }'
}

# cyclictest's longest latency in ms among its samples from line $1 on.
cyclic_max() {
    tail -n +"$1" "$run_dir/cyclictest.out" | awk -F: 'NF == 3 && $3 + 0 > m { m = $3 + 0 } END { printf "%.2f\n", m / 1000 }'
}

table="$run_dir/soak-table.txt"
printf '%6s %10s %9s %12s %8s %11s %8s %13s %13s %10s\n' minute VmRSS_kB min_Hz max_cycle_ms overruns long_cycles \
    repeats status_lines cyclictest_ms load_1min | tee "$table"

offset=$(stat -c %s "$run_dir/controller.out")
cyclic_line=$(($(wc -l <"$run_dir/cyclictest.out") + 1))
overruns_before=0
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
        kill -0 "$cyclic_pid" 2>/dev/null || fail "cyclictest ended in minute $minute: $(tail -n 3 "$run_dir/cyclictest.out")"
        sleep 2
    done
    rss=$(rss_kb)
    [ -n "$rss" ] || fail "cannot read /proc/$ctrl_pid/status"
    size=$(stat -c %s "$run_dir/controller.out")
    read -r fmin cmax long repeats status reports overruns_now < <(window_stats "$offset")
    offset=$size
    lines=$(wc -l <"$run_dir/cyclictest.out")
    cmax_cyclic=$(cyclic_max "$cyclic_line")
    cyclic_line=$((lines + 1))
    overruns=0
    if [ "$overruns_now" -ge 0 ]; then
        overruns=$((overruns_now - overruns_before))
        overruns_before=$overruns_now
    fi
    # Cycles whose work took more than twice the cycle time: the controller's longest, or its long-cycle lines.
    if awk -v c="$cmax" -v t="$cycle_ms" 'BEGIN { exit !(c > 2 * t) }' && [ "$long" -eq 0 ]; then long=1; fi
    load=$(cut -d' ' -f1 /proc/loadavg)
    printf '%6d %10d %9s %12s %8d %11d %8d %13d %13s %10s\n' "$minute" "$rss" "$fmin" "$cmax" "$overruns" "$long" \
        "$repeats" "$status" "$cmax_cyclic" "$load" | tee -a "$table"
    if [ "$long" -gt 0 ]; then
        long_total=$((long_total + 1))
        grep 'ERROR RobotMaster cycletime in ms' "$run_dir/controller.out" | tail -n 5 >&2
        if awk -v c="$cmax_cyclic" -v t="$cycle_ms" 'BEGIN { exit !(c >= t) }'; then
            say "minute $minute: long cycle (${cmax} ms of work, cycle time $cycle_ms ms), cyclictest saw a wake-up latency of $cmax_cyclic ms too"
        else
            problem "long cycle in minute $minute: ${cmax} ms of work, over twice the cycle time of $cycle_ms ms, while cyclictest's longest latency was $cmax_cyclic ms (load average $(cut -d' ' -f1-3 /proc/loadavg))"
        fi
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
say "passed: $minutes minutes$([ "$stress" -eq 1 ] && echo " beside stress-ng"), memory ${warm_rss:-n/a} kB after warm-up, peak after it ${peak_after} kB, $long_total minutes with long cycles (all while cyclictest also saw latencies of a cycle time or more), $overruns_before overruns"
