"""The Python module against the simulated server (voicectl serve).

    python3 test_voicecontrol.py LIBRARY VOICECTL [unittest options]
"""

import os
import re
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "bindings", "python"))
import voicecontrol  # noqa: E402

LIBRARY = None
VOICECTL = None


def free_port():
    """A port nobody listens on: the simulator's, after it has stopped."""
    server = Simulator()
    port = server.port
    server.stop()
    return port


class Simulator:
    def __init__(self, *options):
        self.process = subprocess.Popen([VOICECTL, "serve", "--listen", "127.0.0.1:0", *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        line = self.process.stdout.readline()
        match = re.match(r"listening on 127\.0\.0\.1:(\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError("voicectl serve said: %r" % line)
        self.port = int(match.group(1))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class ControllerTest(unittest.TestCase):
    def setUp(self):
        self.server = Simulator()
        self.addCleanup(self.server.stop)
        self.controller = voicecontrol.Controller("127.0.0.1", self.server.port, LIBRARY)
        self.addCleanup(self.controller.close)

    def test_every_command_returns_its_outcome(self):
        c = self.controller
        Result = voicecontrol.CommandResult
        self.assertEqual(c.qall(), [])
        self.assertEqual(c.create("s1", "alice", "weekly sync", "alice,bob"),
                         Result(1001, 0, "created"))
        self.assertEqual(c.create("s2", "carol", "retro", "carol"), Result(1001, 0, "created"))
        self.assertEqual(c.kick("s1", "bob"), Result(1002, 0, "kicked"))
        self.assertEqual(c.change("s1", "alice", 7), Result(1003, 0, "changed"))
        self.assertEqual(c.dscall("s1", "alice", 3600), Result(1006, 0, "scheduled"))
        self.assertEqual(c.kick("nope", "bob"), Result(1002, 2, "no such session"))
        entries = c.qall(timeout=10)
        self.assertEqual([entry[:4] for entry in entries],
                         [("s1", "alice", "weekly sync", "alice;bob"),
                          ("s2", "carol", "retro", "carol")])
        self.assertTrue(all(len(entry) == 8 for entry in entries))
        single = c.qsingle("s1")
        self.assertEqual(len(single), 18)
        self.assertEqual(single[:7], ("s1", "found", "alice", "weekly sync", "alice,bob",
                                      "bob,", "1"))
        self.assertEqual(single[7:9], ("alice", "7"))

    def test_failures_raise_the_library_error_text(self):
        with voicecontrol.Controller("127.0.0.1", free_port(), LIBRARY) as closed:
            with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                closed.qall()
            self.assertEqual(caught.exception.text, "connect error.")
        with self.assertRaises(voicecontrol.VoiceControlError) as caught:
            self.controller.qsingle("x" * 256)
        self.assertEqual(caught.exception.text, "param error.")
        with self.assertRaises(ValueError):
            self.controller.change("s1", "alice", 65536)
        with self.assertRaises(ValueError):
            self.controller.kick("s1", "a\0b")

    def test_non_ascii_text_round_trips(self):
        topic = "caf\u00e9 \u4f1a\u8bae \U0001F600"
        self.controller.create("\u00fc1", "\u00e5sa", topic, "\u00e5sa,\u00f8")
        single = self.controller.qsingle("\u00fc1")
        self.assertEqual(single[:5], ("\u00fc1", "found", "\u00e5sa", topic, "\u00e5sa,\u00f8"))

    def test_gb2312_answers_read_with_the_chosen_code_page(self):
        server = Simulator("--encoding", "gb2312")
        self.addCleanup(server.stop)
        with self.assertRaises(ValueError):
            voicecontrol.set_code_page("klingon", LIBRARY)
        voicecontrol.set_code_page("GB18030", LIBRARY)
        self.addCleanup(voicecontrol.set_code_page, "UTF-8", LIBRARY)
        with voicecontrol.Controller("127.0.0.1", server.port, LIBRARY) as c:
            c.create("\u4f1a1", "\u5f20\u4e09", "\u6bcf\u5468", "\u5f20\u4e09")
            self.assertEqual(c.qsingle("\u4f1a1")[:5],
                             ("\u4f1a1", "found", "\u5f20\u4e09", "\u6bcf\u5468", "\u5f20\u4e09"))

    def test_callback_form(self):
        done = threading.Event()
        outcomes = []

        def record(result, error):
            outcomes.append((result, error))
            done.set()

        self.assertIsNone(self.controller.qsingle("none", callback=record))
        self.assertTrue(done.wait(10))
        (result, error), = outcomes
        self.assertIsNone(error)
        self.assertEqual(result[:2], ("none", "no such session"))

    def test_threads_at_once_get_their_own_outcomes(self):
        failures = []

        def host(number):
            try:
                session = "t%d" % number
                self.controller.create(session, "owner%d" % number, "topic", "m")
                for _ in range(5):
                    single = self.controller.qsingle(session)
                    if single[:3] != (session, "found", "owner%d" % number):
                        failures.append(single[:3])
            except Exception as error:  # reported below, in the test's thread
                failures.append(error)

        threads = [threading.Thread(target=host, args=(n,)) for n in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])
        self.assertEqual(len(self.controller.qall()), 8)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    LIBRARY, VOICECTL = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
