#!/usr/bin/env python3
"""voicectl record against the simulator, then voicectl serve --replay of
the cassette: the client prints the same outcomes, faults included; --strict
refuses what the cassette lacks; replay never reaches the recorded server.

    record_replay_test.py VOICECTL
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 "..", "..", "bindings", "python")))
from voicecontrol.testing import Simulator  # noqa: E402

VOICECTL = None

# (command, fault queued on the recorded server for it, or None)
SESSION = [
    (["create", "s1", "alice", "weekly sync", "alice,bob"], None),
    (["kick", "s1", "bob"], {"reset_after_headers": True}),
    (["kick", "s1", "bob"], None),  # the same request again: its own, later answer
    (["change", "s1", "alice", "7"], {"status": 500}),
    (["dscall", "s1", "alice", "3600"], None),
    (["qall"], {"garbage": True}),
    (["qall"], {"close_early": True}),
    (["qall"], {"end_mid_body": True, "dribble_bytes": 64, "dribble_ms": 1}),
    (["qall"], {"no_answer": True}),  # recorded as held once the client gave up
    (["qsingle", "s1"], None),
    (["--codepage", "GB18030", "qsingle", "s9"], None),
]


class Running:
    """A voicectl that listens (serve or record) until the end of a `with`."""

    def __init__(self, *args):
        self.process = subprocess.Popen([VOICECTL, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.first_line = self.process.stdout.readline()
        self.port = int(re.match(r"listening on [\d.]+:(\d+) ", self.first_line).group(1))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        _, self.log = self.process.communicate(timeout=30)


def client(port, args):
    run = subprocess.run([VOICECTL, "--server", "127.0.0.1:%d" % port, "--timeout", "1000",
                          *args], capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout, run.stderr


class RecordReplayTest(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="record-replay-")
        self.addCleanup(work.cleanup)
        os.environ["XDG_STATE_HOME"] = work.name
        self.cassette = os.path.join(work.name, "server.jsonl")
        self.upstream = Simulator(VOICECTL)
        self.addCleanup(self.upstream.stop)
        with Running("record", "--listen", "127.0.0.1:0", "--upstream",
                     "127.0.0.1:%d" % self.upstream.port, "--cassette", self.cassette) as rec:
            self.recorded = []
            for args, fault in SESSION:
                if fault:
                    self.upstream.queue_fault(**fault)
                self.recorded.append(client(rec.port, args))
        self.upstream_requests = len(self.upstream.journal())

    def test_replay_gives_the_recorded_outcomes(self):
        with open(self.cassette, encoding="utf-8") as f:
            # Written as exchanges end: the held one after those that followed it.
            lines = sorted((json.loads(line) for line in f), key=lambda line: line["exchange"])
        self.assertEqual([(line["exchange"], line["method"]) for line in lines],
                         list(enumerate(["CREATE", "KICK", "KICK", "CHANGE", "DSCALL", "QALL",
                                         "QALL", "QALL", "QALL", "QSINGLE", "QSINGLE"], 1)))
        self.assertEqual([line["end"] for line in lines][1:9:7], ["reset", "held"])
        # Each fault left its mark on what the client printed.
        self.assertEqual([err.split(" (")[0] for _, _, err in self.recorded],
                         ["", "error: timeout.", "", "", "", "error: bad message.",
                          "error: timeout.", "error: timeout.", "error: timeout.", "", ""])
        for strict in ([], ["--strict"]):
            with self.subTest(strict=strict), Running("serve", "--listen", "127.0.0.1:0",
                                                      "--replay", self.cassette, *strict) as rep:
                self.assertIn("replaying 11 exchanges", rep.first_line)
                replayed = [client(rep.port, args) for args, _ in SESSION]
                self.assertEqual(replayed, self.recorded)
        self.assertEqual(len(self.upstream.journal()), self.upstream_requests)

    def test_what_the_cassette_lacks(self):
        # (serve options, command) -> what the client prints
        cases = [
            ([], ["qsingle", "s2"], (0, None, "")),  # the model answers: "no such session"
            (["--strict"], ["qsingle", "s2"],
             (1, "", "error: bad message. (HTTP status 404; ")),
            (["--strict"], ["kick", "s1", "carol"],
             (1, "", "error: bad message. (HTTP status 404; ")),
        ]
        for options, args, (code, out, err) in cases:
            with self.subTest(options=options, args=args), Running(
                    "serve", "--listen", "127.0.0.1:0", "--replay", self.cassette,
                    *options) as rep:
                got = client(rep.port, args)
            self.assertEqual(got[0], code, got)
            if out is not None:
                self.assertEqual(got[1], out)
            self.assertTrue(got[2].startswith(err), got)
            if options:
                self.assertIn("-> recorded none: 404", rep.log)
        self.assertEqual(len(self.upstream.journal()), self.upstream_requests)

    def test_replay_has_no_upstream(self):
        for args in (["--replay", self.cassette, "--upstream", "127.0.0.1:1"], ["--strict"]):
            run = subprocess.run([VOICECTL, "serve", *args], capture_output=True, timeout=30)
            self.assertEqual(run.returncode, 2, run)


if __name__ == "__main__":
    VOICECTL = sys.argv[1]
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
