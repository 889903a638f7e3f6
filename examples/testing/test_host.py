"""A host's test against the simulator, through its admin interface: queue
a fault, run a command through the library, read the journal.

    python3 test_host.py    # voicectl on PATH, the voicecontrol module importable
"""
import unittest

import voicecontrol
from voicecontrol.testing import Simulator


class HostTest(unittest.TestCase):
    def test_a_reset_answer_is_a_timeout_and_the_next_one_succeeds(self):
        with Simulator("voicectl") as server:  # voicectl serve --admin 127.0.0.1:0
            server.queue_fault(kind="QALL", reset_after_headers=True)  # the next QALL only
            with voicecontrol.Controller("127.0.0.1", server.port) as controller:
                with self.assertRaises(voicecontrol.VoiceControlError) as failed:
                    controller.qall()
                self.assertEqual(failed.exception.text, "timeout.")
                self.assertEqual(controller.qall(), [])  # correct again: no sessions
            first, second = server.journal(kind="QALL")
            self.assertEqual(first["fault"], "reset-after-headers")
            self.assertEqual((second["fault"], second["status"]), ("none", 200))


if __name__ == "__main__":
    unittest.main()
