/*
 * voicecontrol's C interface: the controller for hosts written in C, or in
 * any language that can call C functions (C#, Python's ctypes, ...), and for
 * hosts built with a compiler other than the library's (MSVC on Windows).
 *
 * It is a thin layer over the C++ VoiceController and keeps every rule of
 * it: each command that returns VC_OK ends in exactly one outcome (one
 * error, one result, one "no entries", or the entries of one QAll answer),
 * delivered through the callbacks below; an answer is awaited for at most
 * 5 seconds ("timeout."); the error texts are the library's own ("socket
 * error.", "connect error.", "send error.", "timeout.", "init http parse.",
 * "decode.", "param error.", "bad message.").
 *
 * Texts. Every string crosses as NUL-terminated UTF-8, in both directions
 * and on every platform. A string handed to a callback is valid only during
 * that call: copy what you keep. In a text that is not valid UTF-8 each bad
 * sequence is read as U+FFFD.
 *
 * Threads. Failures to create a socket, to connect or to send (and "param
 * error.") are reported on the calling thread, before the command returns;
 * everything else arrives on a receive thread of the library. Several
 * commands may be in flight at once, so callbacks may run on several
 * threads at the same time. No lock of the library is held during a
 * callback: a callback may issue further commands. The commands of one
 * controller may be called from several threads at once; vc_set_server
 * and vc_controller_destroy may not run beside any other call on the same
 * controller.
 *
 * Tags. Every command takes a `tag` of the caller's, passed unchanged to
 * each callback of that command's outcome, so that outcomes of commands of
 * the same kind in flight at once can be told apart. After the outcome,
 * on_done tells that the command is finished and its tag no longer used.
 *
 * Errors of the functions themselves: a function that returns a vc_status
 * other than VC_OK has done nothing and will call no callback.
 */
#ifndef VOICECONTROL_VOICECONTROL_H_
#define VOICECONTROL_VOICECONTROL_H_

#include <stdint.h>

#include <voicecontrol/export.h>

#if defined(_WIN32)
#define VC_CALL __cdecl
#else
#define VC_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the functions below. */
typedef enum vc_status {
  VC_OK = 0,
  /* The controller or a string argument was NULL. */
  VC_ERROR_NULL_ARGUMENT = -1,
  /* Memory ran out; nothing was sent. */
  VC_ERROR_OUT_OF_MEMORY = -2,
  /* The library failed in a way it cannot describe further; nothing was
   * sent. */
  VC_ERROR_INTERNAL = -3,
  /* vc_set_code_page: a code page name the library does not know, or one
   * the system cannot convert. */
  VC_ERROR_UNKNOWN_CODE_PAGE = -4
} vc_status;

/* The callbacks of a controller. A NULL member means "not interested":
 * that outcome is then dropped. `user` is the pointer given to
 * vc_controller_create, `tag` the one given to the command. */
typedef struct vc_callbacks {
  /* Any failure, with one of the error texts listed above. */
  void(VC_CALL* on_error)(void* user, void* tag, const char* text);
  /* The answer to create (flow_id 1001), kick (1002), change (1003) or
   * dscall (1006): the server's result code and text. */
  void(VC_CALL* on_command_result)(void* user, void* tag, int32_t flow_id, int32_t code,
                                   const char* text);
  /* A qall answer without entries. */
  void(VC_CALL* on_qall_empty)(void* user, void* tag);
  /* One entry of a qall answer: 8 strings. Called once per entry, in order,
   * on one thread. */
  void(VC_CALL* on_qall_entry)(void* user, void* tag, const char* const* fields);
  /* The answer to qsingle: 18 strings. */
  void(VC_CALL* on_qsingle_result)(void* user, void* tag, const char* const* values);
  /* Called once for every command that returned VC_OK, after the last
   * callback of its outcome has returned (on that callback's thread, or on
   * the calling thread before the command returns): the command is
   * finished, the library no longer uses its tag, and no further entries
   * of a qall answer will come. */
  void(VC_CALL* on_done)(void* user, void* tag);
} vc_callbacks;

typedef struct vc_controller vc_controller;

/* The library's version, "MAJOR.MINOR.PATCH". */
VC_API const char* VC_CALL vc_version(void);

/* The code page answers are read with, for the whole process, as the C++
 * voicecontrol::SetCodePage: "UTF-8", "GB18030", "GBK", "GB2312", "BIG5",
 * "SHIFT_JIS", "EUC-KR", "WINDOWS-1252" (any letter case). Until it is
 * called: UTF-8 on Linux, the system's ANSI code page on Windows. Call it
 * before the first command. It changes only how answers are decoded: the
 * strings of this interface are UTF-8 whatever the code page. */
VC_API vc_status VC_CALL vc_set_code_page(const char* name);

/* A new controller with a copy of `callbacks` (NULL: no callbacks at all).
 * NULL when memory ran out. */
VC_API vc_controller* VC_CALL vc_controller_create(const vc_callbacks* callbacks, void* user);

/* Destroys the controller after waiting for the answers still in flight
 * (at most their 5-second time-out); their outcomes, and on_done, are
 * delivered first. May be called from a callback of the controller: the
 * rest of that command's outcome (further qall entries, on_done) then still
 * follows. NULL is ignored. */
VC_API void VC_CALL vc_controller_destroy(vc_controller* controller);

/* The server: an IPv4 address in dotted form and a TCP port. Set it before
 * the first command. */
VC_API vc_status VC_CALL vc_set_server(vc_controller* controller, const char* ipv4_address,
                                       uint16_t port);

/* The six commands. A text whose UTF-8 form exceeds 255 bytes is refused
 * with "param error." through on_error (the call still returns VC_OK). */
VC_API vc_status VC_CALL vc_create(vc_controller* controller, const char* a, const char* b,
                                   const char* c, const char* d, void* tag);
VC_API vc_status VC_CALL vc_kick(vc_controller* controller, const char* a, const char* b,
                                 void* tag);
VC_API vc_status VC_CALL vc_change(vc_controller* controller, const char* a, const char* b,
                                   uint16_t n, void* tag);
VC_API vc_status VC_CALL vc_qall(vc_controller* controller, void* tag);
VC_API vc_status VC_CALL vc_qsingle(vc_controller* controller, const char* a, void* tag);
/* Sends a, b and the local date and time `duration_seconds` from now. */
VC_API vc_status VC_CALL vc_dscall(vc_controller* controller, const char* a, const char* b,
                                   uint32_t duration_seconds, void* tag);

#ifdef __cplusplus
}
#endif

#endif /* VOICECONTROL_VOICECONTROL_H_ */
