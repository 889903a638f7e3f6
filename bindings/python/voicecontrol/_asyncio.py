"""AsyncController: the six commands as awaitables, over Controller's
callback form."""

from __future__ import annotations

import asyncio
import functools
from typing import Any, Callable, List, Optional

from ._controller import CancelToken, Controller, LibraryPath
from ._native import CommandResult, QAllEntry, QSingleResult, RequestEvents, VoiceControlError


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


class AsyncController:
    """The asyncio form of Controller: `await controller.qall()`.

    `host`, `port`, `library`, `connect_timeout`, `timeout`,
    `log_to_logging`, `keep_log_files` and `on_request_events` as for
    Controller (`on_request_events` is called on a thread of the library,
    not the loop's). Each command is a coroutine that sends one request and
    returns its outcome or raises VoiceControlError. The loop's thread
    never waits for the network: the command call only queues the request,
    and the outcome is handed to the awaiting event loop from the library's
    thread through loop.call_soon_threadsafe. Any number of commands may be
    awaited at once (asyncio.gather), from one loop or several.

    Cancelling the awaiting task (task.cancel(), asyncio.wait_for running
    out, asyncio.run ending) cancels the command: its connection is shut
    down at once and the task ends in asyncio.CancelledError (wait_for's
    in TimeoutError). An outcome that arrives after its loop has closed is
    dropped.

    close() waits for the requests in flight (blocking, at most their
    deadline); `await aclose()` or `async with` does the same without
    blocking the loop.
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
        self._controller.close()

    async def aclose(self) -> None:
        """close() on a worker thread, so that the loop keeps running."""
        await asyncio.get_running_loop().run_in_executor(None, self._controller.close)

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
