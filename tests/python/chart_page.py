"""A chart page in headless Chromium, driven over the DevTools protocol on a pipe as a person would drive it:
real mouse clicks and wheel turns, a screenshot, and the page's own report read back.

As a script it takes the README's pictures, once the chart has drawn:
    /usr/bin/python3 tests/python/chart_page.py CHART.html[#level=week&range=100-400] OUT.png
"""
import base64
import json
import os
import shutil
import subprocess
import time

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class Page:
    """`with Page(url) as page:` opens url in a fresh browser of the given viewport size."""

    def __init__(self, url, width=1400, height=800):
        assert CHROMIUM, "chromium is needed for the chart tests"
        self._to_browser_r, self._to_browser_w = os.pipe()
        self._from_browser_r, self._from_browser_w = os.pipe()
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
             "--disable-background-networking", "--disable-component-update", "--remote-debugging-pipe",
             f"--window-size={width},{height}", "about:blank"],
            pass_fds=(3, 4), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=self._fds)
        os.close(self._to_browser_r)
        os.close(self._from_browser_w)
        self._next = 0
        self._buffer = b""
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]
        self.call("Page.enable", session=True)
        self.call("Runtime.enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride", session=True, width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        self.started = time.monotonic()
        self.call("Page.navigate", session=True, url=url)

    def _fds(self):
        os.dup2(self._to_browser_r, 3)
        os.dup2(self._from_browser_w, 4)

    def call(self, method, session=False, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self._to_browser_w, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._buffer:
                chunk = os.read(self._from_browser_r, 1 << 20)
                assert chunk, "the browser closed the pipe"
                self._buffer += chunk
            line, self._buffer = self._buffer.split(b"\0", 1)
            reply = json.loads(line)
            if reply.get("id") == self._next:
                assert "error" not in reply, reply["error"]
                return reply["result"]

    def eval(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression, returnByValue=True,
                           awaitPromise=True)
        assert "exceptionDetails" not in result, result["exceptionDetails"]
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            value = self.eval(f"(() => {{ try {{ return {expression}; }} catch (e) {{ return false; }} }})()")
            if value:
                return value
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {expression}")

    def drawn(self, timeout=120):
        """The report once the chart has drawn its first frame with bars and settled."""
        self.wait_for("JSON.parse(document.getElementById('report').textContent).firstDrawMs !== undefined", timeout)
        return self.settled()

    def report(self):
        return json.loads(self.eval("document.getElementById('report').textContent") or "{}")

    def settled(self):
        """The report once two animation frames have passed with nothing left to redraw."""
        self.eval("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => setTimeout(r, 50))))")
        self.eval("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => setTimeout(r, 50))))")
        return self.report()

    def mouse(self, kind, x, y, **extra):
        self.call("Input.dispatchMouseEvent", session=True, type=kind, x=x, y=y, **extra)

    def click(self, x, y):
        self.mouse("mouseMoved", x, y)
        self.mouse("mousePressed", x, y, button="left", clickCount=1)
        self.mouse("mouseReleased", x, y, button="left", clickCount=1)

    def wheel(self, x, y, delta_y):
        self.mouse("mouseWheel", x, y, deltaX=0, deltaY=delta_y)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", session=True, format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except (AssertionError, OSError):
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._to_browser_w)
        os.close(self._from_browser_r)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def minute_bars(path, n):
    """One-minute bars over two sessions a weekday, a random walk in price with two decimals."""
    import numpy as np
    import pandas as pd

    rng = np.random.default_rng(11)
    days = pd.bdate_range("2000-01-03", periods=n // 240 + 1).values.astype("datetime64[m]")
    minutes = np.r_[np.arange(9 * 60 + 31, 11 * 60 + 31), np.arange(13 * 60 + 1, 15 * 60 + 1)].astype("timedelta64[m]")
    time = (days[:, None] + minutes[None, :]).ravel()[:n]
    close = 100 * np.exp(np.cumsum(rng.normal(0, 0.0015, n)))
    open_ = np.r_[close[0], close[:-1]]
    high = np.maximum(open_, close) + np.abs(rng.normal(0, 0.03, n))
    low = np.minimum(open_, close) - np.abs(rng.normal(0, 0.03, n))
    pd.DataFrame({"datetime": pd.to_datetime(time).strftime("%Y-%m-%d %H:%M"), "open": open_.round(2),
                  "high": high.round(2), "low": low.round(2), "close": close.round(2),
                  "volume": rng.integers(100, 50000, n)}).to_csv(path, index=False)
    return path


if __name__ == "__main__":
    import sys
    from pathlib import Path

    page_path, _, fragment = sys.argv[1].partition("#")
    with Page(Path(page_path).resolve().as_uri() + (f"#{fragment}" if fragment else "")) as shown:
        assert shown.drawn()["errors"] == []
        shown.screenshot(sys.argv[2])
