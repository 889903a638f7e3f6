"""The library's C interface (voicecontrol/voicecontrol.h) through ctypes:
loading the library, declaring its functions, the callbacks that hand
each outcome to the request it belongs to, and the hooks that hand log
records and timelines to Python."""

from __future__ import annotations

import ctypes
import ctypes.util
import errno
import itertools
import logging
import os
import sys
import threading
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple, Union

QALL_FIELDS = 8
QSINGLE_VALUES = 18

# vc_status values.
VC_OK = 0
VC_ERROR_OUT_OF_MEMORY = -2
VC_ERROR_UNKNOWN_CODE_PAGE = -4
VC_ERROR_BAD_ADDRESS = -5
VC_ERROR_BAD_DIRECTORY = -6
VC_ERROR_BAD_TIMEOUT = -7
VC_ERROR_NOT_IN_FLIGHT = -8

_STATUS_TEXTS = {
    -1: "null argument",
    -2: "out of memory",
    -3: "internal error",
    -4: "unknown code page",
    -5: "not a dotted IPv4 address",
    -6: "not an existing directory",
    -7: "a time-out outside 1 ms to 10 minutes",
    -8: "no such command in flight",
    -9: "the controller is not host-driven",
    -10: "the system has no descriptor left",
}

# The error text reserved to cancelled commands.
CANCELLED_TEXT = "cancelled."


class VoiceControlError(Exception):
    """A command failed.

    `text` is the library's error text, one of "socket error.", "connect
    error.", "send error.", "param error.", "timeout.", "init http parse.",
    "decode." and "bad message." (compare with these). `detail` says why in
    a few words, e.g. "connect: Connection refused" or "HTTP status 501";
    "" when the library gives no reason. str(error) shows both.
    """

    def __init__(self, text: str, detail: str = "") -> None:
        super().__init__(text, detail)
        self.text = text
        self.detail = detail

    def __str__(self) -> str:
        return "%s (%s)" % (self.text, self.detail) if self.detail else self.text


class Cancelled(VoiceControlError):
    """A command cancelled by the host (CancelToken.cancel(), or a call
    that gave up waiting): `text` "cancelled.", `detail` "cancelled by the
    host". The library shut its connection down at once."""


class CommandResult(NamedTuple):
    """The answer to create (flow_id 1001), kick (1002), change (1003) or
    dscall (1006): the server's result code (0 for success) and text."""

    flow_id: int
    code: int
    text: str


class RequestEvents(NamedTuple):
    """The timeline of one command, told once its outcome has been
    delivered (Controller's `on_request_events`).

    Times are microseconds of a monotonic clock, comparable within the
    process only; 0 for a point the command never reached (a refused
    argument never connects, a cancelled wait has no answer)."""

    request_id: int  # 1, 2, ... per controller, as in its log records
    tag: int  # the command's tag, as in its log records
    flow_id: int  # 1001 (create) to 1006 (dscall)
    http_status: int  # the answer's status code; 0 without a status line
    queued_us: int  # the command was called
    connect_started_us: int
    connected_us: int
    request_written_us: int
    first_answer_byte_us: int
    answer_complete_us: int
    outcome_delivered_us: int  # the outcome's last callback returned
    bytes_out: int
    bytes_in: int
    error_text: Optional[str]  # None: the command ended in a result
    error_detail: str


# The public types print as voicecontrol.X and unpickle from there.
for _public in (VoiceControlError, Cancelled, CommandResult, RequestEvents):
    _public.__module__ = "voicecontrol"
del _public

QAllEntry = Tuple[str, str, str, str, str, str, str, str]
QSingleResult = Tuple[str, ...]
Result = Union[CommandResult, List[QAllEntry], QSingleResult]
OutcomeCallback = Callable[[Optional[Any], Optional[VoiceControlError]], None]


def status_error(status: int, function_name: str) -> Exception:
    """The exception for a vc_status other than VC_OK (nothing was done)."""
    if status == VC_ERROR_OUT_OF_MEMORY:
        return MemoryError(function_name)
    return VoiceControlError(_STATUS_TEXTS.get(status, "status %d" % status),
                             "%s returned %d" % (function_name, status))


# Callbacks use the C calling convention (__cdecl on Windows), as CFUNCTYPE
# does.
_OnError = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p)
_OnCommandResult = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32,
                                    ctypes.c_int32, ctypes.c_char_p)
_OnQAllEmpty = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
_OnTexts = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p,
                            ctypes.POINTER(ctypes.c_char_p))
_OnDone = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)


class Callbacks(ctypes.Structure):
    _fields_ = [("on_error", _OnError), ("on_command_result", _OnCommandResult),
                ("on_qall_empty", _OnQAllEmpty), ("on_qall_entry", _OnTexts),
                ("on_qsingle_result", _OnTexts), ("on_done", _OnDone)]


class Request:
    """One command in flight: what its callbacks have told so far."""

    __slots__ = ("callback", "error_detail", "result", "error", "finished")

    def __init__(self, callback: Optional[OutcomeCallback],
                 error_detail: Optional[Callable[[], bytes]]) -> None:
        self.callback = callback
        self.error_detail = error_detail  # vc_error_detail, when the library has it
        self.result: Any = None  # a qall answer's entries gather here as they come
        self.error: Optional[VoiceControlError] = None
        self.finished = threading.Event()


# Requests in flight, by tag. The C callbacks below serve every controller
# and live as long as the module, so the library can never call a freed one.
_requests: Dict[int, Request] = {}
_requests_lock = threading.Lock()
_next_tag = itertools.count(1)


def register(request: Request) -> int:
    """A tag of its own for `request`, until on_done (or forget)."""
    with _requests_lock:
        tag = next(_next_tag)
        _requests[tag] = request
    return tag


def forget(tag: int) -> None:
    """For a command the library refused: no callback will come."""
    with _requests_lock:
        _requests.pop(tag, None)


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


def _request(tag: Optional[int]) -> Optional[Request]:
    with _requests_lock:
        return _requests.get(tag or 0)


# The callbacks run on the library's threads (or on the calling thread for
# failures to connect or send). They only record; on_done hands over.

@_OnError
def _on_error(_user, tag, text):
    request = _request(tag)
    if request is None:
        return
    # Readable only now, during on_error, on this thread.
    detail = _text(request.error_detail()) if request.error_detail else ""
    text = _text(text)
    request.error = (Cancelled if text == CANCELLED_TEXT else VoiceControlError)(text, detail)


@_OnCommandResult
def _on_command_result(_user, tag, flow_id, code, text):
    request = _request(tag)
    if request is not None:
        request.result = CommandResult(flow_id, code, _text(text))


@_OnQAllEmpty
def _on_qall_empty(_user, tag):
    request = _request(tag)
    if request is not None:
        request.result = []


@_OnTexts
def _on_qall_entry(_user, tag, fields):
    request = _request(tag)
    if request is None:
        return
    if request.result is None:
        request.result = []
    request.result.append(tuple(_text(fields[i]) for i in range(QALL_FIELDS)))


@_OnTexts
def _on_qsingle_result(_user, tag, values):
    request = _request(tag)
    if request is not None:
        request.result = tuple(_text(values[i]) for i in range(QSINGLE_VALUES))


@_OnDone
def _on_done(_user, tag):
    with _requests_lock:
        request = _requests.pop(tag or 0, None)
    if request is None:
        return
    try:
        if request.callback is not None:
            if request.error is not None:
                request.callback(None, request.error)
            else:
                request.callback(request.result, None)
    finally:
        request.finished.set()


CALLBACKS = Callbacks(_on_error, _on_command_result, _on_qall_empty, _on_qall_entry,
                      _on_qsingle_result, _on_done)


class LogRecordStruct(ctypes.Structure):
    _fields_ = [("sent", ctypes.c_int), ("bytes", ctypes.POINTER(ctypes.c_char)),
                ("length", ctypes.c_uint32), ("tag", ctypes.c_void_p),
                ("request_id", ctypes.c_uint64)]


class RequestEventsStruct(ctypes.Structure):
    _fields_ = ([("request_id", ctypes.c_uint64), ("tag", ctypes.c_void_p),
                 ("flow_id", ctypes.c_int32), ("http_status", ctypes.c_int32)]
                + [(name, ctypes.c_int64) for name in RequestEvents._fields[4:11]]
                + [("bytes_out", ctypes.c_uint64), ("bytes_in", ctypes.c_uint64),
                   ("error_text", ctypes.c_char_p), ("error_detail", ctypes.c_char_p)])


LogHook = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(LogRecordStruct))
EventHook = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(RequestEventsStruct))


def log_hook(logger: Any) -> Any:
    """A vc_log_hook that hands every record to `logger` at DEBUG. It runs
    on the thread that sends the request or reads its answer (a library
    thread, as the controller's calls never block)."""

    @LogHook
    def hook(_user, record_pointer):
        if not logger.isEnabledFor(logging.DEBUG):  # no decoding for nobody
            return
        record = record_pointer.contents
        text = ctypes.string_at(record.bytes, record.length).decode("utf-8", "replace")
        logger.debug("%s request %d (tag %d):\n%s", "sent" if record.sent else "answer to",
                     record.request_id, record.tag or 0, text)

    return hook


def event_hook(receiver: Callable[[RequestEvents], None]) -> Any:
    """A vc_event_hook that hands every timeline to `receiver`, on the
    thread that ends the command, before the command's outcome is handed
    on."""

    @EventHook
    def hook(_user, events_pointer):
        raw = events_pointer.contents
        values = [getattr(raw, name) for name in RequestEvents._fields[:13]]
        values[1] = values[1] or 0  # the tag, None for NULL
        receiver(RequestEvents(*values, None if raw.error_text is None
                               else _text(raw.error_text), _text(raw.error_detail)))

    return hook

_c = ctypes
_TEXT, _HANDLE, _TAG, _STATUS = _c.c_char_p, _c.c_void_p, _c.c_void_p, _c.c_int
_SIGNATURES = {
    "vc_version": (_TEXT, []),
    "vc_set_code_page": (_STATUS, [_TEXT]),
    "vc_controller_create": (_HANDLE, [_c.POINTER(Callbacks), _c.c_void_p]),
    "vc_controller_destroy": (None, [_HANDLE]),
    "vc_set_server": (_STATUS, [_HANDLE, _TEXT, _c.c_uint16]),
    "vc_create": (_STATUS, [_HANDLE, _TEXT, _TEXT, _TEXT, _TEXT, _TAG]),
    "vc_kick": (_STATUS, [_HANDLE, _TEXT, _TEXT, _TAG]),
    "vc_change": (_STATUS, [_HANDLE, _TEXT, _TEXT, _c.c_uint16, _TAG]),
    "vc_qall": (_STATUS, [_HANDLE, _TAG]),
    "vc_qsingle": (_STATUS, [_HANDLE, _TEXT, _TAG]),
    "vc_dscall": (_STATUS, [_HANDLE, _TEXT, _TEXT, _c.c_uint32, _TAG]),
}
# Functions of later versions of the library. An older library still
# loads: errors then come without detail, and the log functions say what
# is missing.
_LATER_SIGNATURES = {
    "vc_error_detail": (_TEXT, []),
    "vc_set_log_directory": (_STATUS, [_TEXT]),
    "vc_disable_logs": (None, []),
    "vc_set_timeouts": (_STATUS, [_HANDLE, _c.c_uint32, _c.c_uint32]),
    "vc_cancel": (_STATUS, [_HANDLE, _TAG]),
    "vc_set_nonblocking_calls": (_STATUS, [_HANDLE, _c.c_int]),
    "vc_set_log_hook": (_STATUS, [_HANDLE, LogHook, _c.c_void_p, _c.c_int]),
    "vc_set_event_hook": (_STATUS, [_HANDLE, EventHook, _c.c_void_p]),
    # The host-driven mode (AsyncController's on Linux). The descriptor is
    # an intptr_t: an int on Linux, an event HANDLE on Windows.
    "vc_use_host_loop": (_STATUS, [_HANDLE]),
    "vc_loop_descriptor": (_c.c_ssize_t, [_HANDLE]),
    "vc_next_timeout_ms": (_c.c_int32, [_HANDLE]),
    "vc_process": (_STATUS, [_HANDLE]),
}


def _declare(library: ctypes.CDLL) -> ctypes.CDLL:
    for name, (result, arguments) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    for name, (result, arguments) in _LATER_SIGNATURES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            setattr(library, name, None)
            continue
        function.restype = result
        function.argtypes = arguments
    return library


_libraries: Dict[str, ctypes.CDLL] = {}
_libraries_lock = threading.Lock()


def load_library(path: Union[str, "os.PathLike[str]", None] = None) -> ctypes.CDLL:
    """The voicecontrol library as a ctypes.CDLL, loaded once per path.

    Without `path`, tries ctypes.util.find_library("voicecontrol"), then
    "libvoicecontrol.so.1" and "voicecontrol.dll" through the loader's own
    search. Raises OSError when none loads.
    """
    if path is not None:
        candidates = [os.fspath(path)]
    else:
        candidates = [name for name in (ctypes.util.find_library("voicecontrol"),
                                        "libvoicecontrol.so.1", "voicecontrol.dll") if name]
    failures = []
    with _libraries_lock:
        for candidate in candidates:
            if candidate in _libraries:
                return _libraries[candidate]
            try:
                library = _declare(ctypes.CDLL(candidate))
            except (OSError, AttributeError) as error:
                failures.append("%s: %s" % (candidate, error))
                continue
            _libraries[candidate] = library
            return library
    raise OSError("voicecontrol library not found (%s)" % "; ".join(failures))


def later_function(library: ctypes.CDLL, name: str) -> Callable[..., Any]:
    """A function that older libraries lack, or OSError naming the version."""
    function = getattr(library, name)
    if function is None:
        raise OSError(errno.ENOSYS, "the voicecontrol library %s has no %s"
                      % (library.vc_version().decode("ascii"), name))
    return function


def path_bytes(path: Union[str, bytes, "os.PathLike[Any]"]) -> bytes:
    """A path as the library takes it: UTF-8 on Windows, the file system's
    own bytes elsewhere (which round-trips names that are not UTF-8)."""
    if sys.platform == "win32":
        name = os.fspath(path)
        return name if isinstance(name, bytes) else name.encode("utf-8")
    return os.fsencode(path)
