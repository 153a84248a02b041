# Starting and stopping the controller and the joint-bus simulator, shared by
# demo.sh, soak.sh and cycle-timing.sh. Source it; it defines functions only.
#
# Every function that can fail returns non-zero and leaves the reason in
# $orv_error, so the caller decides whether that ends the script or one run.
# Messages about processes are prefixed with $orv_name (set it first).
#
#   orv_build LOG TARGET...             configure build/ (Release) and build the targets, output in LOG
#   orv_check_executables BIN EXE...    every EXE executable in BIN
#   orv_stage_run RUN_DIR EXAMPLE_DIR   RUN_DIR/Orvane with the example project (without its Demo/)
#   orv_free_ports                      sets bus_port (UDP pair P, P+1) and fe_port (TCP), free right now
#   orv_start_jointsim BIN BASE BUS_PORT LOG [ARG...]
#                                       starts orvane-jointsim, waits for its "ready"; sets sim_pid
#   orv_jointsim_control_port LOG       prints the simulator's control port
#   orv_start_controller BIN BASE OUT [VAR=VALUE...]
#                                       starts orvane in BASE with the joint bus udp:$bus_port and the
#                                       front-end on $fe_port, the environment VAR=VALUE added; sets ctrl_pid
#   orv_wait_exit PID SECONDS           waits until PID has ended
#   orv_stop_pid PID NAME [SECONDS]     TERM, then KILL after SECONDS (default 5)
#
# The processes run in sessions of their own (setsid), so a Ctrl-C reaches
# only the script, which then stops them in order.

orv_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
orv_name="${orv_name:-orvane}"
orv_error=""

orv_build() {
    local log="$1"
    shift
    export CCACHE_BASEDIR="$orv_root" CCACHE_NOHASHDIR=1
    cmake -S "$orv_root" -B "$orv_root/build" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE="" >/dev/null ||
        { orv_error="cmake could not configure build/"; return 1; }
    cmake --build "$orv_root/build" -j "$(nproc 2>/dev/null || echo 2)" --target "$@" >"$log" 2>&1 ||
        { tail -n 30 "$log" >&2; orv_error="the build failed (${log#"$orv_root"/})"; return 1; }
}

orv_check_executables() {
    local dir="$1" exe
    shift
    for exe in "$@"; do
        [ -x "$dir/$exe" ] || { orv_error="$dir/$exe is missing"; return 1; }
    done
}

orv_stage_run() {
    local run_dir="$1" example="$2"
    [ -d "$example" ] || { orv_error="no example $example"; return 1; }
    mkdir -p "$run_dir/Orvane" || { orv_error="cannot create $run_dir/Orvane"; return 1; }
    # The controller's base directory is its working directory up to the
    # last "Orvane", so the project goes into RUN_DIR/Orvane.
    (cd "$example" && tar --exclude=./Demo -cf - .) | (cd "$run_dir/Orvane" && tar -xf -) ||
        { orv_error="cannot stage $example into $run_dir/Orvane"; return 1; }
}

orv_free_ports() {
    bus_port=""; fe_port=""
    command -v python3 >/dev/null ||
        { orv_error="python3 is needed to pick free ports (scripts/install-deps.sh installs it)"; return 1; }
    read -r bus_port fe_port < <(python3 "$orv_root/scripts/lib/free-ports.py") || true
    [ -n "${fe_port:-}" ] || { orv_error="found no free loopback ports"; return 1; }
}

orv_start_jointsim() {
    local bin="$1" base="$2" port="$3" log="$4" i
    shift 4
    setsid "$bin/orvane-jointsim" --base "$base" --udp "$port" "$@" </dev/null >"$log" 2>&1 &
    sim_pid=$!
    for i in $(seq 1 300); do
        grep -q '^ready' "$log" 2>/dev/null && return 0
        kill -0 "$sim_pid" 2>/dev/null ||
            { orv_error="orvane-jointsim ended at start-up: $(tail -n 3 "$log")"; return 1; }
        sleep 0.1
    done
    orv_error="orvane-jointsim did not get ready"
    return 1
}

orv_jointsim_control_port() {
    sed -n 's/.*control listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$1" | head -n1
}

orv_start_controller() {
    local bin="$1" base="$2" out="$3"
    shift 3
    (cd "$base" && exec env ORVANE_CAN="udp:$bus_port" ORVANE_FRONTEND_PORT="$fe_port" "$@" \
        setsid "$bin/orvane" </dev/null >"$out" 2>&1) &
    ctrl_pid=$!
}

orv_wait_exit() {
    local pid="$1" i
    for i in $(seq 1 $(($2 * 10))); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    ! kill -0 "$pid" 2>/dev/null
}

orv_stop_pid() {
    local pid="$1" name="$2" grace="${3:-5}"
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    if ! orv_wait_exit "$pid" "$grace"; then
        echo "$orv_name: $name (pid $pid) did not stop, killing it" >&2
        kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
}
