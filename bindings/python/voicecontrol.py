"""voicecontrol for Python: drive a voice-conference server through the
library's C interface (standard library only, via ctypes).

    import voicecontrol

    with voicecontrol.Controller("127.0.0.1", 8080) as controller:
        print(controller.create("s1", "alice", "weekly sync", "alice,bob"))
        # CommandResult(flow_id=1001, code=0, text='created')
        for entry in controller.qall():       # a list of 8-tuples of str
            print(entry)
        try:
            controller.kick("s1", "bob", timeout=10)
        except voicecontrol.VoiceControlError as error:
            print("failed:", error.text)      # "connect error.", "timeout.", ...

Every command sends one request and returns its outcome:

    create, kick, change, dscall  CommandResult(flow_id, code, text): the
                                  server's result code and text
    qall                          a list of 8-tuples of str, one per entry
                                  ([] when there are none)
    qsingle                       an 18-tuple of str

A failure raises VoiceControlError whose `text` is the library's error text:
"socket error.", "connect error.", "send error.", "param error." (a text
over 255 UTF-8 bytes), "timeout." (no answer within 5 seconds), "init http
parse.", "decode." or "bad message.".

Blocking form: the call waits for the outcome. The library ends every
request within its 5-second deadline, so the default `timeout=None` never
waits much longer than that; with a `timeout` in seconds the call raises
TimeoutError when it runs out first (the request still ends by itself).

Callback form: with `callback=`, the call returns None at once and
`callback(result, error)` is called later exactly once, with the result and
None, or None and a VoiceControlError. It runs on a thread of the library
(or on the calling thread for failures to connect or send): keep it short
and thread-safe.

Threads: any number of Python threads may issue commands on one Controller
at once; every request carries a tag of its own, so outcomes never mix.
Texts are str both ways; they travel as UTF-8.

The library is found through the `library` argument (a path), or else
through the usual loader paths: ctypes.util.find_library("voicecontrol"),
then "libvoicecontrol.so.0" or "voicecontrol.dll".
"""

import ctypes
import ctypes.util
import itertools
import threading
from collections import namedtuple

__all__ = ["CommandResult", "Controller", "VoiceControlError", "load_library", "version"]


class VoiceControlError(Exception):
    """A command failed. `text` is the library's error text, e.g. "timeout."."""

    def __init__(self, text):
        super().__init__(text)
        self.text = text


CommandResult = namedtuple("CommandResult", "flow_id code text")
CommandResult.__doc__ = """The answer to create (flow_id 1001), kick (1002),
change (1003) or dscall (1006): the server's result code and text."""

_QALL_FIELDS = 8
_QSINGLE_VALUES = 18

# The C interface (voicecontrol/voicecontrol.h). Callbacks use the C calling
# convention (__cdecl on Windows), as CFUNCTYPE does.
_OnError = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p)
_OnCommandResult = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32,
                                    ctypes.c_int32, ctypes.c_char_p)
_OnQAllEmpty = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
_OnTexts = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p,
                            ctypes.POINTER(ctypes.c_char_p))
_OnDone = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)


class _Callbacks(ctypes.Structure):
    _fields_ = [("on_error", _OnError), ("on_command_result", _OnCommandResult),
                ("on_qall_empty", _OnQAllEmpty), ("on_qall_entry", _OnTexts),
                ("on_qsingle_result", _OnTexts), ("on_done", _OnDone)]


_STATUS_TEXTS = {-1: "null argument", -2: "out of memory", -3: "internal error"}


class _Request:
    """One command in flight: what its callbacks have told so far."""

    def __init__(self, callback):
        self.callback = callback
        self.result = None  # a qall answer's entries gather here as they come
        self.error = None  # a VoiceControlError
        self.finished = threading.Event()


# Requests in flight, by tag. The C callbacks below serve every controller
# and live as long as the module, so the library can never call a freed one.
_requests = {}
_requests_lock = threading.Lock()
_next_tag = itertools.count(1)


def _text(raw):
    return raw.decode("utf-8", "replace")


def _request(tag):
    with _requests_lock:
        return _requests.get(tag)


@_OnError
def _on_error(_user, tag, text):
    _request(tag).error = VoiceControlError(_text(text))


@_OnCommandResult
def _on_command_result(_user, tag, flow_id, code, text):
    _request(tag).result = CommandResult(flow_id, code, _text(text))


@_OnQAllEmpty
def _on_qall_empty(_user, tag):
    _request(tag).result = []


@_OnTexts
def _on_qall_entry(_user, tag, fields):
    request = _request(tag)
    if request.result is None:
        request.result = []
    request.result.append(tuple(_text(fields[i]) for i in range(_QALL_FIELDS)))


@_OnTexts
def _on_qsingle_result(_user, tag, values):
    _request(tag).result = tuple(_text(values[i]) for i in range(_QSINGLE_VALUES))


@_OnDone
def _on_done(_user, tag):
    with _requests_lock:
        request = _requests.pop(tag)
    try:
        if request.callback is not None:
            if request.error is not None:
                request.callback(None, request.error)
            else:
                request.callback(request.result, None)
    finally:
        request.finished.set()


_CALLBACKS = _Callbacks(_on_error, _on_command_result, _on_qall_empty, _on_qall_entry,
                        _on_qsingle_result, _on_done)

_libraries = {}
_libraries_lock = threading.Lock()


def _declare(library):
    c = ctypes
    text, handle, tag, status = c.c_char_p, c.c_void_p, c.c_void_p, c.c_int
    signatures = {
        "vc_version": (text, []),
        "vc_set_code_page": (status, [text]),
        "vc_controller_create": (handle, [c.POINTER(_Callbacks), c.c_void_p]),
        "vc_controller_destroy": (None, [handle]),
        "vc_set_server": (status, [handle, text, c.c_uint16]),
        "vc_create": (status, [handle, text, text, text, text, tag]),
        "vc_kick": (status, [handle, text, text, tag]),
        "vc_change": (status, [handle, text, text, c.c_uint16, tag]),
        "vc_qall": (status, [handle, tag]),
        "vc_qsingle": (status, [handle, text, tag]),
        "vc_dscall": (status, [handle, text, text, c.c_uint32, tag]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


def load_library(path=None):
    """The voicecontrol library as a ctypes.CDLL, loaded once per path.

    Without `path`, tries ctypes.util.find_library("voicecontrol"), then
    "libvoicecontrol.so.0" and "voicecontrol.dll" through the loader's own
    search. Raises OSError when none loads.
    """
    if path is not None:
        candidates = [str(path)]
    else:
        candidates = [name for name in (ctypes.util.find_library("voicecontrol"),
                                        "libvoicecontrol.so.0", "voicecontrol.dll") if name]
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


def version(library=None):
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return load_library(library).vc_version().decode("ascii")


def set_code_page(name, library=None):
    """Reads the server's answers with code page `name` ("GB18030", "GBK",
    "GB2312", "UTF-8", ...) in this whole process; texts stay str either
    way. Call before the first command. Raises ValueError for a name the
    library does not know."""
    if load_library(library).vc_set_code_page(_utf8(name)) != 0:
        raise ValueError("unknown code page: %r" % name)


def _utf8(text):
    if not isinstance(text, str):
        raise TypeError("expected str, got %s" % type(text).__name__)
    if "\0" in text:
        raise ValueError("text contains a NUL character")
    return text.encode("utf-8")


def _in_range(number, bits, name):
    if not isinstance(number, int) or not 0 <= number < (1 << bits):
        raise ValueError("%s must be an int from 0 to %d" % (name, (1 << bits) - 1))
    return number


class Controller:
    """A controller of the voice server at `host` (dotted IPv4) and `port`.

    `library`: a path to the library, or None for the usual loader paths.
    close() (or leaving a `with` block) waits for the requests still in
    flight and delivers their outcomes first.
    """

    def __init__(self, host, port, library=None):
        self._library = load_library(library)
        self._handle = self._library.vc_controller_create(ctypes.byref(_CALLBACKS), None)
        if not self._handle:
            raise MemoryError("vc_controller_create")
        address = host.encode("ascii") if isinstance(host, str) else host
        status = self._library.vc_set_server(self._handle, address, _in_range(port, 16, "port"))
        if status != 0:
            self.close()
            raise VoiceControlError(_STATUS_TEXTS.get(status, "status %d" % status))

    def close(self):
        """Waits for the requests in flight (at most their 5-second deadline)."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            self._library.vc_controller_destroy(handle)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __del__(self):
        self.close()

    def create(self, a, b, c, d, *, callback=None, timeout=None):
        """CREATE with four texts; a CommandResult (flow_id 1001)."""
        return self._issue("vc_create", [_utf8(a), _utf8(b), _utf8(c), _utf8(d)], callback,
                           timeout)

    def kick(self, a, b, *, callback=None, timeout=None):
        """KICK with two texts; a CommandResult (flow_id 1002)."""
        return self._issue("vc_kick", [_utf8(a), _utf8(b)], callback, timeout)

    def change(self, a, b, n, *, callback=None, timeout=None):
        """CHANGE with two texts and a number 0-65535; a CommandResult (1003)."""
        return self._issue("vc_change", [_utf8(a), _utf8(b), _in_range(n, 16, "n")], callback,
                           timeout)

    def qall(self, *, callback=None, timeout=None):
        """QALL; a list of 8-tuples of str, one per entry ([] for none)."""
        return self._issue("vc_qall", [], callback, timeout)

    def qsingle(self, a, *, callback=None, timeout=None):
        """QSINGLE with one text; an 18-tuple of str."""
        return self._issue("vc_qsingle", [_utf8(a)], callback, timeout)

    def dscall(self, a, b, duration_seconds, *, callback=None, timeout=None):
        """DSCALL with two texts and the local time `duration_seconds` from
        now; a CommandResult (flow_id 1006)."""
        return self._issue("vc_dscall",
                           [_utf8(a), _utf8(b), _in_range(duration_seconds, 32, "duration")],
                           callback, timeout)

    def _issue(self, function_name, arguments, callback, timeout):
        if not self._handle:
            raise ValueError("the controller is closed")
        request = _Request(callback)
        with _requests_lock:
            tag = next(_next_tag)
            _requests[tag] = request
        function = getattr(self._library, function_name)
        status = function(self._handle, *arguments, tag)
        if status != 0:
            # Nothing was sent and no callback will come.
            with _requests_lock:
                del _requests[tag]
            if status == -2:
                raise MemoryError(function_name)
            raise VoiceControlError(_STATUS_TEXTS.get(status, "status %d" % status))
        if callback is not None:
            return None
        if not request.finished.wait(timeout):
            raise TimeoutError("no outcome within %s seconds" % timeout)
        if request.error is not None:
            raise request.error
        return request.result
