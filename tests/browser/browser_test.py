#!/usr/bin/env python3
"""Browser end-to-end test: the controller, orvane-jointsim and orvane-web as
processes over loopback, and headless Chromium operating the page like a
person would. Checks, in order: a wrong token gets nothing; the page shows
live joints; a held jog button moves the joint at the simulator and letting
go stops it; a page that hangs mid-jog and a tab closed mid-jog stop the
joint; upload (drag and drop), load and start end in "Program done".

    browser_test.py --bin BUILD/bin --source REPO [--screenshot FILE]
"""
import argparse
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

import websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from devtools import Browser  # noqa: E402

PROGRAM = """<?xml version="1.0" encoding="UTF-8"?>
<Program>
    <Joint Nr="1" a1="10" a2="10" a3="10" a4="70" a5="10" a6="0" velPercent="40" acc="50" smooth="0"/>
    <Joint Nr="2" a1="-10" a2="15" a3="5" a4="70" a5="-10" a6="0" velPercent="40" acc="50" smooth="0"/>
    <Wait Type="Time" Seconds="0.2"/>
</Program>
"""


def free_port(kind, pair=False):
    rnd = random.Random()
    for _ in range(500):
        port = rnd.randrange(20000, 60000, 2)
        ports = [port, port + 1] if pair else [port]
        ok = True
        for p in ports:
            s = socket.socket(socket.AF_INET, kind)
            try:
                s.bind(("127.0.0.1", p))
            except OSError:
                ok = False
            finally:
                s.close()
        if ok:
            return port
    raise RuntimeError("no free loopback port")


class Process:
    def __init__(self, name, args, log, cwd=None, env=None):
        self.name, self.log = name, log
        self.out = open(log, "w")
        self.p = subprocess.Popen(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=self.out, stderr=subprocess.STDOUT, start_new_session=True)

    def text(self):
        with open(self.log, errors="replace") as f:
            return f.read()

    def wait_for(self, needle, timeout):
        deadline = time.monotonic() + timeout
        while needle not in self.text():
            if self.p.poll() is not None or time.monotonic() > deadline:
                raise AssertionError(f"{self.name}: no '{needle}' (see {self.log}):\n{self.text()[-2000:]}")
            time.sleep(0.1)

    def stop(self):
        if self.p.poll() is None:
            os.killpg(self.p.pid, signal.SIGTERM)
            try:
                self.p.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.p.pid, signal.SIGKILL)
                self.p.wait()
        self.out.close()


class Simulator:
    def __init__(self, port):
        self.port = port

    def target(self, joint):
        """The set-point the simulator last received for arm joint `joint` (0-based)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(b"status\n")
            data = b""
            while not data.endswith(b"ok\n") and b"error" not in data:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        for line in data.decode().splitlines():
            w = line.split()
            if len(w) > 3 and w[0] == "module" and w[2] == "joint" and w[3] == str(joint):
                return int(w[w.index("target") + 1])
        raise AssertionError(f"no joint {joint} in the simulator's status:\n{data.decode()}")

    def stop_time(self, joint, since, last, settle=1.0, limit=10.0):
        """Seconds from `since` to the last change of the joint's set-point
        (which read `last` just before), once it has stayed unchanged for
        `settle` seconds; at most the poll interval late."""
        last_change = since
        while True:
            now = time.monotonic()
            value = self.target(joint)
            if value != last:
                last, last_change = value, now
            elif now - last_change >= settle:
                return last_change - since
            if now - since > limit:
                raise AssertionError(f"joint {joint} still moving {limit} s after the jog should have stopped")
            time.sleep(0.01)


def hold(tab, simulator, button, joint, seconds):
    """Presses and holds `button` until joint `joint` has moved for `seconds`;
    returns while it is still held and moving. On a machine so loaded that the
    page stalls for longer than orvane-web's time-out, orvane-web stops the jog
    (the page shows it) and the operator has to press again: so does this,
    up to three times."""
    for attempt in range(3):
        trips = tab.eval("window.orvane.jogTrips")
        before = simulator.target(joint)
        tab.mouse("mousePressed", button)
        time.sleep(seconds)
        earlier = simulator.target(joint)
        time.sleep(0.1)
        value = simulator.target(joint)
        if tab.eval("window.orvane.jogTrips") == trips and value != earlier and earlier != before:
            return before, value
        # Which link lost the jog: the page let go (no longer held: focus,
        # visibility or pointer capture lost), orvane-web stopped it (a safety
        # stop shown), or the controller did not move while it was held.
        page = tab.eval(f"(() => {{ const b = document.querySelector({button!r});"
                        " return [b !== null && b.classList.contains('held'), document.visibilityState,"
                        " document.hasFocus()]; })()")
        print(f"browser-test: note: {button} did not keep moving joint {joint + 1} ({before} -> {earlier} -> {value}"
              f" counts; safety stops shown: {tab.eval('window.orvane.jogTrips') - trips}; held, visibility, focus"
              f" on the page: {page}); pressing again", flush=True)
        tab.mouse("mouseReleased", button)
        time.sleep(0.5)
    raise AssertionError(f"holding {button} did not keep joint {joint + 1} moving")


def check(condition, message):
    if not condition:
        raise AssertionError(message)
    print(f"browser-test: ok   {message}", flush=True)


def expect_refused(url, token):
    try:
        urllib.request.urlopen(url, timeout=10)
    except urllib.error.HTTPError as e:
        return e.code
    return 200


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--screenshot")
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    started = time.monotonic()

    work = tempfile.mkdtemp(prefix="orvane-browser-")
    base = os.path.join(work, "Orvane")
    shutil.copytree(os.path.join(args.source, "examples", "SixAxisGripperV2"), base,
                    ignore=shutil.ignore_patterns("Demo"))
    token = "%032x" % random.getrandbits(128)
    with open(os.path.join(work, "token"), "w") as f:
        f.write(token + "\n")
    bus = free_port(socket.SOCK_DGRAM, pair=True)
    fe, web = free_port(socket.SOCK_STREAM), free_port(socket.SOCK_STREAM)
    processes, browser = [], None
    try:
        sim = Process("orvane-jointsim", [os.path.join(args.bin, "orvane-jointsim"), "--base", base,
                                          "--udp", str(bus), "--control", "0"],
                      os.path.join(work, "jointsim.log"))
        processes.append(sim)
        sim.wait_for("ready", 30)
        control = int(sim.text().split("control listening on 127.0.0.1:")[1].split()[0])
        simulator = Simulator(control)
        # Normal scheduling, as every test controller (the machine is shared).
        env = dict(os.environ, ORVANE_CAN=f"udp:{bus}", ORVANE_FRONTEND_PORT=str(fe),
                   ORVANE_FRONTEND_ADDRESS="127.0.0.1", ORVANE_RT_PRIORITY="0")
        ctrl = Process("orvane", [os.path.join(args.bin, "orvane")], os.path.join(work, "controller.log"),
                       cwd=base, env=env)
        processes.append(ctrl)
        ctrl.wait_for("NEX-Server: waiting for client", 60)
        webp = Process("orvane-web", [os.path.join(args.bin, "orvane-web"), "--listen", f"127.0.0.1:{web}",
                                      "--token-file", os.path.join(work, "token"), "--port", str(fe),
                                      "--base", base], os.path.join(work, "web.log"))
        processes.append(webp)
        webp.wait_for("connected to the controller", 60)
        url = f"http://127.0.0.1:{web}/?token={token}"

        # ---- a wrong token gets nothing
        for path in ["/", "/?token=" + "0" * 32, "/app.js", "/style.css", "/ws?token=x"]:
            code = expect_refused(f"http://127.0.0.1:{web}{path}", token)
            check(code == 401, f"{path} without the right token: HTTP {code}")
        try:
            ws = websocket.create_connection(f"ws://127.0.0.1:{web}/ws?token=wrong{token[5:]}", timeout=10)
            ws.send('{"type":"command","name":"enable"}')
            ws.close()
            refused = False
        except (websocket.WebSocketException, OSError):
            refused = True
        check(refused, "WebSocket with a wrong token refused")
        browser = Browser()
        bad = browser.open(f"http://127.0.0.1:{web}/?token=nottheone")
        text = bad.wait("document.body && document.body.innerText", 30, "the refusal page")
        check("Unauthorized" in text and "J1" not in text, "the page with a wrong token shows only the refusal")
        bad.close()
        time.sleep(0.5)
        check("Enable joints" not in ctrl.text(), "nothing reached the controller")

        # ---- live joints
        tab = browser.open(url)
        tab.wait("window.orvane && window.orvane.statusCount > 0", 30, "the first status on the page")
        n0, t0 = tab.eval("window.orvane.statusCount"), time.monotonic()
        time.sleep(2.0)
        rate = (tab.eval("window.orvane.statusCount") - n0) / (time.monotonic() - t0)
        print(f"browser-test: status updates on the page: {rate:.1f} per second", flush=True)
        check(rate > 5, "the page receives live status")
        tab.click("#enable")
        tab.wait("document.getElementById('bus').textContent === 'Bus OK'", 30, "Bus OK after enabling")
        tab.click("#reference")
        tab.wait("document.getElementById('kin').textContent === 'Kinematic OK'", 30, "Kinematic OK")
        time.sleep(1.0)  # referencing ends after the simulator's delay

        # ---- hold-to-run: press and hold, let go
        shown_before = tab.eval("document.getElementById('meas-1').textContent")
        before, moving = hold(tab, simulator, "#jog-1-plus", 0, 1.0)
        check(moving != before, f"holding J1+ moves joint 1 at the simulator ({before} -> {moving} counts)")
        shown = tab.wait(f"document.getElementById('meas-1').textContent !== {shown_before!r} && "
                         "document.getElementById('meas-1').textContent", 10, "the page showing joint 1 move")
        print(f"browser-test: ok   the page shows joint 1 moving ({shown_before} -> {shown})", flush=True)
        value, released = simulator.target(0), time.monotonic()
        tab.mouse("mouseReleased", "#jog-1-plus")
        stop = simulator.stop_time(0, released, value)
        print(f"browser-test: joint 1 stopped {stop * 1000:.0f} ms after the button was let go", flush=True)
        check(stop < 1.0, "letting go stops the joint, and it stays stopped")

        # ---- a page that hangs mid-jog: orvane-web's time-out stops the joint
        hold(tab, simulator, "#jog-2-minus", 1, 0.5)
        # The page's script stops for 3 s (as a hung page would), the button held.
        tab.eval("setTimeout(() => { const end = Date.now() + 3000; while (Date.now() < end); }, 0)")
        value, hung = simulator.target(1), time.monotonic()
        stop = simulator.stop_time(1, hung, value, settle=0.5)
        print(f"browser-test: joint 2 stopped {stop * 1000:.0f} ms after its page hung", flush=True)
        check(stop < 2.5, "a page that goes quiet mid-jog stops the joint before it wakes up")
        moved = simulator.target(1)
        time.sleep(max(0.0, hung + 3.5 - time.monotonic()))  # the page runs again, the button still held
        check(simulator.target(1) == moved, "late keep-alives of the woken page do not restart the jog")
        tab.mouse("mouseReleased", "#jog-2-minus")

        # ---- closing the tab mid-jog
        hold(tab, simulator, "#jog-1-minus", 0, 0.7)
        value, closed = simulator.target(0), time.monotonic()
        tab.close()
        stop = simulator.stop_time(0, closed, value)
        print(f"browser-test: joint 1 stopped {stop * 1000:.0f} ms after its tab was closed", flush=True)
        check(stop < 1.0, "closing the tab mid-jog stops the joint")

        # ---- upload by drag and drop, load, start
        tab = browser.open(url)
        tab.wait("window.orvane && window.orvane.statusCount > 0", 30, "the page again")
        tab.eval("(() => { const t = new DataTransfer();"
                 f" t.items.add(new File([{PROGRAM!r}], 'BrowserTest.xml', {{type: 'text/xml'}}));"
                 " const d = document.getElementById('drop');"
                 " d.dispatchEvent(new DragEvent('drop', {dataTransfer: t, bubbles: true, cancelable: true}));"
                 " })()")
        tab.wait("[...document.querySelectorAll('#messages li')].some(l => l.textContent.includes("
                 "'Programs/BrowserTest.xml uploaded'))", 30, "the upload message")
        tab.wait("[...document.getElementById('programs').options].some(o => o.value === 'BrowserTest.xml')",
                 10, "the uploaded program in the list")
        check(open(os.path.join(base, "Data", "Programs", "BrowserTest.xml")).read() == PROGRAM,
              "the dropped file arrived unchanged in Data/Programs")
        tab.eval("document.getElementById('programs').value = 'BrowserTest.xml'")
        tab.click("#load")
        tab.wait("document.getElementById('program-name').textContent === 'BrowserTest.xml'", 30,
                 "the loaded program")
        tab.click("#start")
        tab.wait("[...document.querySelectorAll('#messages li')].some(l => l.textContent.includes('Program done'))",
                 90, "Program done")
        print("browser-test: ok   upload, load and start end in \"Program done\" on the page", flush=True)
        if args.screenshot:
            tab.screenshot(args.screenshot)
            print(f"browser-test: screenshot {args.screenshot}", flush=True)
        check("Sanitizer" not in webp.text() and "Sanitizer" not in ctrl.text(), "no sanitizer reports")
        print(f"browser-test: passed in {time.monotonic() - started:.1f} s", flush=True)
        return 0
    except Exception:
        for p in processes:
            print(f"---- {p.name} (last lines of {p.log}):\n{p.text()[-3000:]}", file=sys.stderr)
        raise
    finally:
        if browser:
            browser.close()
        for p in reversed(processes):
            p.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
