"""The Python package against the simulated server (voicectl serve), from
the source tree.

    python3 test_voicecontrol.py LIBRARY VOICECTL [unittest options and test names]
"""

import asyncio
import os
import queue
import pydoc
import re
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PACKAGE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                            "..", "..", "bindings", "python"))
sys.path.insert(0, PACKAGE_DIR)
import voicecontrol  # noqa: E402
from voicecontrol import _native  # noqa: E402

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


def stalled_port(test):
    """A port whose connects stall: a full accept queue (backlog 0) drops SYNs."""
    listener = socket.create_server(("127.0.0.1", 0), backlog=0)
    test.addCleanup(listener.close)
    for _ in range(64):
        try:
            test.addCleanup(socket.create_connection(listener.getsockname(), 0.3).close)
        except socket.timeout:
            return listener.getsockname()[1]
    test.skipTest("the accept queue never filled")


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


    def test_single_entry_keeps_the_trailing_separator(self):
        # As the library passes it on (see Controller.qall).
        self.controller.create("s1", "alice", "t", "alice,bob")
        entry, = self.controller.qall()
        self.assertEqual(entry[:4], ("s1,", "alice,", "t,", "alice;bob,"))


    def test_log_records_go_to_logging_and_timelines_to_the_host(self):
        events = []
        with self.assertLogs("voicecontrol", "DEBUG") as logs, voicecontrol.Controller(
                "127.0.0.1", self.server.port, LIBRARY, log_to_logging=True,
                on_request_events=events.append) as controller:
            controller.qall()
            with self.assertRaises(voicecontrol.VoiceControlError):
                controller.qsingle("x" * 256)  # refused: never sent
        sent, answer = logs.output
        self.assertRegex(sent, r"^DEBUG:voicecontrol:sent request 1 \(tag \d+\):\nQALL /MyURL/ ")
        self.assertRegex(answer, r"^DEBUG:voicecontrol:answer to request 1 \(tag \d+\):\nHTTP/1.1 ")
        done, refused = events
        self.assertEqual(done[:4] + done[13:], (1, done.tag, 1004, 200, None, ""))
        self.assertTrue(0 < done.queued_us and list(done[4:11]) == sorted(done[4:11]), done)
        self.assertEqual(refused[:3] + refused[13:], (2, refused.tag, 1005, "param error.",
                         "argument 1 is 256 bytes in UTF-8, more than 255"))


class ErrorDetailTest(unittest.TestCase):
    """Every failure carries the library's text and, beside it, the reason."""

    # (server flags, error text, detail; a detail ending in ")" may be
    # followed by the XML parser's own words, ": ...")
    CASES = [
        (None, "connect error.", "connect: Connection refused"),
        (["--oversize"], "decode.", "answer longer than 81919 bytes"),
        (["--flowid", "2000"], "bad message.", "FlowID 2000 is not a command"),
        (["--fieldnum", "0"], "param error.", "FieldNum 0 below 9 for FlowID 1004"),
        (["--close-early"], "timeout.", "peer closed before a complete answer"),
        (["--http10"], "decode.", "HTTP/1.0 answer"),
        (["--status", "299"], "decode.", "HTTP status 299"),
        (["--garbage"], "bad message.", "answer is not well-formed XML (line 1, column 1)"),
    ]

    def test_each_error_path_gives_its_detail(self):
        for flags, text, detail in self.CASES:
            with self.subTest(flags=flags):
                if flags is None:
                    port = free_port()
                else:
                    server = Simulator(*flags)
                    self.addCleanup(server.stop)
                    port = server.port
                with voicecontrol.Controller("127.0.0.1", port, LIBRARY) as controller:
                    with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                        controller.qall()
                error = caught.exception
                self.assertEqual(error.text, text)
                if detail.endswith(")") and error.detail.startswith(detail + ": "):
                    detail = error.detail
                self.assertEqual(error.detail, detail)
                self.assertEqual(str(error), "%s (%s)" % (error.text, error.detail))

    def test_a_refused_argument_says_which(self):
        server = Simulator()
        self.addCleanup(server.stop)
        cases = [(("s1", "x" * 256), "argument 2 is 256 bytes in UTF-8, more than 255"),
                 (("a\x01b", "m"), "argument 1 holds U+0001, which XML cannot carry")]
        with voicecontrol.Controller("127.0.0.1", server.port, LIBRARY) as controller:
            for arguments, detail in cases:
                with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                    controller.kick(*arguments)
                self.assertEqual((caught.exception.text, caught.exception.detail),
                                 ("param error.", detail))

    def test_chosen_deadlines(self):
        # A listener that never accepts: the kernel completes the connection,
        # the request goes out, and no answer ever comes.
        silent = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(silent.close)
        port = silent.getsockname()[1]
        for value in (0, 0.0004, 600.001, float("nan")):
            with self.subTest(value=value), self.assertRaises(ValueError):
                voicecontrol.Controller("127.0.0.1", port, LIBRARY, timeout=value)
        with self.assertRaises(ValueError):
            voicecontrol.Controller("127.0.0.1", port, LIBRARY, connect_timeout=-1)
        with voicecontrol.Controller("127.0.0.1", port, LIBRARY, connect_timeout=600,
                                     timeout=0.2) as controller:
            start = time.monotonic()
            with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                controller.qall()
            took = time.monotonic() - start
        self.assertEqual((caught.exception.text, caught.exception.detail),
                         ("timeout.", "no answer within 200 ms"))
        self.assertLess(took, 3)  # far below the default 5 s

    def test_callback_form_and_a_bare_error(self):
        outcomes = []
        done = threading.Event()
        with voicecontrol.Controller("127.0.0.1", free_port(), LIBRARY) as controller:
            controller.qall(callback=lambda result, error: (outcomes.append(error), done.set()))
            self.assertTrue(done.wait(10))
        self.assertEqual(outcomes[0].detail, "connect: Connection refused")
        bare = voicecontrol.VoiceControlError("timeout.")
        self.assertEqual((bare.text, bare.detail, str(bare)), ("timeout.", "", "timeout."))


class HostTest(unittest.TestCase):
    def test_a_host_name_is_resolved_once(self):
        server = Simulator()
        self.addCleanup(server.stop)
        with voicecontrol.Controller("localhost", server.port, LIBRARY) as controller:
            self.assertEqual(controller.address, "127.0.0.1")
            self.assertEqual(controller.port, server.port)
            self.assertEqual(controller.qall(), [])
        with voicecontrol.Controller("127.0.0.1", server.port, LIBRARY) as controller:
            self.assertEqual(controller.address, "127.0.0.1")

    def test_hosts_without_an_ipv4_address_are_refused_clearly(self):
        # Names the resolver refuses without asking a name server.
        for host in ("no such host", "::1"):
            with self.subTest(host=host):
                with self.assertRaises(socket.gaierror) as caught:
                    voicecontrol.Controller(host, 80, LIBRARY)
                self.assertIn("cannot find an IPv4 address for host %r" % host,
                              str(caught.exception))
        with self.assertRaises(ValueError):
            voicecontrol.Controller("", 80, LIBRARY)
        with self.assertRaises(TypeError):
            voicecontrol.Controller(0x7F000001, 80, LIBRARY)
        with self.assertRaises(ValueError):
            voicecontrol.Controller("127.0.0.1", 65536, LIBRARY)


class LogDirectoryTest(unittest.TestCase):
    LOGS = ("SendVoiceMsg.log", "RecvVoiceMsg.log")

    def setUp(self):
        self.server = Simulator()
        self.addCleanup(self.server.stop)
        self.dir = tempfile.TemporaryDirectory(prefix="voicecontrol-logs-")
        self.addCleanup(self.dir.cleanup)
        self.addCleanup(voicecontrol.set_log_directory, None, LIBRARY)

    def command(self):
        with voicecontrol.Controller("127.0.0.1", self.server.port, LIBRARY) as controller:
            controller.qall()

    def logs_in(self, directory):
        return sorted(name for name in os.listdir(directory) if name in self.LOGS)

    def test_logs_go_where_they_are_told_and_stop_when_told(self):
        voicecontrol.set_log_directory(self.dir.name, LIBRARY)
        self.command()
        self.assertEqual(self.logs_in(self.dir.name), sorted(self.LOGS))
        with open(os.path.join(self.dir.name, "SendVoiceMsg.log"), "rb") as log:
            self.assertIn(b"QALL /MyURL/ HTTP/1.1", log.read())

        # A directory that does not exist changes nothing.
        missing = os.path.join(self.dir.name, "missing")
        with self.assertRaises(FileNotFoundError):
            voicecontrol.set_log_directory(missing, LIBRARY)
        for name in self.LOGS:
            os.remove(os.path.join(self.dir.name, name))
        self.command()
        self.assertEqual(self.logs_in(self.dir.name), sorted(self.LOGS))

        for name in self.LOGS:
            os.remove(os.path.join(self.dir.name, name))
        voicecontrol.disable_logs(LIBRARY)
        self.command()
        self.assertEqual(self.logs_in(self.dir.name), [])

        # Back on, as a pathlib path.
        import pathlib
        voicecontrol.set_log_directory(pathlib.Path(self.dir.name), LIBRARY)
        self.command()
        self.assertEqual(self.logs_in(self.dir.name), sorted(self.LOGS))

    def test_none_goes_back_to_the_parent_of_the_working_directory(self):
        voicecontrol.disable_logs(LIBRARY)
        work = os.path.join(self.dir.name, "work")
        os.mkdir(work)
        previous = os.getcwd()
        os.chdir(work)
        self.addCleanup(os.chdir, previous)
        voicecontrol.set_log_directory(None, LIBRARY)
        self.command()
        self.assertEqual(self.logs_in(self.dir.name), sorted(self.LOGS))
        self.assertEqual(self.logs_in(work), [])


class PublicNamesTest(unittest.TestCase):
    def test_every_public_name_is_exported_and_documented(self):
        for name in ("AsyncController", "Controller", "VoiceControlError", "CommandResult",
                     "set_code_page", "set_log_directory", "disable_logs", "version",
                     "load_library", "CancelToken", "Cancelled", "RequestEvents"):
            self.assertIn(name, voicecontrol.__all__)
        for name in voicecontrol.__all__:
            self.assertTrue(hasattr(voicecontrol, name), name)
        page = pydoc.render_doc(voicecontrol, renderer=pydoc.plaintext)
        for text in ("class AsyncController", "set_log_directory(", "trailing separator",
                     "detail"):
            self.assertIn(text, page)
        self.assertRegex(voicecontrol.version(LIBRARY), r"^\d+\.\d+\.\d+$")


class CloseTest(unittest.TestCase):
    """close() beside commands on other threads, from callbacks, and twice."""

    def setUp(self):
        self.server = Simulator("--delay", "20")
        self.addCleanup(self.server.stop)

    def test_close_while_other_threads_issue_commands(self):
        controller = voicecontrol.Controller("127.0.0.1", self.server.port, LIBRARY)
        outcomes, refused, issued = [], [], []
        lock = threading.Lock()

        def record(result, error):
            with lock:
                outcomes.append(result if error is None else error)

        def host():
            while True:
                try:
                    controller.qall(callback=record)
                except ValueError:  # closed
                    refused.append(1)
                    return
                with lock:
                    issued.append(1)

        threads = [threading.Thread(target=host) for _ in range(4)]
        for thread in threads:
            thread.start()
        time.sleep(0.3)
        controller.close()
        # Every command accepted before the close has its outcome by now.
        with lock:
            self.assertEqual(len(outcomes), len(issued))
        for thread in threads:
            thread.join()
        self.assertEqual(len(refused), 4)
        self.assertGreater(len(issued), 0)
        self.assertEqual(_native._requests, {})

    def test_close_from_callbacks_does_not_wait_for_itself(self):
        # On a receive thread, with the command's outcome under way.
        controller = voicecontrol.Controller("127.0.0.1", self.server.port, LIBRARY)
        done = threading.Event()
        controller.qall(callback=lambda result, error: (controller.close(), done.set()))
        self.assertTrue(done.wait(10))
        with self.assertRaises(ValueError):
            controller.qall()
        # On the calling thread, inside the command's own call: the
        # controller goes once that call has returned.
        refused = voicecontrol.Controller("127.0.0.1", free_port(), LIBRARY)
        errors = []

        def close_on_error(result, error):
            errors.append(error)
            refused.close()

        self.assertIsNone(refused.qall(callback=close_on_error))
        while not errors:  # on a library thread: the call only queued it
            time.sleep(0.01)
        self.assertEqual(errors[0].text, "connect error.")
        with self.assertRaises(ValueError):
            refused.qall()
        refused.close()  # again: nothing happens


class AsyncTest(unittest.TestCase):
    def setUp(self):
        self.server = Simulator()
        self.addCleanup(self.server.stop)
        self.unraisable = []
        previous, sys.unraisablehook = sys.unraisablehook, self.unraisable.append
        self.addCleanup(setattr, sys, "unraisablehook", previous)

    def tearDown(self):
        # Every request ended and was forgotten; nothing went wrong unseen.
        self.assertEqual(_native._requests, {})
        self.assertEqual(self.unraisable, [])

    def test_hundred_concurrent_awaits_each_get_their_own_outcome(self):
        async def scenario():
            async with voicecontrol.AsyncController("127.0.0.1", self.server.port,
                                                    LIBRARY) as controller:
                created = await asyncio.gather(
                    *(controller.create("a%d" % n, "owner%d" % n, "t", "m") for n in range(10)))
                self.assertEqual(created, [voicecontrol.CommandResult(1001, 0, "created")] * 10)
                sessions = ["a%d" % (n % 10) for n in range(100)]
                singles = await asyncio.gather(*(controller.qsingle(s) for s in sessions))
                for session, single in zip(sessions, singles):
                    self.assertEqual(single[:3], (session, "found", "owner" + session[1:]))
                results = await asyncio.gather(
                    controller.kick("a1", "m"), controller.change("a2", "m", 3),
                    controller.dscall("a3", "owner3", 60), controller.qall())
                self.assertEqual(results[:3], [(1002, 0, "kicked"), (1003, 0, "changed"),
                                               (1006, 0, "scheduled")])
                self.assertEqual(len(results[3]), 10)

        asyncio.run(scenario())

    def test_errors_raise_in_the_awaiting_task(self):
        async def scenario():
            with voicecontrol.AsyncController("127.0.0.1", free_port(), LIBRARY) as controller:
                with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                    await controller.qall()
                self.assertEqual(caught.exception.text, "connect error.")
            with voicecontrol.AsyncController("127.0.0.1", self.server.port,
                                              LIBRARY) as controller:
                with self.assertRaises(voicecontrol.VoiceControlError) as caught:
                    await controller.qsingle("x" * 256)
                self.assertEqual(caught.exception.text, "param error.")

        asyncio.run(scenario())

    def test_the_loop_never_waits_for_a_connect(self):
        port, gaps = stalled_port(self), [0]

        async def scenario():
            async def heartbeat():  # cancelled when asyncio.run ends
                while True:
                    beat = time.monotonic()
                    await asyncio.sleep(0.02)
                    gaps.append(time.monotonic() - beat)
            asyncio.ensure_future(heartbeat())
            async with voicecontrol.AsyncController("127.0.0.1", port, LIBRARY) as controller:
                kicks = [asyncio.wait_for(controller.kick("s%d" % n, "m"), 1.0) for n in range(4)]
                return await asyncio.gather(*kicks, return_exceptions=True)

        start = time.monotonic()
        outcomes = asyncio.run(scenario())
        self.assertLess(time.monotonic() - start, 4)  # wait_for's 1 s, not the 5 s connect time-out
        self.assertEqual([type(outcome) for outcome in outcomes], [asyncio.TimeoutError] * 4)
        self.assertLess(max(gaps), 0.25)

    @unittest.skipUnless(sys.platform.startswith("linux"), "host-driven, counted in /proc")
    def test_the_loop_carries_the_commands_without_a_thread(self):
        # /proc/self/task sees the library's threads too, threading does not.
        threads = lambda: len(os.listdir("/proc/self/task"))  # noqa: E731

        async def scenario(before):
            async with voicecontrol.AsyncController("127.0.0.1", self.server.port,
                                                    LIBRARY) as controller:
                for name, commands in [
                        ("one at a time", lambda: [controller.qall() for _ in range(100)]),
                        ("at once", lambda: [asyncio.gather(
                            *(controller.qsingle("s%d" % n) for n in range(100)))]),
                        ("given up", lambda: [asyncio.wait_for(controller.qall(), 0.001)
                                              for _ in range(20)])]:
                    with self.subTest(name):
                        for command in commands():
                            await asyncio.gather(command, return_exceptions=True)
                            self.assertEqual(threads(), before)

        before = threads()
        asyncio.run(scenario(before))
        self.assertEqual(threads(), before)

    def test_outcomes_for_a_closed_loop_are_dropped(self):
        slow = Simulator("--delay", "300")
        self.addCleanup(slow.stop)
        controller = voicecontrol.AsyncController("127.0.0.1", slow.port, LIBRARY)
        loop = asyncio.new_event_loop()
        complaints = []
        loop.set_exception_handler(lambda _loop, context: complaints.append(context))
        tasks = [loop.create_task(controller.qall()) for _ in range(5)]
        loop.run_until_complete(asyncio.sleep(0.05))
        self.assertEqual(len(_native._requests), 5)
        loop.close()  # with the five awaiting
        controller.close()  # their outcomes arrive now, for a closed loop
        self.assertTrue(all(not task.done() for task in tasks))
        del tasks


class CancelTest(unittest.TestCase):
    """Every way of giving up on a command closes its connection at once."""

    def test_every_way_of_giving_up_cancels_the_command(self):
        listener = socket.create_server(("127.0.0.1", 0))  # connects, never answers
        self.addCleanup(listener.close)
        controller = voicecontrol.Controller(*listener.getsockname(), LIBRARY)
        async_controller = voicecontrol.AsyncController(*listener.getsockname(), LIBRARY)
        connected = lambda: select.select([listener], [], [], 10)  # noqa: E731

        def blocking():
            token = voicecontrol.CancelToken()
            threading.Thread(target=lambda: connected() and token.cancel()).start()
            controller.qall(cancel=token)

        def callback():
            token, errors = voicecontrol.CancelToken(), queue.Queue()
            controller.qall(callback=lambda result, error: errors.put(error), cancel=token)
            connected()
            self.assertEqual((token.cancel(), token.cancel()), (1, 0))
            raise errors.get(timeout=10)

        async def task_cancelled():
            task = asyncio.ensure_future(async_controller.qall())
            await asyncio.get_running_loop().run_in_executor(None, connected)
            task.cancel()
            await task

        for name, give_up, expected in [
                ("blocking, token", blocking, voicecontrol.Cancelled),
                ("callback, token", callback, voicecontrol.Cancelled),
                ("blocking, timeout=", lambda: controller.qall(timeout=1.0), TimeoutError),
                ("asyncio, task.cancel()", lambda: asyncio.run(task_cancelled()),
                 asyncio.CancelledError),
                ("asyncio, wait_for",
                 lambda: asyncio.run(asyncio.wait_for(async_controller.qall(), 1.0)),
                 asyncio.TimeoutError)]:
            with self.subTest(name):
                with self.assertRaises(expected) as caught:
                    give_up()
                with listener.accept()[0] as connection:
                    connection.settimeout(3)  # far below the 5 s answer time-out
                    while connection.recv(65536):  # the request, then the end
                        pass
                if expected is voicecontrol.Cancelled:
                    self.assertEqual(str(caught.exception), "cancelled. (cancelled by the host)")
        controller.close(), async_controller.close()
        self.assertEqual(_native._requests, {})


EXIT_SCRIPTS = {
    "callback in flight": """
import voicecontrol
controller = voicecontrol.Controller("127.0.0.1", PORT, LIBRARY)
controller.qall(callback=lambda result, error: print("outcome", result, error))
""",
    "asyncio task in flight": """
import asyncio, voicecontrol
controller = voicecontrol.AsyncController("127.0.0.1", PORT, LIBRARY)
async def main():
    asyncio.ensure_future(controller.qall())
    await asyncio.sleep(0.05)
asyncio.run(main())
print("outcome dropped")
""",
    "blocked daemon thread": """
import threading, time, voicecontrol
controller = voicecontrol.Controller("127.0.0.1", PORT, LIBRARY)
threading.Thread(target=controller.qall, daemon=True).start()
time.sleep(0.05)
""",
    "controller made at exit": """
import atexit
def late():
    try:
        voicecontrol.Controller("127.0.0.1", PORT, LIBRARY)
    except RuntimeError as error:
        print(error)
atexit.register(late)  # before the import: runs after the package's own exit handler
import voicecontrol
controller = voicecontrol.Controller("127.0.0.1", PORT, LIBRARY)
controller.qall(callback=lambda result, error: print("outcome", result, error))
""",
}
EXIT_OUTPUTS = {
    "callback in flight": "outcome [] None\n",
    "asyncio task in flight": "outcome dropped\n",
    "blocked daemon thread": "",
    "controller made at exit":
        "outcome [] None\nvoicecontrol: the interpreter is exiting\n",
}


# Ctrl-C while a connect stalls, blocking then callback form: neither is lost.
INTERRUPTED = """import os, signal, sys, threading, voicecontrol
controller = voicecontrol.Controller("127.0.0.1", int(sys.argv[1]), sys.argv[2], connect_timeout=1)
done = threading.Event()
for callback in (None, lambda result, error: (print(result, error), done.set())):
    threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
    try:
        controller.kick("s", "m", callback=callback) or done.wait(30)
    except KeyboardInterrupt:
        print("interrupted")
done.wait(30)
"""


class ExitTest(unittest.TestCase):
    """A script that ends with a command in flight and no close() exits
    cleanly, its outcome delivered or dropped, every time."""

    RUNS = 3

    def test_interpreter_exit_with_commands_in_flight(self):
        server = Simulator("--delay", "300")
        self.addCleanup(server.stop)
        environment = dict(os.environ, PYTHONPATH=PACKAGE_DIR)
        for name, body in EXIT_SCRIPTS.items():
            script = "import sys\nPORT, LIBRARY = int(sys.argv[1]), sys.argv[2]\n"
            script += body
            for run in range(self.RUNS):
                with self.subTest(script=name, run=run):
                    child = subprocess.run(
                        [sys.executable, "-c", script, str(server.port), LIBRARY],
                        env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                        text=True, timeout=60)
                    self.assertEqual((child.returncode, child.stderr), (0, ""))
                    self.assertEqual(child.stdout, EXIT_OUTPUTS[name])

    def test_ctrl_c_while_a_connect_stalls(self):
        child = subprocess.run([sys.executable, "-c", INTERRUPTED, str(stalled_port(self)),
                                LIBRARY], env=dict(os.environ, PYTHONPATH=PACKAGE_DIR),
                               capture_output=True, text=True, timeout=60)
        self.assertEqual((child.stdout, child.stderr, child.returncode), (
            "interrupted\ninterrupted\nNone connect error. (connect: no answer within 1 s)\n",
            "", 0))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    LIBRARY, VOICECTL = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
