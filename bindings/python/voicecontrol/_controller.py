"""Controller, the blocking and callback form, and the process-wide
settings."""

from __future__ import annotations

import atexit
import ctypes
import errno
import logging
import math
import os
import socket
import threading
import time
import weakref
from typing import Any, Callable, List, Optional, Sequence, Union, overload

from . import _native
from ._native import (CommandResult, OutcomeCallback, QAllEntry, QSingleResult,
                      RequestEvents, VoiceControlError)

LibraryPath = Union[str, "os.PathLike[str]", None]


def version(library: LibraryPath = None) -> str:
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return _native.load_library(library).vc_version().decode("ascii")


def set_code_page(name: str, library: LibraryPath = None) -> None:
    """Reads the server's answers with code page `name` ("GB18030", "GBK",
    "GB2312", "UTF-8", or another name the system's converter knows) in
    this whole process; texts stay str either way. Call it before the
    first command. Raises ValueError for a name the library cannot use."""
    if _native.load_library(library).vc_set_code_page(_utf8(name)) != _native.VC_OK:
        raise ValueError("unknown code page: %r" % name)


def set_log_directory(path: Union[str, bytes, "os.PathLike[Any]", None],
                      library: LibraryPath = None) -> None:
    """Writes this process's two log files, SendVoiceMsg.log and
    RecvVoiceMsg.log, into the directory `path` from now on. None or ""
    goes back to the default, the parent of the working directory. Also
    turns logging back on after disable_logs(). Raises FileNotFoundError
    (changing nothing) when `path` is not an existing directory."""
    function = _native.later_function(_native.load_library(library), "vc_set_log_directory")
    raw = b"" if path is None else _native.path_bytes(path)
    status = function(raw)
    if status == _native.VC_ERROR_BAD_DIRECTORY:
        raise FileNotFoundError(errno.ENOENT, "not an existing directory", os.fsdecode(raw))
    if status != _native.VC_OK:
        raise _native.status_error(status, "vc_set_log_directory")


def disable_logs(library: LibraryPath = None) -> None:
    """Writes no log files in this process until the next
    set_log_directory() call."""
    _native.later_function(_native.load_library(library), "vc_disable_logs")()


def _utf8(text: str) -> bytes:
    if not isinstance(text, str):
        raise TypeError("expected str, got %s" % type(text).__name__)
    if "\0" in text:
        raise ValueError("text contains a NUL character")
    return text.encode("utf-8")


def _in_range(number: int, bits: int, name: str) -> int:
    if isinstance(number, bool) or not isinstance(number, int) \
            or not 0 <= number < (1 << bits):
        raise ValueError("%s must be an int from 0 to %d" % (name, (1 << bits) - 1))
    return number


# The library's default for each time-out, and the range it takes.
_DEFAULT_TIMEOUT_MS = 5000
_MAX_TIMEOUT_MS = 600000


def _timeout_ms(seconds: Optional[float], name: str) -> int:
    """A time-out in seconds as the library takes it: whole milliseconds,
    from 1 to 600000; None is the library's default."""
    if seconds is None:
        return _DEFAULT_TIMEOUT_MS
    if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
        raise TypeError("%s must be a number of seconds, got %s"
                        % (name, type(seconds).__name__))
    # Rounded, so that 0.2 is 200 ms although 0.2 * 1000 is 200.00000000000003.
    milliseconds = round(seconds * 1000) if math.isfinite(seconds) else -1
    if not 1 <= milliseconds <= _MAX_TIMEOUT_MS:
        raise ValueError("%s must lie from 0.001 to %d seconds, got %r"
                         % (name, _MAX_TIMEOUT_MS // 1000, seconds))
    return milliseconds


def _ipv4_address(host: Union[str, bytes]) -> str:
    """The dotted IPv4 address of `host`: a dotted address as it is, a
    host name through the system's resolver."""
    if isinstance(host, bytes):
        host = host.decode("ascii")
    if not isinstance(host, str):
        raise TypeError("host must be a str, got %s" % type(host).__name__)
    if not host:
        raise ValueError("host is empty: give a host name or a dotted IPv4 address")
    try:
        found = socket.getaddrinfo(host, None, socket.AF_INET, socket.SOCK_STREAM)
    except socket.gaierror as error:
        raise socket.gaierror(
            error.errno, "cannot find an IPv4 address for host %r (%s); the server needs "
            "a host name with an IPv4 address or a dotted IPv4 address" % (host, error.strerror)
        ) from None
    except UnicodeError as error:
        raise ValueError("not a host name: %r (%s)" % (host, error)) from None
    return found[0][4][0]


# Controllers not yet closed, for closing at interpreter exit: a receive
# thread must not call into Python once the interpreter has begun to tear
# itself down, so every request has to end before that.
_open_controllers: "weakref.WeakSet[Controller]" = weakref.WeakSet()
_open_controllers_lock = threading.Lock()
_exiting = False
# The controllers whose command call is running on this thread, so that
# close() from a callback on that thread does not wait for itself.
_this_thread = threading.local()


def _close_all_at_exit() -> None:
    global _exiting
    with _open_controllers_lock:
        _exiting = True
        controllers = list(_open_controllers)
    for controller in controllers:
        controller.close()


atexit.register(_close_all_at_exit)


def _refuse_at_exit() -> None:
    if _exiting:
        raise RuntimeError("voicecontrol: the interpreter is exiting")


# How long a blocking call waits at a time for its outcome: on Windows a
# lock's wait lets no Ctrl-C through until it ends.
_WAIT_SLICE = 0.25


def _wait(event: threading.Event, timeout: Optional[float]) -> bool:
    """event.wait(timeout), interruptible by KeyboardInterrupt everywhere."""
    deadline = None if timeout is None else time.monotonic() + timeout
    while True:
        left = _WAIT_SLICE if deadline is None else deadline - time.monotonic()
        if event.wait(max(0.0, min(left, _WAIT_SLICE))):
            return True
        if left <= _WAIT_SLICE and deadline is not None:
            return event.is_set()


class CancelToken:
    """Cancels the commands issued with it (`cancel=token`), from any
    thread, also from inside a callback.

        token = voicecontrol.CancelToken()
        controller.qall(callback=record, cancel=token)
        ...
        token.cancel()  # record(None, Cancelled(...)) follows

    One token may serve any number of commands of any controllers. Once
    cancelled it stays so: a command issued with it later is cancelled as
    soon as it is issued, so a cancel racing with the issue never misses.
    """

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._cancelled = False
        # (controller, tag, request) of the commands issued with it, pruned
        # as they end; the controller weakly, so that a token kept around
        # does not keep a dropped controller from closing.
        self._commands: List[Any] = []

    @property
    def cancelled(self) -> bool:
        """Whether cancel() has been called."""
        return self._cancelled

    def cancel(self) -> int:
        """Cancels every command issued with this token that is still in
        flight: each stops at once (its connection shut down) and ends in
        Cancelled. Returns how many this call cancelled; 0 when none was in
        flight any more (an outcome already being delivered stays as it
        is)."""
        with self._lock:
            self._cancelled = True
            commands, self._commands = self._commands, []
        return sum(_cancel_one(*command) for command in commands)

    def _add(self, controller: "Controller", tag: int, request: _native.Request) -> None:
        command = (weakref.ref(controller), tag, request)
        with self._lock:
            if not self._cancelled:
                self._commands = [entry for entry in self._commands
                                  if not entry[2].finished.is_set()]
                self._commands.append(command)
                return
        _cancel_one(*command)


def _cancel_one(controller_ref: "weakref.ref[Controller]", tag: int,
                request: _native.Request) -> bool:
    controller = controller_ref()
    return controller is not None and not request.finished.is_set() and controller._cancel(tag)


_Token = Optional[CancelToken]


class Controller:
    """A controller of the voice server at `host` and `port`.

    `host` is a dotted IPv4 address or a host name, which is resolved to
    its (first) IPv4 address once, here; OSError (socket.gaierror) when it
    has none. `library`: a path to the voicecontrol library, or None for
    the usual loader paths.

    `connect_timeout` and `timeout` (seconds, from 0.001 to 600, kept to
    the millisecond; None: 5) are the library's deadlines for every request
    of this controller: how long a command waits for its connection
    ("connect error." after it), and for the complete answer once the
    request went out ("timeout."). ValueError for one outside that range.

    `log_to_logging=True` sends the log records of this controller's
    requests and answers to the logging module's "voicecontrol" logger at
    DEBUG ("sent request 3 (tag 7):" or "answer to request 3 (tag 7):",
    then the HTTP message decoded as UTF-8) instead of the two log files;
    `keep_log_files=True` writes the files as well. `on_request_events`, a
    callable, gets each command's timeline (RequestEvents) once its outcome
    is known, just before the outcome is handed on. Both are called on
    threads of the library, possibly several at once: keep them short and
    thread-safe; an exception leaving `on_request_events` is reported
    through sys.unraisablehook and dropped.

    Every command sends one request and returns its outcome, or raises
    VoiceControlError. With `timeout` (seconds) the call raises
    TimeoutError when it runs out first, and cancels the command. A
    KeyboardInterrupt (Ctrl-C) while the call waits cancels it too. With
    `callback=`, the call returns None at once and `callback(result,
    error)` is called later, exactly once, on a thread of the library. With
    `cancel=` a CancelToken, token.cancel() stops the command: it then ends
    in Cancelled (a VoiceControlError).

    Any number of threads may use one controller at once, close() included.
    close() (or leaving a `with` block) waits for the requests still in
    flight and delivers their outcomes first; controllers still open when
    the interpreter exits are closed then.
    """

    def __init__(self, host: str, port: int, library: LibraryPath = None,
                 connect_timeout: Optional[float] = None,
                 timeout: Optional[float] = None, *, log_to_logging: bool = False,
                 keep_log_files: bool = False,
                 on_request_events: Optional[Callable[[RequestEvents], None]] = None) -> None:
        self._state = threading.Condition()
        self._calls = 0  # command calls running now, on any thread
        self._closing = False
        self._destroyed = threading.Event()
        self._handle: Optional[int] = None
        self._library = _native.load_library(library)
        self._address = _ipv4_address(host)
        self._port = _in_range(port, 16, "port")
        connect_ms = _timeout_ms(connect_timeout, "connect_timeout")
        answer_ms = _timeout_ms(timeout, "timeout")
        # Older libraries lack the call, and need it only for a choice.
        set_timeouts = None
        if connect_timeout is not None or timeout is not None:
            set_timeouts = _native.later_function(self._library, "vc_set_timeouts")
        # The hooks live as long as this object: the library may call them
        # until vc_controller_destroy has returned.
        self._hooks: List[Any] = []
        if log_to_logging:
            self._hooks.append((_native.later_function(self._library, "vc_set_log_hook"),
                                _native.log_hook(logging.getLogger("voicecontrol")),
                                None, 1 if keep_log_files else 0))
        if on_request_events is not None:
            if not callable(on_request_events):
                raise TypeError("on_request_events must be callable")
            self._hooks.append((_native.later_function(self._library, "vc_set_event_hook"),
                                _native.event_hook(on_request_events), None))
        with _open_controllers_lock:
            _refuse_at_exit()
            handle = self._library.vc_controller_create(ctypes.byref(_native.CALLBACKS), None)
            if not handle:
                raise MemoryError("vc_controller_create")
            self._handle = handle
            _open_controllers.add(self)
        self._configure(self._library.vc_set_server, self._address.encode("ascii"), self._port)
        if set_timeouts is not None:
            self._configure(set_timeouts, connect_ms, answer_ms)
        for function, *arguments in self._hooks:
            self._configure(function, *arguments)
        # Command calls only queue their request: the connect, the send and
        # every outcome come on threads of the library. So no callback runs
        # on the calling thread, where a Ctrl-C would raise
        # KeyboardInterrupt inside it and lose the outcome, and an event
        # loop's thread never waits for a connect. An older library lacks
        # the call and connects on the calling thread.
        nonblocking = self._library.vc_set_nonblocking_calls
        self._nonblocking = nonblocking is not None
        if self._nonblocking:
            self._configure(nonblocking, 1)

    def _configure(self, function: Callable[..., int], *arguments: Any) -> None:
        """One of the library's settings, before any command."""
        status = function(self._handle, *arguments)
        if status != _native.VC_OK:
            self.close()
            raise _native.status_error(status, function.__name__)

    @property
    def address(self) -> str:
        """The server's dotted IPv4 address (the host, resolved)."""
        return self._address

    @property
    def port(self) -> int:
        """The server's TCP port."""
        return self._port

    def close(self) -> None:
        """Waits for the requests in flight (at most their answer
        deadline), delivers their outcomes, and frees the controller.
        Calling it again, or from a callback, returns at once."""
        state = getattr(self, "_state", None)
        if state is None:  # __init__ failed early
            return
        with state:
            if self._closing:
                return
            self._closing = True
            if self._calls > 0:
                # The last command call to return frees the controller.
                if self in getattr(_this_thread, "calls", ()):
                    return
                wait = True
            else:
                wait = False
                handle, self._handle = self._handle, None
        if wait:
            self._destroyed.wait()
        else:
            self._destroy(handle)

    def _destroy(self, handle: Optional[int]) -> None:
        try:
            if handle:
                self._library.vc_controller_destroy(handle)
        finally:
            with _open_controllers_lock:
                _open_controllers.discard(self)
            self._destroyed.set()

    def __enter__(self) -> "Controller":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    @overload
    def create(self, a: str, b: str, c: str, d: str, *, callback: None = None,
               cancel: _Token = None, timeout: Optional[float] = None) -> CommandResult: ...

    @overload
    def create(self, a: str, b: str, c: str, d: str, *, callback: OutcomeCallback,
               cancel: _Token = None, timeout: Optional[float] = None) -> None: ...

    def create(self, a, b, c, d, *, callback=None, cancel=None, timeout=None):
        """CREATE with four texts; a CommandResult (flow_id 1001)."""
        return self._issue("vc_create", [_utf8(a), _utf8(b), _utf8(c), _utf8(d)], callback,
                           cancel, timeout)

    @overload
    def kick(self, a: str, b: str, *, callback: None = None, cancel: _Token = None,
             timeout: Optional[float] = None) -> CommandResult: ...

    @overload
    def kick(self, a: str, b: str, *, callback: OutcomeCallback, cancel: _Token = None,
             timeout: Optional[float] = None) -> None: ...

    def kick(self, a, b, *, callback=None, cancel=None, timeout=None):
        """KICK with two texts; a CommandResult (flow_id 1002)."""
        return self._issue("vc_kick", [_utf8(a), _utf8(b)], callback, cancel, timeout)

    @overload
    def change(self, a: str, b: str, n: int, *, callback: None = None, cancel: _Token = None,
               timeout: Optional[float] = None) -> CommandResult: ...

    @overload
    def change(self, a: str, b: str, n: int, *, callback: OutcomeCallback, cancel: _Token = None,
               timeout: Optional[float] = None) -> None: ...

    def change(self, a, b, n, *, callback=None, cancel=None, timeout=None):
        """CHANGE with two texts and a number 0-65535; a CommandResult
        (flow_id 1003)."""
        return self._issue("vc_change", [_utf8(a), _utf8(b), _in_range(n, 16, "n")], callback,
                           cancel, timeout)

    @overload
    def qall(self, *, callback: None = None, cancel: _Token = None,
             timeout: Optional[float] = None) -> List[QAllEntry]: ...

    @overload
    def qall(self, *, callback: OutcomeCallback, cancel: _Token = None,
             timeout: Optional[float] = None) -> None: ...

    def qall(self, *, callback=None, cancel=None, timeout=None):
        """QALL; a list of 8-tuples of str, one per entry ([] for none).

        The server ends each list item with a separator. The library splits
        the lists of several entries at the separators, but passes a single
        entry on as the server sent it, trailing separator included (as the
        C++ and C interfaces do): with one entry, strip it yourself
        (value.rstrip(",")) where it matters.
        """
        return self._issue("vc_qall", [], callback, cancel, timeout)

    @overload
    def qsingle(self, a: str, *, callback: None = None, cancel: _Token = None,
                timeout: Optional[float] = None) -> QSingleResult: ...

    @overload
    def qsingle(self, a: str, *, callback: OutcomeCallback, cancel: _Token = None,
                timeout: Optional[float] = None) -> None: ...

    def qsingle(self, a, *, callback=None, cancel=None, timeout=None):
        """QSINGLE with one text; an 18-tuple of str."""
        return self._issue("vc_qsingle", [_utf8(a)], callback, cancel, timeout)

    @overload
    def dscall(self, a: str, b: str, duration_seconds: int, *, callback: None = None,
               cancel: _Token = None, timeout: Optional[float] = None) -> CommandResult: ...

    @overload
    def dscall(self, a: str, b: str, duration_seconds: int, *, callback: OutcomeCallback,
               cancel: _Token = None, timeout: Optional[float] = None) -> None: ...

    def dscall(self, a, b, duration_seconds, *, callback=None, cancel=None, timeout=None):
        """DSCALL with two texts and the local time `duration_seconds` from
        now; a CommandResult (flow_id 1006)."""
        return self._issue("vc_dscall",
                           [_utf8(a), _utf8(b), _in_range(duration_seconds, 32, "duration")],
                           callback, cancel, timeout)

    def _issue(self, function_name: str, arguments: Sequence[Any],
               callback: Optional[OutcomeCallback], cancel: _Token,
               timeout: Optional[float]) -> Any:
        request = _native.Request(callback, self._library.vc_error_detail)
        tag = _native.register(request)
        try:
            status = self._call(function_name, arguments, tag)
            if status != _native.VC_OK:
                raise _native.status_error(status, function_name)
            if cancel is not None:
                cancel._add(self, tag, request)
            if callback is not None:
                return None
            if not _wait(request.finished, timeout):
                raise TimeoutError("no outcome within %s seconds" % timeout)
        except BaseException:
            # The caller gives up on the outcome (KeyboardInterrupt, its own
            # time-out): the command stops now rather than holding its
            # connection until its deadline. Harmless for a tag that is not
            # in flight, and tags are never reused.
            self._cancel(tag)
            raise
        if request.error is not None:
            raise request.error
        return request.result

    def _call(self, function_name: str, arguments: Sequence[Any], tag: int) -> int:
        """Issues the command, keeping close() from freeing the controller
        while the library's function runs."""
        try:
            handle = self._enter_call()
        except BaseException:
            _native.forget(tag)
            raise
        calls = _this_thread.__dict__.setdefault("calls", [])
        calls.append(self)
        try:
            status = getattr(self._library, function_name)(handle, *arguments, tag)
            if status != _native.VC_OK:
                _native.forget(tag)  # nothing was sent and no callback will come
            return status
        finally:
            calls.pop()
            self._leave_call()

    def _cancel(self, tag: int) -> bool:
        """vc_cancel; False when the command was not in flight any more, or
        the library cannot cancel."""
        if self._library.vc_cancel is None:
            return False
        try:
            handle = self._enter_call()
        except (ValueError, RuntimeError):
            return False  # closing: its commands are ending anyway
        try:
            return self._library.vc_cancel(handle, tag) == _native.VC_OK
        finally:
            self._leave_call()

    def _enter_call(self) -> int:
        _refuse_at_exit()
        with self._state:
            if self._closing:
                raise ValueError("the controller is closed")
            self._calls += 1
            return self._handle

    def _leave_call(self) -> None:
        with self._state:
            self._calls -= 1
            if not (self._closing and self._calls == 0 and self._handle):
                return
            handle, self._handle = self._handle, None
        self._destroy(handle)
