#!/usr/bin/env bash
# The controller on a real Linux CAN stack: boots a small virtual machine
# (Debian's own kernel with its can, can-raw and vcan modules, a busybox
# initramfs carrying our native binaries), creates the virtual CAN interface
# can0 in it and runs there, on that one bus:
#   - orvane-jointsim --socketcan can0 (the joint modules and the I/O module),
#   - orvane on its default transport (SocketCAN "can0", no ORVANE_CAN),
#   - candump capturing every frame on can0,
#   - orvane-frontend over the guest's loopback: enable, jog, upload and run a
#     short program, check, shut the controller down.
# Afterwards the capture is checked here, with nothing of our own code: every
# identifier, length and byte against the frame formats of joint protocol V2
# and the example robot's bus configuration.
#
#   scripts/vcan-test.sh [--no-build] [--keep] [--accel kvm|tcg]
#
#   --no-build   use the executables already in build/bin
#   --keep       keep the run folder (build/vcan-runs/...) also on success
#   --accel A    skip the KVM probe and use A
#   --recheck D  only check the results kept in run folder D again
#
# The kernel, the modules and the busybox/can-utils files are prepared once
# into $ORVANE_VCAN_CACHE (default ${XDG_CACHE_HOME:-/var/cache}/orvane-vcan;
# about 90 MB downloaded by apt-get on the first run).
# Exit status: 0 passed or SKIPPED (the line "vcan-test: SKIPPED: reason" says
# why: no qemu, no kernel package, the virtual machine does not boot), 1 failed,
# 2 bad option.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
cache="${ORVANE_VCAN_CACHE:-${XDG_CACHE_HOME:-/var/cache}/orvane-vcan}"
# Bumped when the prepared files change their layout.
cache_layout=1
example=CartesianV2
do_build=1
keep=0
accel=""
recheck=""

usage() { sed -n '15,21p' "$0" | sed 's/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build) do_build=0 ;;
        --keep) keep=1 ;;
        --accel) [ $# -ge 2 ] || { usage >&2; exit 2; }; accel="$2"; shift ;;
        --accel=*) accel="${1#--accel=}" ;;
        --recheck) [ $# -ge 2 ] || { usage >&2; exit 2; }; recheck="$2"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "vcan-test: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done
case "$accel" in ""|kvm|tcg) ;; *) echo "vcan-test: --accel takes kvm or tcg" >&2; exit 2 ;; esac

start_time=$SECONDS
say() { printf '%s\n' "vcan-test: $*"; }
skip() { printf '%s\n' "vcan-test: SKIPPED: $*"; exit 0; }
run_dir=""
fail() {
    printf '%s\n' "vcan-test: FAILED: $*" >&2
    [ -n "$run_dir" ] && printf '%s\n' "vcan-test: console, capture and logs are in $run_dir" >&2
    exit 1
}

qemu_pid=""   # the subshell that runs qemu; qemu's own pid is in $run_dir/qemu.pid
stop_qemu() {
    [ -n "$qemu_pid" ] || return 0
    local pid
    pid=$(cat "$run_dir/qemu.pid" 2>/dev/null)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    kill "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null
    qemu_pid=""
}
cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    stop_qemu
    if [ "$rc" -eq 0 ] && [ "$keep" -eq 0 ] && [ -n "$run_dir" ]; then rm -rf "$run_dir"; fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

target=(50 60 40)   # joint values the session program moves to

if [ -n "$recheck" ]; then
    run_dir="$(cd "$recheck" && pwd)" || exit 2
    keep=1
else
# ---------------------------------------------------------------- packages

apt_install() {  # installs the missing ones of the given Debian packages
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Other builds on the machine may hold the package lock for a while.
    apt-get -o DPkg::Lock::Timeout=600 update -qq &&
        apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

apt_install qemu-system-x86 kmod cpio xz-utils file ||
    say "could not install every package; going on with what is there"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not available (Debian package qemu-system-x86)"
for tool in depmod modprobe cpio xz; do
    command -v "$tool" >/dev/null || skip "$tool is not available"
done

if [ "$do_build" -eq 1 ]; then
    "$root/scripts/install-deps.sh" || fail "could not install the build dependencies"
    say "building orvane, orvane-jointsim and orvane-frontend into build/"
    export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
    mkdir -p "$root/build"
    { cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DORVANE_SANITIZE="" &&
      cmake --build "$root/build" -j "$(nproc 2>/dev/null || echo 2)" \
          --target orvane orvane-jointsim orvane-frontend; } >"$root/build/vcan-build.log" 2>&1 ||
        { tail -n 30 "$root/build/vcan-build.log" >&2; fail "the build failed (build/vcan-build.log)"; }
fi
for exe in orvane orvane-jointsim orvane-frontend; do
    [ -x "$bin/$exe" ] || fail "$bin/$exe is missing (run without --no-build)"
done
case "$(file -L "$bin/orvane")" in
    *x86-64*) ;;
    *) fail "$bin/orvane is not an x86-64 executable (the virtual machine is x86-64)" ;;
esac

# ---------------------------------------------------------------- cached kernel and tools

mkdir -p "$cache" || skip "cannot create the cache folder $cache"
exec 9>"$cache/.lock"
flock -w 900 9 || fail "another vcan-test holds $cache/.lock"

kernel_pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
[ -n "$kernel_pkg" ] || skip "apt-cache names no kernel package for linux-image-amd64 (apt-get update needed?)"
kver=${kernel_pkg#linux-image-}
prep="$cache/$kver-$cache_layout"

prepare() {
    local debs="$cache/debs" tree="$prep.tmp" m
    rm -rf "$tree"
    mkdir -p "$debs" "$tree/unpacked" "$tree/base"
    # apt-get download drops root rights for the download: its user must write here.
    chown _apt "$debs" 2>/dev/null || true
    say "preparing $kver into $prep (downloads the kernel package once)"
    for p in "$kernel_pkg" busybox-static can-utils; do
        ls "$debs/${p}_"*.deb >/dev/null 2>&1 && continue
        (cd "$debs" && apt-get download -q "$p" >/dev/null 2>&1) || return 1
    done
    for p in "$kernel_pkg" busybox-static can-utils; do
        dpkg -x "$(ls "$debs/${p}_"*.deb | tail -n 1)" "$tree/unpacked" || return 1
    done
    # The compressed kernel unpacks itself at every boot, which costs seconds
    # under software emulation: keep the plain ELF image (it has a PVH entry).
    local vmlinuz="$tree/unpacked/boot/vmlinuz-$kver" offset
    offset=$(LC_ALL=C grep -abo $'\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { echo "no xz stream in $vmlinuz" >&2; return 1; }
    tail -c +"$((offset + 1))" "$vmlinuz" | xz -dc >"$tree/vmlinux" 2>/dev/null
    case "$(file "$tree/vmlinux")" in *"ELF 64-bit"*) ;; *) echo "could not unpack $vmlinuz" >&2; return 1 ;; esac

    # The package ships no modules.dep; the load order comes from it.
    depmod -b "$tree/unpacked" "$kver" || return 1
    : >"$tree/base/modules.order"
    mkdir -p "$tree/base/lib/modules"
    for m in vcan can-raw; do
        modprobe -d "$tree/unpacked" -S "$kver" --show-depends "$m" | while read -r word path _; do
            [ "$word" = insmod ] || continue
            local name
            name=$(basename "$path")
            grep -qx "/lib/modules/$name" "$tree/base/modules.order" && continue
            cp "$path" "$tree/base/lib/modules/$name" && echo "/lib/modules/$name" >>"$tree/base/modules.order"
        done
    done
    [ "$(wc -l <"$tree/base/modules.order")" -ge 4 ] || { echo "module dependencies not found" >&2; return 1; }

    mkdir -p "$tree/base/bin" "$tree/base/usr/bin" "$tree/base"/{proc,sys,dev,tmp,run,etc}
    cp "$tree/unpacked/bin/busybox" "$tree/base/bin/busybox"
    cp "$tree/unpacked/usr/bin/candump" "$tree/base/usr/bin/candump"
    (cd "$tree/base" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$tree/base.cpio" || return 1
    # A second archive appended to an uncompressed one must start 4-byte aligned.
    truncate -s "%4" "$tree/base.cpio"
    rm -rf "$tree/unpacked"
    rm -rf "$prep" && mv "$tree" "$prep"
}
if [ ! -f "$prep/base.cpio" ]; then
    prepare || { rm -rf "$prep.tmp"; skip "could not prepare the kernel $kernel_pkg, busybox-static and can-utils (apt-get download failed?)"; }
fi
flock -u 9

# ---------------------------------------------------------------- run folder and guest files

mkdir -p "$root/build/vcan-runs"
run_dir="$root/build/vcan-runs/$(date +%Y%m%d-%H%M%S)-$$"
payload="$run_dir/payload"
mkdir -p "$payload"/{opt/orvane/bin,vcan,lib64} || fail "cannot create $payload"

base="$payload/Orvane"
mkdir -p "$base"
(cd "$root/examples/$example" && tar --exclude=./Demo -cf - .) | (cd "$base" && tar -xf -) ||
    fail "cannot stage examples/$example"
cp "$bin/orvane" "$bin/orvane-jointsim" "$bin/orvane-frontend" "$payload/opt/orvane/bin/"
# The shared libraries of our executables and of candump, at the paths ldd names.
for exe in "$bin/orvane" "$bin/orvane-jointsim" "$bin/orvane-frontend" "$prep/base/usr/bin/candump"; do
    ldd "$exe" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}'
done | sort -u | while read -r lib; do
    mkdir -p "$payload$(dirname "$lib")"
    cp -L "$lib" "$payload$lib"
done

# The session program: an output on, a joint move, a wait, the output off.
cat >"$payload/vcan/VcanSession.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Program>
    <Header Author="vcan-test"/>
    <Output Channel="DOut21" State="true"/>
    <Joint a1="${target[0]}" a2="${target[1]}" a3="${target[2]}" velPercent="50" acc="50" smooth="0"/>
    <Wait Type="Time" Seconds="0.5"/>
    <Output Channel="DOut21" State="false"/>
    <Wait Type="Time" Seconds="0.2"/>
</Program>
EOF

# /init of the guest: modules, can0, the session, the results on the second serial port.
cat >"$payload/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/opt/orvane/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp
echo "vcan-guest: init started"
out=/dev/ttyS1
stty -F $out raw -echo 2>/dev/null
finish() {
    echo "@@vcan-end $1" >$out
    sync
    poweroff -f
}
ip link set lo up
for m in $(cat /modules.order); do
    insmod "$m" || { echo "vcan-guest: insmod $m failed"; finish modules; }
done
ip link add dev can0 type vcan && ip link set can0 up || { echo "vcan-guest: no can0"; finish can0; }
echo "vcan-guest: can0 up"
# candump must not lose frames while the guest is busy.
echo 4194304 >/proc/sys/net/core/rmem_max

cd /Orvane
candump -L -d -r 4194304 can0 >/tmp/capture.log 2>/tmp/candump.err &
dump=$!
orvane-jointsim --socketcan can0 --base /Orvane/ >/tmp/jointsim.log 2>&1 &
sim=$!
i=0
while ! grep -q '^ready' /tmp/jointsim.log 2>/dev/null; do
    i=$((i + 1)); [ $i -lt 300 ] || break; sleep 0.2
done
sleep 1
echo "vcan-guest: jointsim ready, starting the controller"
orvane </dev/null >/tmp/controller.out 2>&1 &
ctrl=$!
orvane-frontend --script --timeout 120 --connect-timeout 120 --status-every 0 \
    enable wait-ready check 'mode joint' 'jog 1 50 1' check \
    'upload /vcan/VcanSession.xml Programs/VcanSession.xml' 'load VcanSession.xml' start \
    'wait-message Program done' info check 'shutdown 99' >/tmp/frontend.log 2>&1
fe_rc=$?
echo "vcan-guest: front-end session ended with $fe_rc"
i=0
while kill -0 $ctrl 2>/dev/null; do
    i=$((i + 1))
    [ $i -eq 300 ] && { echo "vcan-guest: the controller did not end, stopping it"; kill $ctrl; }
    [ $i -ge 400 ] && { kill -9 $ctrl; break; }
    sleep 0.2
done
wait $ctrl
ctrl_rc=$?
sleep 0.5
kill $sim; wait $sim
sim_rc=$?
kill -INT $dump; wait $dump
echo "vcan-guest: controller ended with $ctrl_rc, jointsim with $sim_rc"
{
    echo "@@vcan-status frontend=$fe_rc controller=$ctrl_rc jointsim=$sim_rc"
    for f in capture.log candump.err frontend.log controller.out jointsim.log; do
        echo "@@vcan-section $f"
        cat /tmp/$f
    done
    echo "@@vcan-section logMessages01.txt"
    cat /Orvane/logMessages01.txt 2>/dev/null
} >$out
finish done
EOF
chmod +x "$payload/init"
(cd "$payload" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$run_dir/payload.cpio" ||
    fail "cannot pack the guest files"
cat "$prep/base.cpio" "$run_dir/payload.cpio" >"$run_dir/initrd.cpio"
rm -rf "$payload" "$run_dir/payload.cpio"

# ---------------------------------------------------------------- boot

# Boots once; waits up to $2 s for the guest's first line, then up to $3 s for the end.
# Returns 0 done, 3 no first line (the machine cannot run it), 1 time-out afterwards.
boot() {
    local mode="$1" first_wait="$2" total_wait="$3" t
    local args=(-machine pc -m 768 -smp 2 -nodefaults -no-reboot -display none
                -kernel "$prep/vmlinux" -initrd "$run_dir/initrd.cpio"
                -append "console=ttyS0 panic=-1 quiet"
                -fw_cfg name=etc/sercon-port,string=0
                -serial "file:$run_dir/console.log" -serial "file:$run_dir/results.raw")
    if [ "$mode" = kvm ]; then args+=(-accel kvm -cpu host); else args+=(-accel tcg); fi
    : >"$run_dir/console.log"; : >"$run_dir/results.raw"
    # In a subshell, so that an aborting KVM attempt is reported into qemu.log.
    rm -f "$run_dir/qemu.pid"
    (qemu-system-x86_64 "${args[@]}" -pidfile "$run_dir/qemu.pid"; exit $?) >"$run_dir/qemu.log" 2>&1 &
    qemu_pid=$!
    t=0
    while ! grep -q "vcan-guest: init started" "$run_dir/console.log"; do
        if ! kill -0 "$qemu_pid" 2>/dev/null || [ "$t" -ge "$((first_wait * 5))" ]; then
            stop_qemu
            return 3
        fi
        t=$((t + 1)); sleep 0.2
    done
    t=0
    while kill -0 "$qemu_pid" 2>/dev/null; do
        if [ "$t" -ge "$((total_wait * 5))" ]; then
            stop_qemu
            return 1
        fi
        t=$((t + 1)); sleep 0.2
    done
    wait "$qemu_pid" 2>/dev/null; qemu_pid=""
    return 0
}

if [ -z "$accel" ]; then
    accel=tcg
    [ -r /dev/kvm ] && [ -w /dev/kvm ] && accel=kvm
fi
rc=3
if [ "$accel" = kvm ]; then
    say "booting the virtual machine with KVM"
    boot kvm 20 300; rc=$?
    if [ "$rc" -eq 3 ]; then
        say "KVM does not boot here ($(grep -m1 -iE 'error|assert|fail' "$run_dir/qemu.log" || echo 'no first line from the guest')); falling back to software emulation"
        accel=tcg
    fi
fi
if [ "$accel" = tcg ]; then
    say "booting the virtual machine with software emulation (TCG)"
    boot tcg 120 600; rc=$?
fi
case "$rc" in
    0) ;;
    3) skip "qemu-system-x86_64 does not boot the kernel here: $(tail -n 2 "$run_dir/qemu.log" | tr '\n' ' ')" ;;
    *) tail -n 20 "$run_dir/console.log" >&2; fail "the virtual machine did not finish within its time" ;;
esac
say "virtual machine ran for $((SECONDS - start_time)) s since the start of the script ($accel)"
# The guest wrote its results as sections on its second serial port.
tr -d '\r' <"$run_dir/results.raw" | awk -v dir="$run_dir" '
    /^@@vcan-section / { out = dir "/" $2; printf "" > out; next }
    /^@@vcan-status /  { print > (dir "/status"); next }
    /^@@vcan-end /     { print > (dir "/end"); out = ""; next }
    out != ""          { print > out }'
# vcan hands each frame to the receivers through the sending CPU's backlog
# queue: with two CPUs candump may print two frames out of their sending
# order. The kernel stamps them when they are sent; that order is the wire's.
if [ -f "$run_dir/capture.log" ]; then
    mv "$run_dir/capture.log" "$run_dir/candump.log"
    sort -s -k1,1 "$run_dir/candump.log" >"$run_dir/capture.log"
fi
fi

# ---------------------------------------------------------------- results

end=$(cat "$run_dir/end" 2>/dev/null)
[ "$end" = "@@vcan-end done" ] || { tail -n 20 "$run_dir/console.log" >&2; fail "the guest did not complete its session (${end:-no end mark})"; }
status=$(cat "$run_dir/status")
say "guest: ${status#@@vcan-status }"
case "$status" in
    *"frontend=0 controller=0 "*) ;;
    *) tail -n 15 "$run_dir/frontend.log" >&2
       tail -n 15 "$run_dir/controller.out" >&2
       fail "the session in the guest failed ($status)" ;;
esac
[ -s "$run_dir/candump.err" ] && fail "candump reported: $(head -n 3 "$run_dir/candump.err")"
say "session in the guest:"
session_ok=1
session() {  # text, file, pattern: one line of the session report
    if grep -q -e "$3" "$run_dir/$2"; then echo "  ok    $1"; else echo "  FAIL  $1 (no \"$3\" in $2)"; session_ok=0; fi
}
session "controller on SocketCAN can0" controller.out "Connected to CAN module via SocketCAN"
session "controller status \"NoError\", kinematic state 0 (front-end check after the enable)" frontend.log "^STATUS #.* | error NoError .* | kin 0 KinOK"
session "the program ran to its end" frontend.log "^MESSAGE Program done"
session "controller's orderly exit" controller.out "Orvane: Exiting..."
[ "$session_ok" -eq 1 ] || fail "the session in the guest went wrong"

# ---------------------------------------------------------------- the capture, byte by byte

# The robot's bus as its files state it: arm joints (ID, gear scale, gear zero) and the I/O module.
config="$root/examples/$example/Data/Robots/GANTRY/GANTRY.xml"
joints=$(sed -n 's/.*<Joint[0-9]* ID="\([0-9]*\)" GearScale="\([^"]*\)" GearZero="\([^"]*\)".*/\1:\2:\3/p' "$config" | tr '\n' ' ')
io_module=$(sed -n 's/.*<DIOModule ID="\([0-9]*\)".*/\1/p' "$root/examples/$example"/Data/Projects/*.xml | head -n 1)
[ -n "$joints" ] && [ -n "$io_module" ] || fail "cannot read the bus configuration of examples/$example"

awk -v joints="$joints" -v io="$io_module" -v target="${target[*]}" -v report="$run_dir/check.txt" '
function hex(s,   i, v) { v = 0; for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return v }
function byte(data, i) { return hex(substr(data, 2 * i + 1, 2)) }
function s32(data, i,   v) { v = byte(data, i) * 16777216 + byte(data, i + 1) * 65536 + byte(data, i + 2) * 256 + byte(data, i + 3)
                             return v >= 2147483648 ? v - 4294967296 : v }
function bad(msg) { if (errors < 20) print "  line " NR ": " msg " [" $0 "]" > "/dev/stderr"; errors++ }
BEGIN {
    nj = split(joints, j, " ")
    for (k = 1; k <= nj; k++) { split(j[k], f, ":"); jid[k] = f[1]; scale[k] = f[2]; zero[k] = f[3]; module_of[f[1]] = k }
    nm = nj + 1; jid[nm] = io; module_of[io] = nm      # table order: joints, then the I/O module
    split(target, tg, " ")
    for (k = 1; k <= nj; k++) tcounts[k] = int(zero[k] + tg[k] * scale[k])
    expect_group = 1; last_counter = -1
}
{
    if ($0 !~ /^\([0-9]+\.[0-9]+\) can0 [0-9A-F]+#([0-9A-F][0-9A-F])*$/) { bad("not a CAN data frame in candump log format"); next }
    split($3, p, "#"); idtext = p[1]; data = p[2]; len = length(data) / 2
    if (length(idtext) != 3) { bad("extended identifier"); next }
    id = hex(idtext); frames++
    seen[id]++
    if (id in module_of) { controller_frame(); next }
    if ((id - 1) in module_of) { answer(); next }
    if ((id - 3) in module_of) { temperature(); next }
    if (id == 1) { led(); next }
    if (id == 6) { supply(); next }
    bad(sprintf("identifier 0x%03X belongs to no module of this robot", id))
}
function controller_frame(   k, counts, counter, cmd) {
    k = module_of[id]
    if (len == 2 && substr(data, 1, 2) == "01") {
        cmd = substr(data, 3, 2)
        commands++
        # Reset, enable and disable go to every module in table order, with no
        # cyclic frame in between (the protocol pauses its cyclic exchange).
        if (cmd != "06" && cmd != "09" && cmd != "0A") { bad("unexpected command"); return }
        if (expect_group != 1) bad("command inside a cycle")
        if (k == 1) { if (group_cmd != "") bad("command sequence cut short"); group_cmd = cmd; group_pos = 1 }
        else if (cmd != group_cmd || k != group_pos + 1) { bad("command out of table order"); return }
        else group_pos = k
        if (k == nm) { groups[cmd]++; group_at[cmd, groups[cmd]] = frames; group_cmd = "" }
        return
    }
    if (len == 4 && data == "01087D00") { commands++; return }
    if (len == 6 && data == "010C3C966432") { commands++; return }
    if (len != 8 || substr(data, 1, 2) != "14") { bad("neither a command nor a position or I/O frame"); return }
    counter = byte(data, 6)
    if (group_cmd != "") { bad("cyclic frame inside a command sequence"); group_cmd = "" }
    if (k != expect_group) { bad(sprintf("cyclic frame for module %d where module %d was due", k, expect_group)); expect_group = k }
    if (k == 1) {
        if (last_counter < 0 && counter != 1) bad("the first cycle does not carry message counter 1")
        if (last_counter >= 0 && counter != (last_counter + 1) % 255) bad(sprintf("message counter %d after %d", counter, last_counter))
        last_counter = counter; cycles++
    } else if (counter != last_counter) bad("message counter differs within one cycle")
    if (k <= nj) {
        if (substr(data, 3, 2) != "80") bad("velocity byte is not 0x80")
        if (byte(data, 7) != 0) bad("output bits set on a joint")
        counts = s32(data, 2)
        # A planned or jogged path moves a joint a few mm per cycle at most.
        if (cycles > 1 && (counts - cur[k] > 1000 || cur[k] - counts > 1000)) bad(sprintf("joint %d jumps from %d to %d counts", k, cur[k], counts))
        cur[k] = counts
        if (counts != 0) moved[k] = 1
        if (!(k in first_move) && counts != 0) first_move[k] = cycles
    } else {
        if (substr(data, 3, 10) != "0000000000") bad("I/O frame bytes 1 to 5 are not zero")
        out = byte(data, 7)
        if (out != 0 && out != 1) bad("unexpected output bits")
        at_target = 1
        for (m = 1; m <= nj; m++) if (cur[m] != tcounts[m]) at_target = 0
        if (out == 1) { out_on++; if (at_target) on_at_target++ }
        if (out == 0 && out_on > 0 && at_target) off_at_target++
        last_out = out; last_at_target = at_target
    }
    expect_group = k % nm + 1
}
function answer(   k) {
    k = module_of[id - 1]
    if (len != 8) { bad("answer not 8 bytes long"); return }
    e = byte(data, 0)
    answers++
    if (e == 4) mne_answers++
    else if (e == 0) { ok_answers++; last_ok[k] = 1 }
    else bad(sprintf("answer with error bits 0x%02X", e))
    if (e != 0) last_ok[k] = 0
    if (k <= nj) answered[k] = s32(data, 1)
}
function temperature(   t) {
    if (len != 8 || substr(data, 1, 2) != "12") { bad("temperature message malformed"); return }
    t = (byte(data, 6) * 256 + byte(data, 7)) * 0.3125 - 25.6
    if (t < 0 || t > 100) bad("temperature out of range")
    temps++
}
function led(   rgb) {
    if (len != 8 || substr(data, 1, 6) != "013000" || substr(data, 13, 4) != "0000") { bad("status LED frame malformed"); return }
    rgb = substr(data, 7, 6)
    # Red is right at start-up, before the first supply message is in.
    if (rgb == "009600") { green++; if (groups["09"] > 0) green_after_enable++ }
    else if (rgb == "DC5F00") { amber++; if (green) not_green_later++ }
    else if (rgb == "960000") { red++; if (green) not_green_later++ }
    else bad("status LED colour")
}
function supply(   mv, estop) {
    if (len != 8) { bad("supply message not 8 bytes"); return }
    mv = (byte(data, 2) * 256 + byte(data, 3)) * 10
    estop = int(byte(data, 6) / 128) + 2 * int(byte(data, 7) / 128)
    if (mv < 20000) bad("supply below 20 V"); if (estop != 3) bad("emergency stop state " estop)
    supplies++
}
END {
    need(frames > 0, "frames captured: " frames)
    need(cycles > 0, "cyclic exchange: " cycles " cycles, message counter continuous, every module in table order")
    need(groups["06"] >= 2, "reset commands (01 06) to every module in table order: " groups["06"] " times (enable and shutdown)")
    need(groups["09"] >= 1 && group_at["09", 1] > group_at["06", 1], "enable commands (01 09) to every module after a reset: " groups["09"] " times")
    need(mne_answers > 0, "answers \"motor not enabled\" (0x04) before the enable: " mne_answers)
    need(ok_answers > 0, "answers without error bits after the enable: " ok_answers)
    all_ok = 1; for (k = 1; k <= nm; k++) if (!last_ok[k]) all_ok = 0
    need(all_ok, "last answer of every module without error bits")
    need(amber > 0, "status LED amber (motor not enabled) frames: " amber)
    need(green_after_enable > 0, "status LED green (no error) after the enable: " green_after_enable)
    need(not_green_later == 0, "status LED stays green once green (red frames at start-up: " red ")")
    need(moved[1] && first_move[1] < first_move[2] && first_move[1] < first_move[3], "joint 1 jogged before the program moved the others")
    need(on_at_target > 0, sprintf("program: output 1 of the I/O module on while the joints stood at counts %d %d %d (%d cycles)", tcounts[1], tcounts[2], tcounts[3], on_at_target))
    need(off_at_target > 0 && last_out == 0, "program: output off again at the target")
    same = 1; for (k = 1; k <= nj; k++) if (answered[k] != cur[k]) same = 0
    need(same, "joint modules answered the last set-points")
    need(supplies > 0, "supply messages 24 V, no emergency stop: " supplies)
    need(temps > 0, "temperature messages: " temps)
    need(errors == 0, "frames not as defined: " errors + 0)
    ids = ""; for (i = 0; i < 2048; i++) if (i in seen) ids = ids sprintf(" 0x%03X:%d", i, seen[i])
    print "  identifiers (frames):" ids > report
    exit failed ? 1 : 0
}
function need(ok, text) { print (ok ? "  ok    " : "  FAIL  ") text > report; if (!ok) failed = 1 }
' "$run_dir/capture.log"
check_rc=$?
say "capture check ($(wc -l <"$run_dir/capture.log") frames on can0):"
cat "$run_dir/check.txt"
[ "$check_rc" -eq 0 ] || fail "the capture does not match the frames of joint protocol V2"

say "capture excerpt (candump -L; line numbers of the capture):"
excerpt() { sed -n "$1,$2p" "$run_dir/capture.log" | awk -v n="$1" '{printf "    %5d %s\n", n + NR - 1, $0}'; }
first() { grep -n -m 1 -e "$1" "$run_dir/capture.log" | cut -d: -f1; }
echo "  first cycle: position frames 0x14 0x80 counts(4) counter outputs, I/O frame, answers"
l=$(first ' 010#14'); [ -n "$l" ] && excerpt "$l" "$((l + 7))"
echo "  reset and enable, every module in table order"
l=$(first ' 010#0106$'); [ -n "$l" ] && excerpt "$l" "$((l + 7))"
echo "  the program at its target (joint counts $(( target[0] * 190 )) $(( target[1] * 190 )) $(( target[2] * 190 )), output 1 of the I/O module on)"
l=$(first " 010#1480$(printf '%08X' "$(( target[0] * 190 ))")"); [ -n "$l" ] && excerpt "$l" "$((l + 7))"
echo "  shutdown: reset again"
grep -n ' [0-9A-F]*#0106$' "$run_dir/capture.log" | tail -n 4 | awk -F: '{l = $1; sub(/^[0-9]+:/, ""); printf "    %5d %s\n", l, $0}'
say "PASSED in $((SECONDS - start_time)) s"
