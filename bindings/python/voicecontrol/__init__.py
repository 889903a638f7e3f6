"""voicecontrol for Python: drive a voice-conference server through the
voicecontrol library's C interface (pure Python, standard library only,
via ctypes).

    import voicecontrol

    with voicecontrol.Controller("127.0.0.1", 8080) as controller:
        print(controller.create("s1", "alice", "weekly sync", "alice,bob"))
        # CommandResult(flow_id=1001, code=0, text='created')
        for entry in controller.qall():       # a list of 8-tuples of str
            print(entry)
        try:
            controller.kick("s1", "bob", timeout=10)
        except voicecontrol.VoiceControlError as error:
            print("failed:", error.text, error.detail)
            # failed: connect error. connect: Connection refused

The asyncio form:

    async def main():
        async with voicecontrol.AsyncController("localhost", 8080) as controller:
            results = await asyncio.gather(*(controller.qsingle(s) for s in ("s1", "s2")))

Every command sends one request and returns its outcome:

    create, kick, change, dscall  CommandResult(flow_id, code, text): the
                                  server's result code and text
    qall                          a list of 8-tuples of str, one per entry
                                  ([] when there are none); a single entry
                                  keeps the server's trailing separator
                                  ("," ending each list item)
    qsingle                       an 18-tuple of str

A failure raises VoiceControlError: `text` is the library's error text,
"socket error.", "connect error.", "send error.", "param error." (a text
over 255 UTF-8 bytes), "timeout." (no answer within the controller's
`timeout`, 5 seconds unless chosen otherwise), "init http
parse.", "decode." or "bad message."; `detail` says why, e.g. "HTTP status
501" or "connect: Connection refused". A command the host cancelled raises
Cancelled, the VoiceControlError with the text "cancelled.".

A command call never waits for the network itself: it queues the request,
and the library's threads connect, send and deliver the outcome. The forms
differ in how the caller gets it.

Blocking form (Controller): the call waits for the outcome. The library
ends every request within the controller's deadlines (Controller's
`connect_timeout` and `timeout`, 5 seconds each by default), so the call's
default `timeout=None` never waits much longer than that; with a `timeout` in
seconds the call raises TimeoutError when it runs out first, and cancels
the command. Ctrl-C while it waits raises KeyboardInterrupt, and cancels
the command too.

Callback form (Controller, `callback=`): the call returns None at once and
`callback(result, error)` is called later exactly once, with the result and
None, or None and a VoiceControlError. It runs on a thread of the library:
keep it short and thread-safe.

Cancelling (both forms, `cancel=`): every command takes a CancelToken;
token.cancel(), from any thread, stops the commands issued with it at once
(their connections shut down), and each ends in Cancelled:

    token = voicecontrol.CancelToken()
    controller.qall(callback=record, cancel=token)
    token.cancel()  # record(None, Cancelled("cancelled.", ...)) follows

asyncio form (AsyncController): the six commands are coroutines; the
outcome reaches the awaiting loop through loop.call_soon_threadsafe, and
the loop's thread never waits for a connect. Cancelling the awaiting task
(or asyncio.wait_for running out) cancels the command: the task ends in
asyncio.CancelledError (wait_for in TimeoutError), its connection closed.

Threads: any number of threads may issue commands on one controller at
once; every request carries a tag of its own, so outcomes never mix. Texts
are str both ways; they travel as UTF-8.

Logs: the library keeps the last request and the last answer in
SendVoiceMsg.log and RecvVoiceMsg.log, by default in the parent of the
working directory; set_log_directory() puts them elsewhere, disable_logs()
stops them (both for the whole process). A controller made with
`log_to_logging=True` sends its records to the logging module instead (the
"voicecontrol" logger, DEBUG; `keep_log_files=True` for both), and one made
with `on_request_events=f` calls f(RequestEvents) with each command's
timeline once it has ended:

    logging.basicConfig(level=logging.DEBUG)
    controller = voicecontrol.Controller("127.0.0.1", 8080, log_to_logging=True,
                                         on_request_events=print)

At exit: controllers still open are closed (their requests delivered)
when the interpreter exits; after that no controller can be made.

The library is found through the `library` argument (a path), or else
through the usual loader paths: ctypes.util.find_library("voicecontrol"),
then "libvoicecontrol.so.1" or "voicecontrol.dll".
"""

from ._asyncio import AsyncController
from ._controller import (CancelToken, Controller, disable_logs, set_code_page,
                          set_log_directory, version)
from ._native import (Cancelled, CommandResult, QAllEntry, QSingleResult, RequestEvents,
                      VoiceControlError, load_library)

__version__ = "1.1.0"

__all__ = [
    "AsyncController",
    "CancelToken",
    "Cancelled",
    "CommandResult",
    "Controller",
    "QAllEntry",
    "QSingleResult",
    "RequestEvents",
    "VoiceControlError",
    "disable_logs",
    "load_library",
    "set_code_page",
    "set_log_directory",
    "version",
]

for _public in (AsyncController, CancelToken, Controller, disable_logs, set_code_page,
                set_log_directory, version, load_library):
    _public.__module__ = __name__
del _public
