#!/usr/bin/env bash
# The demo: the controller against simulated joint modules, driven like an
# operator would drive it from a PC front-end.
#
#   scripts/demo.sh [--robot KIND] [--keep-running] [--no-build] [--override P] [--web]
#
# Installs what is missing (gnuplot included), builds the controller and its
# tools into build/, stages the example project of KIND into a fresh run folder
# under build/demo-runs/, starts orvane-jointsim and the controller on the UDP
# loopback transport and drives it through orvane-web (the browser front-end,
# running its console commands): enable, reference, jog in joint and Cartesian
# modes, upload and load the demo program, run it while showing its progress,
# shut the controller down through the front-end.
# Writes trace.csv (set-points and measured joints over time), with gnuplot
# joints.png, and page.png (the browser page in the middle of the program,
# taken with headless Chromium) into the run folder. Exits 0 on success,
# non-zero with a message on failure; stops every process it started, also on
# Ctrl-C. With --web it only starts the simulator, the controller and
# orvane-web, prints the page's address and runs until Ctrl-C.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
orv_name=demo
. "$root/scripts/lib/processes.sh"

robot="six-axis"
keep_running=0
do_build=1
override=60
web_mode=0

usage() {
    cat <<'EOF'
usage: scripts/demo.sh [--robot KIND] [--keep-running] [--no-build] [--override P] [--web]

  --robot KIND     six-axis (default), four-axis, five-axis, delta, cartesian,
                   platform, v1-arm
  --keep-running   leave the controller and the simulator running at the end,
                   for your own front-end (prints how to connect and to stop)
  --no-build       use the executables already in build/bin
  --override P     program speed override in percent (default 60)
  --web            start the simulator, the controller and the browser
                   front-end, print the page's address (with its token) and
                   keep running until Ctrl-C; the demo programs are on the
                   controller, ready to load
EOF
}

while [ $# -gt 0 ]; do
    case "$1" in
        --robot) [ $# -ge 2 ] || { usage >&2; exit 2; }; robot="$2"; shift 2 ;;
        --robot=*) robot="${1#--robot=}"; shift ;;
        --keep-running) keep_running=1; shift ;;
        --no-build) do_build=0; shift ;;
        --override) [ $# -ge 2 ] || { usage >&2; exit 2; }; override="$2"; shift 2 ;;
        --web) web_mode=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "demo: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done

# Per robot kind: the example base directory, the joint jogs (joint 1..6,
# signed for the direction, the jog value in percent and the seconds, 1.5 s
# when not given; one after the other) and the Cartesian jog (mode, axis 1..6
# = X, Y, Z, A, B, C, signed, percent). Chosen so that the jogs from the start
# pose (all joints at 0) stay clear of joint limits and singularities: the
# four- and five-axis arms stand stretched at 0, so the elbow is bent first.
case "$robot" in
    six-axis|SixAxisGripperV2) example=SixAxisGripperV2; joint_jogs="5:60";       cart_mode=base;     cart_jog="3:60" ;;
    four-axis|FourAxisV2)      example=FourAxisV2;       joint_jogs="2:60 3:100:3"; cart_mode=base;     cart_jog="-3:60" ;;
    five-axis|FiveAxisV2)      example=FiveAxisV2;       joint_jogs="2:60 3:100:3"; cart_mode=base;     cart_jog="-3:60" ;;
    delta|DeltaV2)             example=DeltaV2;          joint_jogs="1:40";       cart_mode=base;     cart_jog="3:60" ;;
    cartesian|CartesianV2)     example=CartesianV2;      joint_jogs="1:60";       cart_mode=base;     cart_jog="2:60" ;;
    platform|PlatformV2)       example=PlatformV2;       joint_jogs="";           cart_mode=platform; cart_jog="1:60" ;;
    v1-arm|SixAxisV1)          example=SixAxisV1;        joint_jogs="5:60";       cart_mode=base;     cart_jog="3:60" ;;
    *) echo "demo: unknown robot kind '$robot' (six-axis, four-axis, five-axis, delta, cartesian, platform, v1-arm)" >&2
       exit 2 ;;
esac

say() { printf '%s\n' "demo: $*"; }
fail() {
    printf '\n%s\n' "demo: FAILED: $*" >&2
    if [ -n "${ctrl_pid:-}" ] && ! kill -0 "$ctrl_pid" 2>/dev/null && [ -f "${run_dir:-}/controller.out" ]; then
        printf '%s\n' "demo: the controller has ended; its last lines:" >&2
        tail -n 5 "$run_dir/controller.out" >&2
    fi
    [ -n "${run_dir:-}" ] && printf '%s\n' "demo: logs and traces are in $run_dir" >&2
    exit 1
}

# ---------------------------------------------------------------- processes

pids=()          # started in the background, stopped in reverse order
sim_pid=""
ctrl_pid=""
fe_pid=""
web_pid=""
shot_pid=""
detached=0       # --keep-running after success: leave controller and simulator

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    [ -n "$shot_pid" ] && orv_stop_pid "$shot_pid" "the screenshot"
    [ -n "$fe_pid" ] && orv_stop_pid "$fe_pid" orvane-web
    [ -n "$web_pid" ] && orv_stop_pid "$web_pid" orvane-web
    if [ "$detached" -eq 0 ]; then
        [ -n "$ctrl_pid" ] && orv_stop_pid "$ctrl_pid" orvane
        [ -n "$sim_pid" ] && orv_stop_pid "$sim_pid" orvane-jointsim
    fi
    exit "$rc"
}
interrupted() {
    if [ "$web_mode" -eq 1 ] && [ -n "$web_pid" ]; then
        printf '\n%s\n' "demo: stopping orvane-web, the controller and the simulator"
        exit 0
    fi
    printf '\n%s\n' "demo: interrupted, stopping everything it started" >&2
    exit 130
}
trap cleanup EXIT
trap interrupted INT TERM

# ---------------------------------------------------------------- set-up

if [ "$do_build" -eq 1 ]; then
    say "installing what is missing"
    "$root/scripts/install-deps.sh" gnuplot-nox || fail "could not install the build dependencies"
    say "building the controller and its tools into build/"
    orv_build "$root/build/demo-build.log" orvane orvane-jointsim orvane-web || fail "$orv_error"
fi
orv_check_executables "$bin" orvane orvane-jointsim orvane-web || fail "$orv_error (run without --no-build)"
# Debian's interpreter: it sees python3-websocket, which drives Chromium.
py=/usr/bin/python3; [ -x "$py" ] || py=python3

example_dir="$root/examples/$example"
run_dir="$root/build/demo-runs/$(date +%Y%m%d-%H%M%S)-$robot-$$"
base="$run_dir/Orvane"
orv_stage_run "$run_dir" "$example_dir" || fail "$orv_error"
ln -sfn "$run_dir" "$root/build/demo-runs/latest"

orv_free_ports || fail "$orv_error"
# The page: port 8080 when free (--web), else any free one; a fresh token.
web_port=$("$py" -c '
import socket, sys
for port in ([8080] if sys.argv[1] == "1" else []) + [0]:
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port)); print(s.getsockname()[1]); break
    except OSError:
        pass
    finally:
        s.close()' "$web_mode") || fail "found no free port for the page"
od -An -N16 -tx1 /dev/urandom | tr -d ' \n' >"$run_dir/web-token" && echo >>"$run_dir/web-token" ||
    fail "cannot write $run_dir/web-token"
web_url="http://127.0.0.1:$web_port/?token=$(head -n1 "$run_dir/web-token")"

robot_type=$(sed -n 's/.*<Robot [^>]*Type="\([^"]*\)".*/\1/p' "$base"/Data/Projects/*.xml | head -n1)
config="$base/Data/Robots/$robot_type/$robot_type.xml"
joints=$(sed -n 's/.*NrOfJoints="\([0-9]*\)".*/\1/p' "$config" | head -n1)
joints=${joints:-0}
tool_file=$(sed -n 's/.*<Robot [^>]*Tool="\([^"]*\)".*/\1/p' "$base"/Data/Projects/*.xml | head -n1)
tool_scale=0; tool_zero=0
if [ -n "$tool_file" ]; then
    tool_scale=$(sed -n 's/.*GearScale="\([^"]*\)".*/\1/p' "$base/Data/Tools/$tool_file" | head -n1)
    tool_zero=$(sed -n 's/.*GearZero="\([^"]*\)".*/\1/p' "$base/Data/Tools/$tool_file" | head -n1)
fi
io_module=$(sed -n 's/.*<DIOModule ID="\([0-9]*\)".*/\1/p' "$base"/Data/Projects/*.xml | head -n1)
unit="deg"
[ "$robot_type" = "GANTRY" ] && unit="mm"

say "robot $robot ($example, $robot_type, $joints joints${tool_file:+, gripper $tool_file}${io_module:+, I/O module $io_module})"
say "run folder $run_dir"

# ---------------------------------------------------------------- simulator and controller

orv_start_jointsim "$bin" "$base" "$bus_port" "$run_dir/jointsim.log" --control 0 --speed 120 || fail "$orv_error"
control_port=$(orv_jointsim_control_port "$run_dir/jointsim.log")
say "joint bus simulator running (pid $sim_pid, UDP $bus_port, control port $control_port)"

orv_start_controller "$bin" "$base" "$run_dir/controller.out"
say "controller running (pid $ctrl_pid, front-end port $fe_port), log files in $base"

# One command to the simulator's control port; prints its reply.
sim_control() {
    local reply line
    exec 7<>"/dev/tcp/127.0.0.1/$control_port" || return 1
    printf '%s\n' "$1" >&7
    reply=""
    while IFS= read -r -t 5 line <&7; do
        reply+="$line"$'\n'
        case "$line" in ok|error*) break ;; esac
    done
    exec 7<&- 7>&-
    printf '%s' "$reply"
}

# ---------------------------------------------------------------- the page for a person (--web)

if [ "$web_mode" -eq 1 ]; then
    cp "$example_dir"/Demo/*.xml "$base/Data/Programs/" 2>/dev/null || true
    if [ -n "$io_module" ]; then
        sim_control "inputs $io_module 0x01" | grep -q '^ok' || fail "could not set the simulated inputs"
        say "input 21 (part present at the feeder) set at the I/O module $io_module"
    fi
    setsid "$bin/orvane-web" --listen "127.0.0.1:$web_port" --token-file "$run_dir/web-token" \
        --port "$fe_port" --base "$base" </dev/null >"$run_dir/web.log" 2>&1 &
    web_pid=$!
    for i in $(seq 1 300); do
        grep -q 'connected to the controller' "$run_dir/web.log" && break
        kill -0 "$web_pid" 2>/dev/null || fail "orvane-web ended: $(tail -n 3 "$run_dir/web.log")"
        sleep 0.1
    done
    grep -q 'connected to the controller' "$run_dir/web.log" || fail "orvane-web did not connect to the controller"
    say "orvane-web running (pid $web_pid), connected to the controller"
    say "the demo programs are on the controller: load DemoPickPlace.xml, enable, reference all, start"
    say ""
    say "  open  $web_url"
    say ""
    say "running until Ctrl-C (logs in $run_dir)"
    while kill -0 "$web_pid" 2>/dev/null && kill -0 "$ctrl_pid" 2>/dev/null; do sleep 1; done
    fail "orvane-web or the controller ended (see $run_dir/web.log, $run_dir/controller.out)"
fi

# ---------------------------------------------------------------- front-end

trace="$run_dir/trace.csv"
fe_log="$run_dir/frontend.log"
# orvane-web is the controller's front-end: it runs the demo's console commands
# and serves the page at the same time, for the screenshot.
coproc FE { exec setsid "$bin/orvane-web" --script --listen "127.0.0.1:$web_port" \
                --token-file "$run_dir/web-token" --port "$fe_port" --base "$base" --trace "$trace" 2>&1; }
fe_pid=$FE_PID
fe_in=${FE[1]}
fe_out=${FE[0]}
: >"$fe_log"

fe_last_error=""
info_name=""
info_point=""
info_count=""
program_done=0
# Reads the front-end's output for up to $1 seconds, or until a line matching
# the pattern $2 arrives; returns 0 on the match, 1 on time-out, fails when the
# front-end ends (in script mode it ends at the first failed step).
fe_read() {
    local timeout="$1" pattern="$2" line end=$((SECONDS + ${1%.*} + 1))
    while :; do
        if { IFS= read -r -t "$timeout" line <&"$fe_out"; } 2>/dev/null; then
            printf '%s\n' "$line" >>"$fe_log"
            case "$line" in
                "ERROR: "*) fe_last_error="${line#ERROR: }" ;;
                "ANSWER INFO ProgramInfo "*)
                    local w
                    read -r -a w <<<"$line"
                    info_name="${w[3]:-}"; info_count="${w[4]:-}"; info_point="${w[5]:-}" ;;
                "MESSAGE "*"Program done"*) program_done=1 ;;
            esac
            case "$line" in
                "MESSAGE "*) [ "$progress_shown" -eq 1 ] || say "  controller: ${line#MESSAGE }" ;;
            esac
            [[ -n "$pattern" && "$line" == $pattern ]] && return 0
            [ "$SECONDS" -ge "$end" ] && return 1
        else
            if [ $? -gt 128 ]; then return 1; fi   # read timed out
            wait "$fe_pid" 2>/dev/null; local rc=$?
            fe_pid=""
            fail "the front-end ended (exit $rc)${fe_last_error:+: $fe_last_error}; see $fe_log and $run_dir/controller.out"
        fi
    done
}
progress_shown=0
# One command line to the front-end (a front-end that has ended shows at the next read).
fe_send() { { printf '%s\n' "$1" >&"$fe_in"; } 2>/dev/null || true; }

# Runs front-end commands in order and waits until the last has finished: the
# front-end takes one command after the other, so the answer to a trailing
# "info" marks the end of all before it.
fe_do() {
    local cmd
    for cmd in "$@"; do fe_send "$cmd"; done
    fe_send info
    fe_read 120 "ANSWER INFO ProgramInfo *" || fail "no answer from the front-end after: $*"
}

# The newest trace line as fields: f[0] time, f[2..8] set-points, f[9..15]
# measured, f[16..21] pose, f[22] override, f[23] DIN, f[24] DOUT, f[25] kin, f[26] error.
trace_last() { IFS=, read -r -a f < <(tail -n 1 "$trace"); }
# Phases marked in the plot: "time label" lines, time on the trace's clock.
marks=()
mark() { trace_last; marks+=("${f[0]} $1"); }

fe_read 40 "connected to *" || fail "the front-end could not connect to the controller on port $fe_port"
say "front-end connected"

# The page's screenshot in the middle of the program run: Chromium opens the
# page now, so that its plot and tool path hold the jogs and the program.
shot="$run_dir/page.png"
"$py" "$root/scripts/lib/web-screenshot.py" --timeout 300 "$web_url" "$shot" >"$run_dir/screenshot.log" 2>&1 &
shot_pid=$!

fe_do enable wait-ready
mark "enabled"
say "motors enabled (${f[26]}, kinematic state ${f[25]})"

protocol=$(sed -n 's/.*Protocol="\([^"]*\)".*/\1/p' "$config" | head -n1)
if [ "$protocol" = "VKTCAN" ]; then
    say "joint protocol V1: its joints need no referencing"
elif [ "$joints" -gt 0 ]; then
    refs=()
    for ((j = 0; j < joints; j++)); do refs+=("reference $j"); done
    fe_do "${refs[@]}"
    referenced=0
    for i in $(seq 1 50); do
        status=$(sim_control status)
        referenced=$(printf '%s\n' "$status" | grep -c ' joint .* referenced 1 ')
        [ "$referenced" -ge "$joints" ] && break
        sleep 0.2
    done
    say "referenced $referenced of $joints joints"
fi

fe_do "override 40"
for jog in $joint_jogs; do
    IFS=: read -r axis percent seconds <<<"$jog"
    sign=${axis%%[0-9]*}; axis=${axis#-}
    mark "jog joint $axis"; before=${f[$((1 + axis))]}
    fe_do "mode joint" "jog $axis ${sign}$percent ${seconds:-1.5}"
    trace_last; after=${f[$((1 + axis))]}
    say "jogged joint $axis in joint mode: $before -> $after $unit"
done
axis_names=(X Y Z A B C)
axis=${cart_jog%%:*}; percent=${cart_jog#*:}; sign=${axis%%[0-9]*}; axis=${axis#-}
if [ "$cart_mode" = "platform" ]; then
    before=$(sim_control status | awk '$3 == "platform" {printf "%s ", $14}')
    fe_do "mode platform" "jog $axis ${sign}$percent 1.5"
    after=$(sim_control status | awk '$3 == "platform" {printf "%s ", $14}')
    say "jogged the platform: wheel counts ${before}-> $after"
else
    mark "jog ${sign}${axis_names[$((axis - 1))]}"; before=${f[$((15 + axis))]}
    fe_do "mode $cart_mode" "jog $axis ${sign}$percent 1.5"
    trace_last; after=${f[$((15 + axis))]}
    say "jogged ${sign}${axis_names[$((axis - 1))]} in Cartesian $cart_mode mode: $before -> $after"
fi
fe_do "mode joint"

demo_dir="$example_dir/Demo"
main_program="DemoPickPlace.xml"   # the main program; the other files are its sub-programs
[ -f "$demo_dir/$main_program" ] || fail "no demo program $demo_dir/$main_program"
uploads=()
for file in "$demo_dir"/*.xml; do uploads+=("upload $file Programs/$(basename "$file")"); done
fe_do "${uploads[@]}"
say "uploaded $(cd "$demo_dir" && ls *.xml | tr '\n' ' ')"
fe_do "load $main_program"
[ "$info_name" = "$main_program" ] || fail "the controller did not load $main_program (it reports '$info_name')"
say "loaded $main_program: $info_count program points"

if [ -n "$io_module" ]; then
    sim_control "inputs $io_module 0x01" | grep -q '^ok' || fail "could not set the simulated inputs"
    say "input 21 (part present at the feeder) set at the I/O module $io_module"
fi

fe_do "override $override" start
mark "program start"
say "program started at $override % override"

# Live progress on one line until "Program done".
progress_shown=1
tty=0; [ -t 1 ] && tty=1
deadline=$((SECONDS + 300))
last_print=0
gripper_text=""
while [ "$program_done" -eq 0 ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the program did not finish within 300 s"
    fe_send info
    fe_read 5 "ANSWER INFO ProgramInfo *" || true
    [ "$program_done" -eq 1 ] && break
    trace_last
    js=""
    for ((j = 0; j < joints && j < 7; j++)); do js+=" ${f[$((2 + j))]}"; done
    if [ -n "$tool_file" ]; then
        grip=$(sim_control status | awk -v scale="$tool_scale" -v zero="$tool_zero" \
            '$3 == "gripper" && scale != 0 {printf "%.1f", ($14 - zero) / scale}')
        gripper_text=" | gripper ${grip:-?} mm"
    fi
    point=$((info_point + 1)); [ "${info_point:--1}" -lt 0 ] && point="-"
    line=$(printf 'point %s of %s |%s%s%s | DOUT 0x%x | %s, kin %s' "$point" "$info_count" \
        "${js:+ joints}" "$js" "$gripper_text" "${f[24]}" "${f[26]}" "${f[25]}")
    if [ "$tty" -eq 1 ]; then
        printf '\r\033[K%s' "$line"
    elif [ $((SECONDS - last_print)) -ge 2 ]; then
        printf '%s\n' "$line"; last_print=$SECONDS
    fi
    sleep 0.2
done
[ "$tty" -eq 1 ] && printf '\n'
progress_shown=0
mark "Program done"
say "Program done"
# A program too short for a shot in its middle leaves none: do not wait long.
orv_wait_exit "$shot_pid" 15 || orv_stop_pid "$shot_pid" "the screenshot"
if wait "$shot_pid" && [ -s "$shot" ]; then
    say "screenshot of the browser page in the middle of the program: $shot"
else
    say "no screenshot of the page: $(tail -n 1 "$run_dir/screenshot.log") (see $run_dir/screenshot.log)"
fi
shot_pid=""

fe_do check
trace_last
final=""
for ((j = 0; j < joints && j < 7; j++)); do final+=" ${f[$((9 + j))]}"; done
say "final measured joints:${final:- (none)} $unit; outputs 0x$(printf '%x' "${f[24]}")"
if [ -n "$io_module" ]; then
    say "I/O module $io_module: $(sim_control status | awk -v id="$(printf '0x%02X' "$io_module")" '$2 == id {print "outputs", $18, "inputs", $20}')"
fi

# ---------------------------------------------------------------- plot

plot="$run_dir/joints.png"
if command -v gnuplot >/dev/null && [ "$joints" -gt 0 ]; then
    shown=$((joints < 7 ? joints : 7))
    {
        echo "set terminal pngcairo size 1280,860 noenhanced font 'Sans,10'"
        echo "set output '$plot'"
        echo "set datafile separator ','"
        echo "set multiplot layout 2,1 title 'Orvane demo: $robot ($robot_type), $main_program at $override % override'"
        echo "set grid"
        echo "set key outside right top"
        echo "set lmargin 12; set rmargin 22"
        n=0
        for m in "${marks[@]}"; do
            n=$((n + 1))
            echo "set arrow $n from ${m%% *}, graph 0 to ${m%% *}, graph 1 nohead dt 2 lc rgb 'gray40'"
            echo "set label $n '${m#* }' at ${m%% *}, graph 0.98 rotate by 90 right offset -0.8,0 tc rgb 'gray30'"
        done
        # From the enabling on: before it, the set-points are not yet taken
        # over from the measured joints.
        t0=${marks[0]%% *}
        echo "set xrange [$t0-0.5:*]"
        echo "set size 1,0.68; set origin 0,0.3"
        echo "set ylabel 'joint position [$unit]'"
        echo "set format x ''"
        printf 'plot '
        for ((j = 1; j <= shown; j++)); do
            [ "$j" -gt 1 ] && printf ', '
            printf "'%s' using 1:(\$1 < $t0 ? NaN : \$%d) with lines lw 2 lc %d title 'joint %d set-point', " \
                "$trace" $((2 + j)) "$j" "$j"
            printf "'%s' using 1:(\$1 < $t0 ? NaN : \$%d) every 8 with points pt 6 ps 0.6 lc %d title 'joint %d measured'" \
                "$trace" $((9 + j)) "$j" "$j"
        done
        printf '\n'
        echo "unset label; set size 1,0.3; set origin 0,0"
        echo "set format x '%g'"
        echo "set xlabel 'time since the front-end connected [s]'"
        echo "set ylabel 'set-point - measured [$unit]'"
        printf 'plot '
        for ((j = 1; j <= shown; j++)); do
            [ "$j" -gt 1 ] && printf ', '
            printf "'%s' using 1:(\$1 < $t0 ? NaN : \$%d - \$%d) with points pt 7 ps 0.3 lc %d title 'joint %d'" \
                "$trace" $((2 + j)) $((9 + j)) "$j" "$j"
        done
        printf '\n'
        echo "unset multiplot"
    } >"$run_dir/joints.gnuplot"
    if gnuplot "$run_dir/joints.gnuplot" 2>"$run_dir/gnuplot.log"; then
        say "plot of the joint trajectories: $plot"
    else
        say "gnuplot could not draw the plot (see $run_dir/gnuplot.log)"
    fi
elif [ "$joints" -gt 0 ]; then
    say "gnuplot is not installed: no plot (the trace is in $trace)"
else
    say "no arm joints: no plot"
fi
say "trace of set-points and measured joints: $trace"

# ---------------------------------------------------------------- end

if [ "$keep_running" -eq 1 ]; then
    fe_send quit
    wait "$fe_pid" 2>/dev/null
    fe_pid=""
    detached=1
    say "the controller and the simulator keep running:"
    say "  connect:  $bin/orvane-web --port $fe_port (prints the page's address), or"
    say "            $bin/orvane-frontend --port $fe_port   (type 'help')"
    say "  faults:   simulator control port 127.0.0.1:$control_port (commands in tools/README.md)"
    say "  stop:     kill $ctrl_pid $sim_pid"
    say "  logs:     $base/logMessages01.txt, $run_dir/controller.out"
    exit 0
fi

fe_send "shutdown 99"
fe_send quit
fe_read 30 "connection closed by the controller" || fail "the controller did not close the connection on shutdown"
wait "$fe_pid" 2>/dev/null; fe_rc=$?
fe_pid=""
[ "$fe_rc" -eq 0 ] || fail "the front-end reported a failure (exit $fe_rc): ${fe_last_error:-see $fe_log}"

orv_wait_exit "$ctrl_pid" 15 || fail "the controller did not exit after the shutdown request"
wait "$ctrl_pid"; ctrl_rc=$?
ctrl_pid=""
[ "$ctrl_rc" -eq 0 ] || fail "the controller exited with status $ctrl_rc (see $run_dir/controller.out)"
say "controller shut down through the front-end (exit 0)"
orv_stop_pid "$sim_pid" orvane-jointsim
sim_pid=""

say "controller log files: $base/logMessages01.txt (console copy: $run_dir/controller.out)"
say "simulator log: $run_dir/jointsim.log, front-end log: $fe_log"
say "done"
