"""The admin page in a real browser: headless Chromium, driven through
chromedriver's WebDriver protocol (plain HTTP and JSON, standard library
only), watches voicectl serve while voicectl sends commands, and queues a
fault from the page. Keeps a screenshot.

    python3 admin_page_test.py VOICECTL SCREENSHOT

Exits 77 (skipped) when chromium or chromedriver is missing.
"""

import base64
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

SKIPPED = 77
WAIT_SECONDS = 60  # for the page to catch up; a bound, never a measurement


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def call(url, method="GET", body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(url, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=60) as response:
        return json.loads(response.read() or b"{}")


def wait_until(what, check):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    sys.exit("admin_page_test: the page never showed " + what)


class Browser:
    """One WebDriver session of chromedriver with headless Chromium."""

    def __init__(self, chromium, chromedriver):
        port = free_port()
        self.driver = subprocess.Popen([chromedriver, "--port=%d" % port],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = "http://127.0.0.1:%d" % port

        def ready():
            try:
                return call(self.base + "/status")["value"]["ready"]
            except OSError:
                return False
        wait_until("chromedriver ready", ready)
        options = {"binary": chromium,
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                            "--disable-dev-shm-usage", "--window-size=1200,900"]}
        answer = call(self.base + "/session", "POST", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options}}})
        self.session = self.base + "/session/" + answer["value"]["sessionId"]

    def go(self, url):
        call(self.session + "/url", "POST", {"url": url})

    def texts(self, css):
        """The texts of the elements `css` selects, read in one step: the page
        redraws lists as it polls, so element references would go stale."""
        script = ("return Array.from(document.querySelectorAll(arguments[0]))"
                  ".map(e => e.innerText);")
        return call(self.session + "/execute/sync", "POST", {"script": script, "args": [css]})["value"]

    def click(self, css):
        found = call(self.session + "/element", "POST", {"using": "css selector", "value": css})
        call(self.session + "/element/%s/click" % next(iter(found["value"].values())), "POST", {})

    def screenshot(self, path):
        png = base64.b64decode(call(self.session + "/screenshot")["value"])
        with open(path, "wb") as out:
            out.write(png)

    def close(self):
        try:
            call(self.session, "DELETE")
        finally:
            self.driver.terminate()
            self.driver.wait(timeout=30)


def main():
    voicectl, screenshot = sys.argv[1], sys.argv[2]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    chromedriver = shutil.which("chromedriver")
    if not chromium or not chromedriver:
        print("admin_page_test: skipped: needs chromium and chromedriver "
              "(Debian packages chromium, chromium-driver)")
        return SKIPPED
    server = subprocess.Popen([voicectl, "serve", "--listen", "127.0.0.1:0",
                               "--admin", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    browser = None
    try:
        port = re.match(r"listening on [\d.]+:(\d+)", server.stdout.readline()).group(1)
        admin = re.match(r"admin on ([\d.]+:\d+)", server.stdout.readline()).group(1)
        command = [voicectl, "--server", "127.0.0.1:" + port,
                   "--log-dir", os.path.dirname(os.path.abspath(screenshot))]
        browser = Browser(chromium, chromedriver)
        browser.go("http://%s/" % admin)
        wait_until("that it reached the server",
                   lambda: any("requests" in t for t in browser.texts("#status")))

        # A command sent while the page is open shows up as it happens.
        subprocess.run(command + ["create", "s1", "alice", "weekly sync", "alice,bob"],
                       check=True, stdout=subprocess.DEVNULL)
        row = wait_until("the CREATE exchange",
                         lambda: browser.texts('#exchanges tr[data-method="CREATE"]'))
        assert "1001" in row[0] and "200" in row[0] and "none" in row[0], row
        wait_until("the session", lambda: browser.texts('#sessions tr[data-id="s1"]'))

        # A fault queued from the page shapes the next QALL.
        browser.click('#queue-kind option:nth-child(5)')  # QALL
        browser.click('#queue-fault option[value=\'{"garbage":true}\']')
        browser.click("#queue-button")
        wait_until("the queued fault",
                   lambda: any("next QALL: garbage" in t for t in browser.texts("#planned li")))
        qall = subprocess.run(command + ["qall"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)
        assert "bad message." in qall.stdout, qall.stdout
        row = wait_until("the faulted QALL",
                         lambda: browser.texts('#exchanges tr[data-method="QALL"]'))
        assert "garbage" in row[0], row
        browser.screenshot(screenshot)
        print("admin_page_test: passed; screenshot in " + screenshot)
        return 0
    finally:
        if browser:
            browser.close()
        server.terminate()
        server.wait(timeout=30)
        server.stdout.close()


if __name__ == "__main__":
    sys.exit(main())
