/**
 * @file
 * @brief voicecontrol's C interface: the controller for hosts written in C,
 * or in any language that can call C functions (C#, Python's ctypes, ...),
 * and for hosts built with a compiler other than the library's (MSVC on
 * Windows).
 *
 * It is a thin layer over the C++ VoiceController and keeps every rule of
 * it: each command that returns VC_OK ends in exactly one outcome (one
 * error, one result, one "no entries", or the entries of one QAll answer),
 * delivered through the callbacks of vc_callbacks; a connection is awaited
 * for at most 5 seconds ("connect error."), an answer for at most 5
 * seconds after the request went out ("timeout."), unless vc_set_timeouts
 * chose other time-outs; the error texts are the
 * library's own ("socket error.", "connect error.", "send error.",
 * "timeout.", "init http parse.", "decode.", "param error.", "bad
 * message."; and "cancelled." for a command the host cancelled with
 * vc_cancel, which a host that never cancels never sees), and
 * vc_error_detail() tells why inside on_error.
 *
 * @par Texts
 * Every string crosses as NUL-terminated UTF-8, in both directions and on
 * every platform. A string handed to a callback is valid only during that
 * call: copy what you keep. In a text that is not valid UTF-8 each bad
 * sequence is read as U+FFFD.
 *
 * @par Threads
 * Failures to create a socket, to connect or to send (and "param error."
 * for an argument that cannot be sent) are reported on the calling thread,
 * before the command returns, and so is that command's on_done (unless
 * vc_set_nonblocking_calls made every outcome come on a library thread): a host
 * must not hold, around a command call, a lock that its on_error or
 * on_done takes. Everything else arrives on a receive thread of the
 * library. Several commands may be in flight at once, so callbacks may run
 * on several threads at the same time. No lock of the library is held
 * during a callback: a callback may issue further commands. The commands
 * of one controller may be called from several threads at once;
 * vc_set_server, vc_set_timeouts and vc_controller_destroy may not run
 * beside any other call on the same controller. A callback may end its thread
 * (pthread_exit) except on_done, which must return.
 *
 * @par Tags
 * Every command takes a `tag` of the caller's, passed unchanged to each
 * callback of that command's outcome, so that outcomes of commands of the
 * same kind in flight at once can be told apart. After the outcome,
 * on_done tells that the command is finished and its tag no longer used.
 *
 * @par Errors of the functions themselves
 * A function that returns a vc_status other than VC_OK has done nothing
 * and will call no callback.
 *
 * @par Arguments of the commands
 * The meaning of the text arguments a, b, c, d (and of vc_change's number)
 * lies with the server and the host; the library sends them as the
 * request's field values, in order. The usual reading, the one voicectl
 * and its simulator use, is given with each command. A text is refused
 * with "param error." through on_error (the call still returns VC_OK, and
 * nothing is sent) when its UTF-8 form exceeds 255 bytes or it holds a
 * character XML 1.0 cannot carry (a control character other than tab,
 * line feed and carriage return, U+FFFE or U+FFFF); vc_error_detail()
 * then names the argument.
 */
#ifndef VOICECONTROL_VOICECONTROL_H_
#define VOICECONTROL_VOICECONTROL_H_

#include <stdint.h>

#include <voicecontrol/export.h>

/** @brief The calling convention of every function and callback here:
 * __cdecl on Windows, the platform's default elsewhere. */
#if defined(_WIN32)
#define VC_CALL __cdecl
#else
#define VC_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** @brief Results of the functions of this interface. */
typedef enum vc_status {
  /** Done. */
  VC_OK = 0,
  /** The controller or a string argument was NULL; nothing was done. */
  VC_ERROR_NULL_ARGUMENT = -1,
  /** Memory ran out; nothing was sent. */
  VC_ERROR_OUT_OF_MEMORY = -2,
  /** The library failed in a way it cannot describe further; nothing was
   * sent. */
  VC_ERROR_INTERNAL = -3,
  /** vc_set_code_page: a code page name the library does not know, or one
   * the system cannot convert. */
  VC_ERROR_UNKNOWN_CODE_PAGE = -4,
  /** vc_set_server: the host is not an IPv4 address in dotted form (a host
   * name, say); the server was left as it was. */
  VC_ERROR_BAD_ADDRESS = -5,
  /** vc_set_log_directory: the directory does not exist; the setting was
   * left as it was. */
  VC_ERROR_BAD_DIRECTORY = -6,
  /** vc_set_timeouts: a time-out below 1 ms or above 10 minutes
   * (600000 ms); the time-outs were left as they were. */
  VC_ERROR_BAD_TIMEOUT = -7,
  /** vc_cancel: no command with that tag is in flight any more (it has
   * ended, or its outcome is being delivered); nothing was done. */
  VC_ERROR_NOT_IN_FLIGHT = -8,
  /** vc_process and vc_loop_descriptor: the controller is not driven by
   * its host (vc_use_host_loop); nothing was done. */
  VC_ERROR_NOT_HOST_DRIVEN = -9,
  /** vc_use_host_loop: the system has no descriptor (or event object)
   * left; the controller was left as it was. */
  VC_ERROR_NO_RESOURCES = -10
} vc_status;

/** @brief The callbacks of a controller.
 *
 * A NULL member means "not interested": that outcome is then dropped.
 * Every callback gets `user`, the pointer given to vc_controller_create,
 * and `tag`, the one given to the command. */
typedef struct vc_callbacks {
  /** @brief Any failure. `text` is one of the error texts listed above;
   * vc_error_detail(), called during this callback on its thread, tells
   * why. */
  void(VC_CALL* on_error)(void* user, void* tag, const char* text);
  /** @brief The answer to vc_create (`flow_id` 1001), vc_kick (1002),
   * vc_change (1003) or vc_dscall (1006): the server's result `code` and
   * `text`. */
  void(VC_CALL* on_command_result)(void* user, void* tag, int32_t flow_id, int32_t code,
                                   const char* text);
  /** @brief A vc_qall answer without entries. */
  void(VC_CALL* on_qall_empty)(void* user, void* tag);
  /** @brief One entry of a vc_qall answer: `fields` holds 8 strings.
   * Called once per entry, in order, on one thread. */
  void(VC_CALL* on_qall_entry)(void* user, void* tag, const char* const* fields);
  /** @brief The answer to vc_qsingle: `values` holds 18 strings. */
  void(VC_CALL* on_qsingle_result)(void* user, void* tag, const char* const* values);
  /** @brief Called once for every command that returned VC_OK, after the
   * last callback of its outcome has returned: on that callback's thread,
   * or on the calling thread before the command returns. The command is
   * finished, the library no longer uses its tag, and no further entries
   * of a qall answer will come. It must return (not end its thread). */
  void(VC_CALL* on_done)(void* user, void* tag);
} vc_callbacks;

/** @brief A controller: made by vc_controller_create, ended by
 * vc_controller_destroy. */
typedef struct vc_controller vc_controller;

/**
 * @brief The library's version.
 * @return "MAJOR.MINOR.PATCH", a static string.
 */
VC_API const char* VC_CALL vc_version(void);

/**
 * @brief Why the error being reported on this thread happened.
 *
 * Call it inside on_error: a short English text, UTF-8, made to be read
 * and searched for, e.g. "connect: Connection refused", "connect: no
 * answer within 5 s" (the connect time-out), "no answer within 250 ms"
 * (the answer time-out), "answer longer than 81919
 * bytes", "HTTP status 501", "FlowID 2000 is not a command", "FieldNum 0
 * below 1 for FlowID 1001". Compare the error text, not the detail.
 *
 * @return The detail, valid until on_error returns; "" (never NULL)
 *   outside on_error.
 */
VC_API const char* VC_CALL vc_error_detail(void);

/**
 * @brief Chooses the code page answers are read with, for the whole
 * process, as the C++ voicecontrol::SetCodePage.
 *
 * Until it is called: UTF-8 on Linux, the system's ANSI code page on
 * Windows. Call it before the first command. It changes only how answers
 * are decoded: the strings of this interface are UTF-8 whatever the code
 * page.
 *
 * @param name "UTF-8", "GB18030", "GBK", "GB2312", "BIG5", "SHIFT_JIS",
 *   "EUC-KR", "WINDOWS-1252" (any letter case), or "CP936", "CP950",
 *   "CP932", "CP949", "CP1252", "CP65001"; beyond these, any name the
 *   system's converter knows, as the C++ SetCodePage describes.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_UNKNOWN_CODE_PAGE for a
 *   name the system cannot convert.
 */
VC_API vc_status VC_CALL vc_set_code_page(const char* name);

/**
 * @brief Chooses the directory of the two log files (SendVoiceMsg.log, the
 * last request sent; RecvVoiceMsg.log, the last complete answer), for the
 * whole process, as the C++ voicecontrol::SetLogDirectory. Each record
 * replaces its file whole, so a reader always finds one complete record.
 *
 * By default they lie in "../" of the working directory. The setting may
 * change at any time, also while requests are being logged; the library
 * reads no environment variable for it.
 *
 * @param utf8_dir The directory, UTF-8; a relative one is taken relative
 *   to the working directory at each record. NULL or "": back to the
 *   default. Turns logging on again after vc_disable_logs.
 * @return VC_OK; VC_ERROR_BAD_DIRECTORY, changing nothing, when the
 *   directory does not exist.
 */
VC_API vc_status VC_CALL vc_set_log_directory(const char* utf8_dir);

/** @brief Writes no log files from now on, in the whole process, until
 * the next vc_set_log_directory call. */
VC_API void VC_CALL vc_disable_logs(void);

/**
 * @brief A new controller.
 * @param callbacks Copied; NULL: no callbacks at all.
 * @param user Passed to every callback.
 * @return The controller; NULL when memory ran out.
 */
VC_API vc_controller* VC_CALL vc_controller_create(const vc_callbacks* callbacks, void* user);

/**
 * @brief Destroys a controller after waiting for the answers still in
 * flight (at most their answer time-out); their outcomes, and on_done,
 * are delivered first.
 *
 * May be called from a callback of the controller: the rest of that
 * command's outcome (further qall entries, on_done) then still follows.
 *
 * @param controller The controller; NULL is ignored.
 */
VC_API void VC_CALL vc_controller_destroy(vc_controller* controller);

/**
 * @brief The server the commands go to. Set it before the first command.
 * @param controller The controller.
 * @param ipv4_address An IPv4 address in dotted form ("192.0.2.7"); a host
 *   name is not resolved.
 * @param port The server's TCP port.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_BAD_ADDRESS, changing
 *   nothing, when `ipv4_address` is not a dotted IPv4 address.
 */
VC_API vc_status VC_CALL vc_set_server(vc_controller* controller, const char* ipv4_address,
                                       uint16_t port);

/**
 * @brief Chooses how long the commands sent from now on wait: for the
 * connection, and for the answer. Until it is called both are 5000 ms.
 *
 * A command that runs out of its connect time-out reports "connect
 * error." on the calling thread, which it blocks that long at most; one
 * whose answer is not complete within the answer time-out, counted from
 * the moment the request went out, reports "timeout.". vc_error_detail()
 * names the time-out that ran out ("connect: no answer within 250 ms",
 * "no answer within 2 s"). A command already in flight keeps the
 * time-outs it started with. Like vc_set_server, it may not run beside
 * any other call on the same controller (nor in a callback of one of its
 * commands still in flight).
 *
 * @param controller The controller.
 * @param connect_ms How long a command waits for the connection, in
 *   milliseconds: 1 to 600000 (10 minutes).
 * @param answer_ms How long a command waits for the complete answer, in
 *   milliseconds: 1 to 600000.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_BAD_TIMEOUT, changing
 *   neither, when either lies outside 1 to 600000.
 */
VC_API vc_status VC_CALL vc_set_timeouts(vc_controller* controller, uint32_t connect_ms,
                                         uint32_t answer_ms);

/**
 * @brief Cancels the commands in flight that were issued with `tag`.
 *
 * Each of them stops at once: its connection is shut down (its connect
 * attempt, or its wait for the answer, ends), no callback of its result
 * follows, and its outcome is on_error with the text "cancelled." (detail
 * "cancelled by the host"), then on_done as for every command. That text
 * is reserved to cancelling: a host that never cancels never sees it. The
 * outcome comes on the thread that carried the command (the calling
 * thread of a command still connecting, a library thread otherwise), not
 * on the thread that cancels.
 *
 * May be called from any thread, also from inside a callback of the same
 * controller. A command whose outcome is already being delivered (the
 * caller may be inside one of its callbacks) is left as it is.
 *
 * @param controller The controller.
 * @param tag The tag the commands were issued with.
 * @return VC_OK when at least one command was cancelled;
 *   VC_ERROR_NOT_IN_FLIGHT when none with that tag was in flight;
 *   VC_ERROR_NULL_ARGUMENT.
 */
VC_API vc_status VC_CALL vc_cancel(vc_controller* controller, void* tag);

/**
 * @brief Chooses whether a command call may block the calling thread.
 *
 * 0 (the default): a command connects and sends on the calling thread,
 * blocking it for at most the connect time-out, and reports the failures
 * found before the request went out ("socket error.", "connect error.",
 * "send error.", "param error.") there, before it returns. 1: a command
 * only queues its request and returns at once; the connect, the send and
 * every outcome, those failures included, then come on a thread of the
 * library. Only when no such thread can be started does the outcome
 * ("timeout.") come on the calling thread. Commands already issued keep
 * the mode they were issued in. Like vc_set_server, it may not run beside
 * any other call on the same controller.
 *
 * @param controller The controller.
 * @param on 1: command calls never block; 0: as by default.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT.
 */
VC_API vc_status VC_CALL vc_set_nonblocking_calls(vc_controller* controller, int on);

/** @brief One log record, as vc_log_hook gets it. */
typedef struct vc_log_record {
  /** 1: a request as sent (what SendVoiceMsg.log records); 0: a complete
   * answer as received (RecvVoiceMsg.log). */
  int sent;
  /** The whole HTTP message, `length` bytes, not terminated; valid during
   * the call only. */
  const char* bytes;
  /** The count of bytes. */
  uint32_t length;
  /** The tag of the command. */
  void* tag;
  /** The request's number: 1, 2, ... per controller, in the order the
   * commands were issued while a hook was set; the same in its
   * vc_request_events. */
  uint64_t request_id;
} vc_log_record;

/** @brief Receives each log record; `user` is the pointer given to
 * vc_set_log_hook. */
typedef void(VC_CALL* vc_log_hook)(void* user, const vc_log_record* record);

/**
 * @brief Sends every log record of the commands issued from now on to the
 * host's `hook` instead of the two log files (or as well as, with
 * `keep_files` 1).
 *
 * The hook is called on the thread that sends the request (the calling
 * thread, or a library thread when calls never block) and on the thread
 * that receives its answer, so possibly on several at once. It must
 * return, and should be quick: the command waits for it. Like
 * vc_set_server, it may not run beside any other call on the same
 * controller.
 *
 * @param controller The controller.
 * @param hook The hook; NULL: none (the files are written again).
 * @param user Passed to every call of the hook.
 * @param keep_files 1: write the log files too; 0: the hook alone.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT.
 */
VC_API vc_status VC_CALL vc_set_log_hook(vc_controller* controller, vc_log_hook hook, void* user,
                                         int keep_files);

/** @brief The timeline of one command, as vc_event_hook gets it once the
 * command's outcome has been delivered (before its on_done).
 *
 * Every time is a monotonic clock's, in microseconds, comparable within
 * the process only; 0 when the command never reached that point. */
typedef struct vc_request_events {
  /** As vc_log_record's. */
  uint64_t request_id;
  /** The tag of the command. */
  void* tag;
  /** The command's FlowID: 1001 (vc_create) to 1006 (vc_dscall). */
  int32_t flow_id;
  /** The answer's HTTP status code; 0 without a status line. An answer
   * with status 4xx or 5xx that carries a well-formed message is still
   * delivered as a result: here is where its status shows. */
  int32_t http_status;
  int64_t queued_us;             /**< The command was called. */
  int64_t connect_started_us;    /**< The connection attempt began. */
  int64_t connected_us;          /**< The connection was made. */
  int64_t request_written_us;    /**< The request was handed to the system. */
  int64_t first_answer_byte_us;  /**< The answer's first byte was read. */
  int64_t answer_complete_us;    /**< The answer was complete. */
  int64_t outcome_delivered_us;  /**< The outcome's last callback returned. */
  uint64_t bytes_out;            /**< Bytes of the request sent. */
  uint64_t bytes_in;             /**< Bytes of the answer received. */
  /** The error text the command ended with; NULL when it ended in a
   * result. */
  const char* error_text;
  /** The error's detail, as vc_error_detail() gave it; "" when none. */
  const char* error_detail;
} vc_request_events;

/** @brief Receives each command's timeline; `user` is the pointer given to
 * vc_set_event_hook. */
typedef void(VC_CALL* vc_event_hook)(void* user, const vc_request_events* events);

/**
 * @brief Sends the timeline of every command issued from now on to the
 * host's `hook`, once its outcome has been delivered, on that outcome's
 * thread, before on_done.
 *
 * Without a hook (the default) the library reads no clock and allocates
 * nothing for timelines. The hook must return, and should be quick. Like
 * vc_set_server, it may not run beside any other call on the same
 * controller.
 *
 * @param controller The controller.
 * @param hook The hook; NULL: none.
 * @param user Passed to every call of the hook.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT.
 */
VC_API vc_status VC_CALL vc_set_event_hook(vc_controller* controller, vc_event_hook hook,
                                           void* user);

/**
 * @name Driving the library from the host's own loop
 *
 * A controller made host-driven by vc_use_host_loop starts no thread, ever:
 * its sockets are non-blocking, and the host's event loop (a poll or epoll
 * loop, Qt, GLib, libuv, Asio, asyncio, a Win32 message loop) carries its
 * commands. The host waits on ONE thing per controller, the descriptor of
 * vc_loop_descriptor, for at most vc_next_timeout_ms, and then calls
 * vc_process, which never blocks:
 *
 * @code
 *   vc_use_host_loop(ctl);
 *   struct pollfd p = {(int)vc_loop_descriptor(ctl), POLLIN, 0};
 *   vc_qall(ctl, tag);
 *   while (commands_in_flight) {
 *     poll(&p, 1, vc_next_timeout_ms(ctl));   // -1: no deadline pending
 *     vc_process(ctl);                         // the callbacks run here
 *   }
 * @endcode
 *
 * Why one descriptor, and not a watch hook per socket and a timer hook as
 * libcurl's multi_socket interface and c-ares' socket-state callback have:
 * every loop a host uses can watch one descriptor with one call
 * (QSocketNotifier, g_unix_fd_add, uv_poll, an Asio descriptor,
 * loop.add_reader), nothing is registered or unregistered per command, and
 * there is no hook to call back into the host from inside a command call,
 * whose failure would need a path of its own. The library keeps its
 * sockets in a set of its own (epoll on Linux, WSAEventSelect on Windows)
 * and the host pays one system call per wake-up, whatever the number of
 * commands in flight. The descriptor is readable (Linux) or the event
 * signalled (Windows) while some command can move on.
 *
 * The rules:
 * - Every callback of a host-driven command, and its log and event hooks,
 *   run inside vc_process, on its thread; the failures a command call
 *   finds itself ("param error.", "socket error.", a connect refused at
 *   once) too: the call returns VC_OK and makes the descriptor ready. The
 *   one exception is vc_controller_destroy (below).
 * - The commands, vc_process, vc_next_timeout_ms and vc_loop_descriptor of
 *   one controller belong to one thread at a time (normally the loop's);
 *   vc_wakeup and vc_cancel may be called from any thread.
 * - A callback may issue commands, cancel, call vc_process again, or
 *   destroy the controller.
 * - The time-outs of vc_set_timeouts hold as in the other modes: "connect
 *   error." when the connect takes longer, "timeout." when the answer is
 *   not complete within the answer time-out after the request went out; a
 *   server that takes no more of the request for that long gives "send
 *   error.". Deadlines are ended by vc_process, so call it when
 *   vc_next_timeout_ms says, and ask it again after every vc_process. A
 *   command called outside vc_process whose deadline comes before the
 *   time vc_next_timeout_ms last gave makes the descriptor ready, so a
 *   timer armed before it is never too late (one called before the host
 *   has asked since the last vc_process does not need to).
 * - vc_controller_destroy does not wait: every command still in flight
 *   ends at once with on_error "cancelled." (detail "the controller was
 *   destroyed with the command in flight") and on_done, inside the destroy
 *   call. Called from a callback, the rest of that command's outcome
 *   (further entries, its event hook, on_done) still follows after destroy
 *   returns, and the vc_process running then returns without touching the
 *   controller. The descriptor is closed with the controller, or when that
 *   vc_process returns: remove it from the loop before.
 * - On Windows, answers are read into the system's XML DOM on the thread
 *   that calls vc_process: COM must be initialised on it (CoInitializeEx),
 *   else every answer fails with "init http parse.".
 * - When the library cannot watch a command's socket (the system refuses
 *   it a place in its set), that command ends with "socket error." (detail
 *   "the socket cannot be watched: ..."), or, after its request went out,
 *   "timeout." ("the answer cannot be awaited: ..."); never without an
 *   outcome.
 * @{
 */

/**
 * @brief Makes the controller host-driven (see above) for the rest of its
 * life; commands issued before keep their threads.
 *
 * Like vc_set_server, it may not run beside any other call on the same
 * controller. Calling it again does nothing.
 *
 * @param controller The controller.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_NO_RESOURCES when the
 *   system has no descriptor left (the controller is as before).
 */
VC_API vc_status VC_CALL vc_use_host_loop(vc_controller* controller);

/**
 * @brief What the host's loop waits on.
 *
 * On Linux a file descriptor (cast it to int) to watch for readability;
 * on Windows the HANDLE of an event object (cast it to HANDLE) to wait on
 * (WaitForMultipleObjects, MsgWaitForMultipleObjects, QWinEventNotifier).
 * Never read from it or close it; it stays the same for the controller's
 * life.
 *
 * @param controller The controller.
 * @return The descriptor; -1 for NULL or a controller that is not
 *   host-driven.
 */
VC_API intptr_t VC_CALL vc_loop_descriptor(const vc_controller* controller);

/**
 * @brief How long the host's loop may wait on the descriptor before it
 * must call vc_process anyway.
 *
 * @param controller The controller.
 * @return Milliseconds; 0 when vc_process has work now; -1 when no
 *   deadline is pending (wait for the descriptor alone), also for NULL or a
 *   controller that is not host-driven.
 */
VC_API int32_t VC_CALL vc_next_timeout_ms(const vc_controller* controller);

/**
 * @brief Moves every command on that can move (its connect done, its
 * request written, its answer read as far as it has come), ends those
 * whose time-out has run out, and delivers their outcomes through the
 * callbacks, on the calling thread. Never waits.
 *
 * Call it when the descriptor is ready, when vc_next_timeout_ms has
 * passed, or at any other time (it then may find nothing to do).
 *
 * @param controller The controller.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_NOT_HOST_DRIVEN;
 *   VC_ERROR_OUT_OF_MEMORY when memory ran out (the commands it could not
 *   move on are moved on by a later call).
 */
VC_API vc_status VC_CALL vc_process(vc_controller* controller);

/**
 * @brief From any thread: makes the descriptor ready, so that the loop
 * waiting on it wakes; the next vc_process returns after one pass.
 *
 * For a host whose other threads hand its loop work (commands to issue on
 * the loop's thread, say). Not after vc_controller_destroy has begun.
 *
 * @param controller The controller.
 * @return VC_OK; VC_ERROR_NULL_ARGUMENT; VC_ERROR_NOT_HOST_DRIVEN.
 */
VC_API vc_status VC_CALL vc_wakeup(vc_controller* controller);

/** @} */

/**
 * @brief Sends CREATE (FlowID 1001); the answer comes to on_command_result.
 * @param controller The controller.
 * @param a First value; usually the id of the new session.
 * @param b Second value; usually its owner.
 * @param c Third value; usually its title.
 * @param d Fourth value; usually its members, e.g. "alice,bob".
 * @param tag Passed to every callback of this command's outcome.
 * @return VC_OK (then exactly one outcome and on_done follow);
 *   VC_ERROR_NULL_ARGUMENT; VC_ERROR_OUT_OF_MEMORY; VC_ERROR_INTERNAL.
 */
VC_API vc_status VC_CALL vc_create(vc_controller* controller, const char* a, const char* b,
                                   const char* c, const char* d, void* tag);

/**
 * @brief Sends KICK (FlowID 1002); the answer comes to on_command_result.
 * @param controller The controller.
 * @param a First value; usually the id of the session.
 * @param b Second value; usually the member to remove.
 * @param tag Passed to every callback of this command's outcome.
 * @return As vc_create.
 */
VC_API vc_status VC_CALL vc_kick(vc_controller* controller, const char* a, const char* b,
                                 void* tag);

/**
 * @brief Sends CHANGE (FlowID 1003); the answer comes to on_command_result.
 * @param controller The controller.
 * @param a First value; usually the id of the session.
 * @param b Second value; usually the member whose setting changes.
 * @param n Third value, sent in decimal digits; usually the new setting.
 * @param tag Passed to every callback of this command's outcome.
 * @return As vc_create.
 */
VC_API vc_status VC_CALL vc_change(vc_controller* controller, const char* a, const char* b,
                                   uint16_t n, void* tag);

/**
 * @brief Sends QALL (FlowID 1004); the answer comes as one on_qall_entry
 * per entry, or on_qall_empty.
 * @param controller The controller.
 * @param tag Passed to every callback of this command's outcome.
 * @return As vc_create.
 */
VC_API vc_status VC_CALL vc_qall(vc_controller* controller, void* tag);

/**
 * @brief Sends QSINGLE (FlowID 1005); the answer comes to
 * on_qsingle_result.
 * @param controller The controller.
 * @param a The value; usually the id of the session to describe.
 * @param tag Passed to every callback of this command's outcome.
 * @return As vc_create.
 */
VC_API vc_status VC_CALL vc_qsingle(vc_controller* controller, const char* a, void* tag);

/**
 * @brief Sends DSCALL (FlowID 1006) with a, b and the local date and time
 * `duration_seconds` from now ("YYYY-MM-DD hh:mm:ss"); the answer comes to
 * on_command_result.
 * @param controller The controller.
 * @param a First value; usually the id of the session.
 * @param b Second value; usually the member who ends it.
 * @param duration_seconds How far from now the end time lies, in seconds.
 * @param tag Passed to every callback of this command's outcome.
 * @return As vc_create.
 */
VC_API vc_status VC_CALL vc_dscall(vc_controller* controller, const char* a, const char* b,
                                   uint32_t duration_seconds, void* tag);

#ifdef __cplusplus
}
#endif

#endif /* VOICECONTROL_VOICECONTROL_H_ */
