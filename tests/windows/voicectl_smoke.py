#!/usr/bin/env python3
"""A zip's voicectl.exe under Wine: `serve --admin` played against its own
client, a fault queued through the admin interface from this side of
loopback, and Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event).

  voicectl_smoke.py RUNNER VOICECTL_EXE

RUNNER is a build's wine-run.sh. Exit status 0 when every check holds."""
import json
import re
import signal
import subprocess
import sys
import time
import urllib.request

runner, exe = sys.argv[1], sys.argv[2]
failures = []


def check(what, condition, detail=""):
    print("%s: %s%s" % ("ok" if condition else "FAILED", what, "" if condition else " -- " + detail))
    if not condition:
        failures.append(what)


def lines(text):
    return text.replace("\r\n", "\n")  # the console's line ends


serve = subprocess.Popen([runner, exe, "serve", "--listen", "127.0.0.1:0", "--admin", "127.0.0.1:0"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
first, second = lines(serve.stdout.readline()), lines(serve.stdout.readline())
port = re.match(r"listening on 127\.0\.0\.1:(\d+) \(faults: none; answers in utf-8\)\n$", first)
admin = re.match(r"admin on 127\.0\.0\.1:(\d+)\n$", second)
check("serve says where it listens", port and admin, repr(first + second))
if not (port and admin):
    serve.kill()
    sys.exit(1)
server, api = "127.0.0.1:" + port.group(1), "http://127.0.0.1:%s/api/" % admin.group(1)


def client(*args):
    args = list(args) if "--server" in args else ["--server", server] + list(args)
    done = subprocess.run([runner, exe] + args, capture_output=True,
                          text=True, timeout=60)
    return done.returncode, lines(done.stdout), lines(done.stderr)


def admin_call(route, body=None):
    data = None if body is None else json.dumps(body).encode()
    with urllib.request.urlopen(urllib.request.Request(api + route, data=data), timeout=10) as r:
        return json.load(r)


# (arguments, exit status, what stdout must be, what stderr must hold)
cases = [
    (["create", "s1", "alice", "weekly sync", "alice,bob"], 0,
     'OnCommandResult flowId=1001 code=0 text="created"\n', ""),
    (["create", "s1", "x", "y", "z"], 3, 'OnCommandResult flowId=1001 code=1 text="session exists"\n', ""),
    (["kick", "s1", "bob"], 0, 'OnCommandResult flowId=1002 code=0 text="kicked"\n', ""),
    (["qall"], 0, re.compile(r'OnQAllEntry "s1" "alice" "weekly sync" "alice;bob" "1"'), ""),
    (["--json", "qsingle", "nobody"], 0, re.compile(r'^\{"callback":"OnQSingleResult","values":\["nobody","no such session"'), ""),
    (["--server", "localhost:" + port.group(1), "qsingle", "s1"], 0, re.compile(r'^OnQSingleResult "s1" "found"'), ""),
]
for args, status, out, err in cases:
    code, stdout, stderr = client(*args)
    matched = out.search(stdout) if hasattr(out, "search") else stdout == out
    check("voicectl " + " ".join(args), code == status and matched and err in stderr,
          "status %d, stdout %r, stderr %r" % (code, stdout, stderr))

check("the admin interface counts the requests", admin_call("state")["request_count"] == 6)
check("a fault queues through the admin interface",
      admin_call("queue", {"kind": "QALL", "fault": {"garbage": True}}) == {"queued": 1})
code, stdout, stderr = client("qall")
check("the queued fault reaches the client", code == 1 and "error: bad message." in stderr,
      "status %d, stderr %r" % (code, stderr))
journal = admin_call("journal?kind=QALL")["requests"]
check("the journal names the fault", journal and journal[-1].get("fault") == "garbage", repr(journal[-1:]))
with urllib.request.urlopen(api[:-4], timeout=10) as page:
    check("the admin page is served", b"id=\"exchanges\"" in page.read())

serve.send_signal(signal.SIGINT)
try:
    stderr = lines(serve.communicate(timeout=30)[1])
    check("Ctrl-C stops serve",
          serve.returncode == 0 and "voicectl serve: stopping on signal 2\n" in stderr,
          "status %s, stderr %r" % (serve.returncode, stderr[-300:]))
except subprocess.TimeoutExpired:
    # Wine turns SIGINT into a console Ctrl-C event only when it has made a
    # console for the program, which it does not always do for one whose
    # output goes to pipes: then nothing reached the program to test.
    serve.kill()
    serve.communicate()
    print("skipped: Ctrl-C stops serve -- Wine delivered no Ctrl-C event within 30 s")
sys.exit(1 if failures else 0)
