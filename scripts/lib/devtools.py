"""A small client of Chromium's DevTools protocol: starts headless Chromium,
opens tabs, evaluates script, presses and releases the mouse on elements,
takes screenshots. Only Debian's python3-websocket is needed."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

import websocket


class DevToolsError(Exception):
    pass


class Browser:
    def __init__(self, width=1440, height=900):
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        if exe is None:
            raise DevToolsError("chromium is not installed (scripts/install-deps.sh installs it)")
        self.profile = tempfile.mkdtemp(prefix="orvane-chromium-")
        self.process = subprocess.Popen(
            [exe, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--disable-background-networking", "--hide-scrollbars",
             "--disable-dev-shm-usage", "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", f"--user-data-dir={self.profile}",
             f"--window-size={width},{height}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 60
        while not (os.path.exists(port_file) and open(port_file).read().count("\n") >= 1):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise DevToolsError("chromium did not start its DevTools endpoint")
            time.sleep(0.1)
        port, path = open(port_file).read().split("\n")[:2]
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}{path}", timeout=60,
                                              suppress_origin=True)
        self.next_id = 0
        self.width, self.height = width, height

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.ws.send(json.dumps(message))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise DevToolsError(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def open(self, url):
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        tab = Tab(self, target, session)
        self.call("Emulation.setDeviceMetricsOverride", session, width=self.width,
                  height=self.height, deviceScaleFactor=1, mobile=False)
        # In front, so that its timers run at full rate.
        self.call("Page.bringToFront", session)
        self.call("Page.navigate", session, url=url)
        return tab

    def close(self):
        try:
            if getattr(self, "ws", None):
                self.ws.close()
        finally:
            if self.process.poll() is None:
                os.killpg(self.process.pid, 15)
                try:
                    self.process.wait(10)
                except subprocess.TimeoutExpired:
                    os.killpg(self.process.pid, 9)
                    self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)


class Tab:
    def __init__(self, browser, target, session):
        self.browser, self.target, self.session = browser, target, session

    def call(self, method, **params):
        return self.browser.call(method, self.session, **params)

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise DevToolsError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def wait(self, expression, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            try:
                value = self.eval(expression)
            except DevToolsError:
                value = None
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out after {timeout} s waiting for {what}")
            time.sleep(0.05)

    def _centre(self, selector):
        box = self.eval(f"(() => {{ const e = document.querySelector({json.dumps(selector)});"
                        " if (!e) return null; e.scrollIntoView({block: 'center'});"
                        " const r = e.getBoundingClientRect();"
                        " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        if not box:
            raise AssertionError(f"no element {selector} on the page")
        return box

    def mouse(self, kind, selector):
        x, y = self._centre(selector)
        if kind == "mousePressed":
            self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
        self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", buttons=1 if kind == "mousePressed" else 0, clickCount=1)

    def click(self, selector):
        self.mouse("mousePressed", selector)
        self.mouse("mouseReleased", selector)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        self.browser.call("Target.closeTarget", targetId=self.target)
