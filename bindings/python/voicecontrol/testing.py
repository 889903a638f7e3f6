"""voicecontrol.testing: the simulated voice server as a test fixture for a
host written in Python (standard library only).

    from voicecontrol.testing import Simulator

    with Simulator() as server:                    # voicectl serve on free ports
        server.queue_fault(kind="QALL", close_early=True)
        with voicecontrol.Controller("127.0.0.1", server.port) as controller:
            ...                                    # the next QALL gets "timeout."
        [entry] = server.journal(kind="QALL")      # method, values, fault, status, latency_ms, ...

It starts `voicectl serve --listen 127.0.0.1:0 --admin 127.0.0.1:0` and talks
to its admin interface (HTTP and JSON; docs/simulator-admin.md holds every
field). Fault fields are keyword arguments with the admin interface's names:
delay_ms, close_early, no_answer, status, http10, flow_id, field_num,
garbage, oversize, partial, reset_before_headers, reset_after_headers,
end_mid_body, dribble_bytes, dribble_ms, body_delay_ms, first_attempts,
probability, seed.
"""

import json
import re
import subprocess
import urllib.error
import urllib.request

__all__ = ["Simulator", "AdminError"]


class AdminError(Exception):
    """The admin interface refused a request: `status` and its `reason`."""

    def __init__(self, status, reason):
        super().__init__("%d: %s" % (status, reason))
        self.status = status
        self.reason = reason


class Simulator:
    """`voicectl serve` with its admin interface, for the length of a `with`.

    `port` is the simulated server's, `admin_port` the admin interface's;
    `voicectl` names the program (found on PATH by default), `options` are
    further `serve` options (e.g. "--encoding", "gb2312").
    """

    def __init__(self, voicectl="voicectl", *options, timeout=30):
        self._timeout = timeout
        self._process = subprocess.Popen(
            [voicectl, "serve", "--listen", "127.0.0.1:0", "--admin", "127.0.0.1:0", *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            self.port = self._read_port(r"listening on [\d.]+:(\d+)")
            self.admin_port = self._read_port(r"admin on [\d.]+:(\d+)")
        except Exception:
            self.stop()
            raise

    def _read_port(self, pattern):
        line = self._process.stdout.readline()
        match = re.match(pattern, line)
        if not match:
            raise RuntimeError("voicectl serve said: %r" % line)
        return int(match.group(1))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        """Stops the server (SIGTERM) and waits for it. Idempotent."""
        if self._process.poll() is None:
            self._process.terminate()
        self._process.wait(timeout=self._timeout)
        self._process.stdout.close()

    @property
    def admin_url(self):
        """The admin page, for a browser."""
        return "http://127.0.0.1:%d/" % self.admin_port

    def call(self, method, path, body=None):
        """One admin request; returns the decoded JSON answer or raises AdminError."""
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.admin_port, path),
                                         data=data, method=method)
        try:
            with urllib.request.urlopen(request, timeout=self._timeout) as answer:
                return json.loads(answer.read())
        except urllib.error.HTTPError as error:
            reason = json.loads(error.read() or b"{}").get("error", error.reason)
            raise AdminError(error.code, reason) from None

    def queue_fault(self, kind=None, count=1, request=None, body=None, **fault):
        """Shapes the next `count` answers (of command `kind`, e.g. "QALL", or
        of any kind), or the answer to request number `request`, with the
        fault fields given; `body` scripts the answer's body."""
        order = {"fault": fault}
        if body is not None:
            order["body"] = body
        if request is not None:
            order["request"] = request
        else:
            order["count"] = count
            if kind is not None:
                order["kind"] = kind
        return self.call("POST", "/api/queue", order)

    def set_standing_fault(self, **fault):
        """Shapes every answer nothing else is planned for; no fields: correct answers."""
        return self.call("PUT", "/api/standing", {"fault": fault})

    def set_scenario(self, kind, steps):
        """Answers to `kind` from a sequence of steps, each a dict with "fault",
        "body" and "times" (0: every answer from there on); [] removes it."""
        return self.call("PUT", "/api/scenarios/" + kind, {"steps": steps})

    def journal(self, kind=None, since=0):
        """The requests received (numbered above `since`, of `kind`), oldest first."""
        query = "?since=%d" % since + ("&kind=" + kind if kind else "")
        return self.call("GET", "/api/journal" + query)["requests"]

    def state(self):
        """Sessions, planned answers, the standing fault and the request count."""
        return self.call("GET", "/api/state")

    def clear_queue(self):
        return self.call("DELETE", "/api/queue")

    def reset(self):
        """Back to a fresh server: no plans, requests or sessions."""
        return self.call("POST", "/api/reset")
