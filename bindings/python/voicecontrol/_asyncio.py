"""AsyncController: the six commands as awaitables, driven by the event
loop itself (the library's host-driven mode) where the loop can watch the
library's descriptor, and over Controller's callback form elsewhere."""

from __future__ import annotations

import asyncio
import concurrent.futures
import functools
import select
import signal
import sys
import threading
from typing import Any, Callable, List, Optional

from . import _native
from ._controller import _WAIT_SLICE, CancelToken, Controller, LibraryPath
from ._native import CommandResult, QAllEntry, QSingleResult, RequestEvents, VoiceControlError

# Windows hands out an event HANDLE to wait on, which a selector loop
# cannot watch and the proactor loop has no call for: there the library's
# threads carry the commands and hand each outcome over to the loop.
_LOOP_CAN_WATCH_DESCRIPTOR = sys.platform != "win32"

# How long to wait before driving the commands again after vc_process ran
# out of memory: it leaves them for a later call, and 0 would spin.
_RETRY_AFTER_NO_MEMORY = 0.01


def _settle(future: "asyncio.Future[Any]", result: Any,
            error: Optional[VoiceControlError]) -> None:
    """On the loop's thread: completes the awaitable unless its awaiter has
    gone (cancelled)."""
    if future.done():
        return
    if error is not None:
        future.set_exception(error)
    else:
        future.set_result(result)


def _running_loop() -> Optional[asyncio.AbstractEventLoop]:
    try:
        return asyncio.get_running_loop()
    except RuntimeError:
        return None



class _CtrlCAfterwards:
    """Holds SIGINT back while vc_process runs the callbacks on this thread.

    A KeyboardInterrupt raised inside a ctypes callback cannot leave it: ctypes
    prints it as ignored, and the outcome being delivered would be lost. With
    the signal blocked, a Ctrl-C pressed meanwhile arrives once vc_process has
    returned, and is raised there, in the loop's own code. Only the main
    thread receives SIGINT, so only there is anything held back."""

    def __enter__(self) -> None:
        self._held = None
        on_main_thread = threading.current_thread() is threading.main_thread()
        if hasattr(signal, "pthread_sigmask") and on_main_thread:
            self._held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})

    def __exit__(self, *exc: object) -> None:
        if self._held is not None:
            signal.pthread_sigmask(signal.SIG_SETMASK, self._held)

class AsyncController:
    """The asyncio form of Controller: `await controller.qall()`.

    `host`, `port`, `library`, `connect_timeout`, `timeout`,
    `log_to_logging`, `keep_log_files` and `on_request_events` as for
    Controller. Each command is a coroutine that sends one request and
    returns its outcome or raises VoiceControlError. Any number of commands
    may be awaited at once (asyncio.gather).

    On Linux the event loop itself carries the commands: the controller is
    host-driven, the loop watches its one descriptor (loop.add_reader) and
    its next deadline (loop.call_later), and the library starts no thread.
    The connect, the send and every outcome happen in the loop's callbacks,
    which never wait for the network; `on_request_events` and the log
    records are then called on the loop's thread. The controller belongs to
    one running loop, the one it was made in, or else the first one that
    awaits a command; another loop gets RuntimeError, unless the first has
    been closed (each asyncio.run closes its own), which hands the
    controller over. On Windows, whose descriptor is an event HANDLE that a
    selector loop cannot watch, the library's threads carry the commands
    and hand each outcome to the awaiting loop (loop.call_soon_threadsafe),
    from one loop or several.

    Cancelling the awaiting task (task.cancel(), asyncio.wait_for running
    out, asyncio.run ending, Ctrl-C under asyncio.run) cancels the command:
    its connection is shut down at once and the task ends in
    asyncio.CancelledError (wait_for's in TimeoutError). An outcome that
    arrives after its loop has closed is dropped.

    close() waits for the requests in flight (blocking, at most their
    deadline); `await aclose()` or `async with` does the same without
    blocking the loop. Closing takes the controller out of its loop.
    """

    def __init__(self, host: str, port: int, library: LibraryPath = None,
                 connect_timeout: Optional[float] = None,
                 timeout: Optional[float] = None, *, log_to_logging: bool = False,
                 keep_log_files: bool = False,
                 on_request_events: Optional[Callable[[RequestEvents], None]] = None) -> None:
        self._controller = Controller(host, port, library, connect_timeout, timeout,
                                      log_to_logging=log_to_logging,
                                      keep_log_files=keep_log_files,
                                      on_request_events=on_request_events)
        self._library = self._controller._library
        self._loop: Optional[asyncio.AbstractEventLoop] = None  # host-driven: its loop
        self._timer: Optional[asyncio.TimerHandle] = None  # the next deadline
        self._in_flight = 0  # issued, outcome not yet delivered
        self._drained: Optional["asyncio.Future[None]"] = None  # what aclose() awaits
        self._processing = False  # inside vc_process, where closing has to wait
        self._closing = False
        self._closed = False
        # An older library lacks the mode and keeps to its threads.
        self._host_driven = (_LOOP_CAN_WATCH_DESCRIPTOR
                             and self._library.vc_use_host_loop is not None)
        if not self._host_driven:
            return
        # Before any command, so that none of them ever starts a thread.
        self._controller._configure(self._library.vc_use_host_loop)
        self._descriptor = int(self._library.vc_loop_descriptor(self._controller._handle))
        loop = _running_loop()
        if loop is not None:
            self._bind(loop)

    @property
    def address(self) -> str:
        """The server's dotted IPv4 address (the host, resolved)."""
        return self._controller.address

    @property
    def port(self) -> int:
        """The server's TCP port."""
        return self._controller.port

    def close(self) -> None:
        """Waits for the requests in flight and frees the controller."""
        if not self._host_driven:
            self._controller.close()
            return
        if self._closed:
            return
        loop = self._loop
        if loop is not None and loop.is_running() and _running_loop() is not loop:
            # The loop runs on another thread and alone may drive the
            # controller: it closes it, and this thread waits, unless the
            # loop stops first.
            closing = asyncio.run_coroutine_threadsafe(self.aclose(), loop)
            while loop.is_running():
                try:
                    return closing.result(_WAIT_SLICE)  # a slice at a time: Ctrl-C gets through
                except concurrent.futures.TimeoutError:
                    pass
            closing.cancel()
        self._closing = True
        if self._processing:
            # From a hook inside vc_process: the outcomes still to come are
            # delivered first, and the last of them frees the controller.
            return
        try:
            # Nobody else drives the commands now (this is the loop's
            # thread, or the loop has stopped): wait for them here.
            poller = select.poll()
            poller.register(self._descriptor, select.POLLIN)
            while self._in_flight and not self._closed:
                poller.poll(self._library.vc_next_timeout_ms(self._controller._handle))
                self._process_once()
        finally:
            # Also when Ctrl-C ends the wait: the rest end as "cancelled.".
            self._shut()

    async def aclose(self) -> None:
        """close() without blocking the loop."""
        if not self._host_driven:
            await asyncio.get_running_loop().run_in_executor(None, self._controller.close)
            return
        if self._closed:
            return
        self._closing = True
        try:
            if self._in_flight:
                loop = self._bind(asyncio.get_running_loop())
                while self._in_flight and not self._closed:
                    if self._drained is None or self._drained.done():
                        self._drained = loop.create_future()
                    # Shielded: one closer given up on leaves the others' wait.
                    await asyncio.shield(self._drained)
        finally:
            self._shut()

    async def __aenter__(self) -> "AsyncController":
        return self

    async def __aexit__(self, *_: object) -> None:
        await self.aclose()

    def __enter__(self) -> "AsyncController":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    async def create(self, a: str, b: str, c: str, d: str) -> CommandResult:
        """CREATE with four texts; a CommandResult (flow_id 1001)."""
        return await self._outcome(self._controller.create, a, b, c, d)

    async def kick(self, a: str, b: str) -> CommandResult:
        """KICK with two texts; a CommandResult (flow_id 1002)."""
        return await self._outcome(self._controller.kick, a, b)

    async def change(self, a: str, b: str, n: int) -> CommandResult:
        """CHANGE with two texts and a number 0-65535; a CommandResult
        (flow_id 1003)."""
        return await self._outcome(self._controller.change, a, b, n)

    async def qall(self) -> List[QAllEntry]:
        """QALL; a list of 8-tuples of str, one per entry ([] for none).
        A single entry keeps the server's trailing separator on its list
        items, as Controller.qall() says."""
        return await self._outcome(self._controller.qall)

    async def qsingle(self, a: str) -> QSingleResult:
        """QSINGLE with one text; an 18-tuple of str."""
        return await self._outcome(self._controller.qsingle, a)

    async def dscall(self, a: str, b: str, duration_seconds: int) -> CommandResult:
        """DSCALL with two texts and the local time `duration_seconds` from
        now; a CommandResult (flow_id 1006)."""
        return await self._outcome(self._controller.dscall, a, b, duration_seconds)

    async def _outcome(self, command: Callable[..., None], *arguments: Any) -> Any:
        if not self._host_driven:
            return await self._outcome_from_threads(command, *arguments)
        if self._closing:
            raise ValueError("the controller is closed")
        loop = self._bind(asyncio.get_running_loop())
        future = loop.create_future()

        def settle(result: Any, error: Optional[VoiceControlError]) -> None:
            # Inside vc_process on the loop's thread, or inside the destroy
            # of close() or of the exit handler once the loop has gone.
            self._in_flight -= 1
            if not loop.is_closed():
                _settle(future, result, error)
            # An aclose() may await on a later loop than this command's.
            drained = self._drained
            if not self._in_flight and drained is not None and not drained.get_loop().is_closed():
                _settle(drained, None, None)

        token = CancelToken()
        self._in_flight += 1
        try:
            # Only queues the request; its failures come in vc_process too.
            command(*arguments, callback=settle, cancel=token)
        except BaseException:
            self._in_flight -= 1  # refused: no outcome will come
            raise
        try:
            return await future
        except BaseException:
            # The task was cancelled, or the loop is going: the command
            # stops too, and its outcome ("cancelled."), which the next
            # vc_process delivers, finds the future done and is dropped.
            token.cancel()
            if not loop.is_closed():
                future.cancel()
            raise

    def _bind(self, loop: asyncio.AbstractEventLoop) -> asyncio.AbstractEventLoop:
        """Makes `loop` the one that watches the controller."""
        if loop is self._loop:
            return loop
        if self._loop is not None and not self._loop.is_closed():
            raise RuntimeError("this AsyncController belongs to another event loop")
        # A closed loop took its watch with it; the commands it left behind
        # (their awaiters gone) end under the new one.
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        self._loop = loop
        loop.add_reader(self._descriptor, self._process)
        self._arm()
        return loop

    def _process(self) -> None:
        """The loop's callback for the descriptor and for the deadline."""
        if self._closed:
            return
        self._process_once()
        if self._closing and not self._in_flight:
            self._shut()  # a close() from inside vc_process waited for this

    def _process_once(self) -> None:
        self._processing = True
        try:
            with _CtrlCAfterwards():
                status = self._library.vc_process(self._controller._handle)
        finally:
            self._processing = False
        self._arm(_RETRY_AFTER_NO_MEMORY if status == _native.VC_ERROR_OUT_OF_MEMORY else 0)

    def _arm(self, at_least: float = 0) -> None:
        """Sets the timer to the controller's next deadline, which every
        vc_process may have moved. A command issued outside vc_process with
        an earlier deadline makes the descriptor ready instead."""
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        loop = self._loop
        if loop is None or loop.is_closed():
            return
        milliseconds = self._library.vc_next_timeout_ms(self._controller._handle)
        if milliseconds >= 0:
            self._timer = loop.call_later(max(milliseconds / 1000, at_least), self._process)

    def _shut(self) -> None:
        """Takes the controller out of its loop and destroys it, which ends
        whatever is still in flight as "cancelled."."""
        if self._closed:
            return
        self._closing = self._closed = True
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        loop, self._loop = self._loop, None
        # Out of the loop before the descriptor closes with the controller.
        if loop is not None and not loop.is_closed():
            loop.remove_reader(self._descriptor)
        self._controller.close()

    async def _outcome_from_threads(self, command: Callable[..., None],
                                    *arguments: Any) -> Any:
        loop = asyncio.get_running_loop()
        future = loop.create_future()

        def hand_over(result: Any, error: Optional[VoiceControlError]) -> None:
            # On the library's thread (or on this one, for a failure to
            # connect): never raises into the library.
            try:
                loop.call_soon_threadsafe(_settle, future, result, error)
            except RuntimeError:
                pass  # the loop has closed: nobody is left to tell

        token = CancelToken()
        issue = functools.partial(command, *arguments, callback=hand_over, cancel=token)
        try:
            if self._controller._nonblocking:
                issue()  # only queues the request
            else:
                # A library without non-blocking calls connects on the
                # calling thread: not the loop's.
                await loop.run_in_executor(None, issue)
            return await future
        except BaseException:
            # The task was cancelled, or the loop is going: the command
            # stops too, and its outcome ("cancelled.") finds the future
            # done and is dropped.
            token.cancel()
            if not loop.is_closed():  # a coroutine collected after its loop closed
                future.cancel()
            raise
