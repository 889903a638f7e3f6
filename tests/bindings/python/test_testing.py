"""voicecontrol.testing, the Python fixture over voicectl serve --admin,
driving a real Controller.

    python3 test_testing.py LIBRARY VOICECTL [unittest options]
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 "..", "..", "..", "bindings", "python")))
import voicecontrol  # noqa: E402
from voicecontrol.testing import AdminError, Simulator  # noqa: E402

LIBRARY = VOICECTL = None


class FixtureTest(unittest.TestCase):
    def setUp(self):
        self.server = Simulator(VOICECTL)
        self.addCleanup(self.server.stop)
        self.controller = voicecontrol.Controller("127.0.0.1", self.server.port, LIBRARY,
                                                  timeout=2)
        self.addCleanup(self.controller.close)

    def outcome(self, command):
        try:
            return command(self.controller)
        except voicecontrol.VoiceControlError as error:
            return error.text

    def test_each_way_of_planning_shapes_the_answers_it_is_for(self):
        qall = lambda c: c.qall()  # noqa: E731
        kick = lambda c: c.kick("nobody", "bob")  # noqa: E731
        kicked = voicecontrol.CommandResult(1002, 2, "no such session")
        cases = [
            ("one kind", lambda s: s.queue_fault(kind="QALL", garbage=True),
             [kick, qall, qall], [kicked, "bad message.", []]),
            ("request number", lambda s: s.queue_fault(request=2, reset_before_headers=True),
             [qall, qall, qall], [[], "timeout.", []]),
            ("scenario", lambda s: s.set_scenario("QALL", [
                {"fault": {"status": 299}, "times": 2}, {"fault": {"garbage": True}, "times": 0}]),
             [qall, qall, qall, qall], ["decode.", "decode.", "bad message.", "bad message."]),
            ("fail the first", lambda s: s.set_standing_fault(first_attempts=1, end_mid_body=True),
             [qall, qall], ["timeout.", []]),
        ]
        for name, plan, commands, expected in cases:
            with self.subTest(name):
                self.server.reset()
                plan(self.server)
                self.assertEqual([self.outcome(c) for c in commands], expected)

    def test_journal_tells_what_each_request_got(self):
        self.server.queue_fault(kind="KICK", status=500)
        self.controller.create("s1", "alice", "sync", "alice,bob")
        self.controller.kick("s1", "bob")
        [kick] = self.server.journal(kind="KICK")
        self.assertEqual((kick["number"], kick["values"], kick["fault"], kick["status"]),
                         (2, ["s1", "bob"], "status=500", 500))
        self.assertEqual([r["method"] for r in self.server.journal(since=1)], ["KICK"])
        self.assertEqual([s["id"] for s in self.server.state()["sessions"]], ["s1"])

    def test_a_refusal_raises_with_the_reason(self):
        with self.assertRaises(AdminError) as refused:
            self.server.queue_fault(kind="QALL", garbag=True)
        self.assertEqual(refused.exception.status, 400)
        self.assertIn("unknown fault field", refused.exception.reason)


if __name__ == "__main__":
    LIBRARY, VOICECTL = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
