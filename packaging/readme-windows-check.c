/*
 * readme-windows-check: what README-windows.txt tells a Windows host to do,
 * checked under Windows (or Wine in its default locale, code page 1252).
 *
 *   readme-windows-check.exe ADDRESS PORT      against `voicectl serve` (UTF-8 answers)
 *
 * 1. Without Windows Sockets initialised, a command cannot even connect: it
 *    ends in an error.
 * 2. Without COM initialised, no answer can be read: the command ends in an
 *    error.
 * 3. With both initialised (multithreaded), a session titled "会" is created
 *    and its title read back with QSINGLE twice: before vc_set_code_page the
 *    UTF-8 answer is decoded with the system's ANSI code page, so the title
 *    comes back as the three characters "ä¼š"; after vc_set_code_page("UTF-8")
 *    it comes back as "会".
 * Exits 0 when all of it holds.
 */
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <voicecontrol/voicecontrol.h>

typedef struct answer {
  HANDLE done;
  int failed; /* on_error came */
  char title[64]; /* QSINGLE's fourth value, or the error text */
} answer;

static void copy(char* out, const char* text) {
  strncpy(out, text, 63);
  out[63] = '\0';
}
static void VC_CALL on_error(void* user, void* tag, const char* text) {
  (void)user;
  ((answer*)tag)->failed = 1;
  copy(((answer*)tag)->title, text);
}
static void VC_CALL on_qall_empty(void* user, void* tag) {
  (void)user;
  copy(((answer*)tag)->title, "(no entries)");
}
static void VC_CALL on_qall_entry(void* user, void* tag, const char* const* fields) {
  (void)user;
  copy(((answer*)tag)->title, fields[0]);
}
static void VC_CALL on_qsingle(void* user, void* tag, const char* const* values) {
  (void)user;
  copy(((answer*)tag)->title, values[3]);
}
static void VC_CALL on_done(void* user, void* tag) {
  (void)user;
  SetEvent(((answer*)tag)->done);
}

/* Reads the session's title with QSINGLE and waits for the outcome. */
static void title_of(vc_controller* controller, const char* session, answer* a) {
  a->title[0] = '\0';
  if (vc_qsingle(controller, session, a) == VC_OK) WaitForSingleObject(a->done, 10000);
}

/* Issues QALL, which must end in an error since `what` is not initialised. */
static int fails_without(vc_controller* controller, answer* a, const char* what) {
  a->title[0] = '\0';
  a->failed = 0;
  if (vc_qall(controller, a) == VC_OK) WaitForSingleObject(a->done, 10000);
  printf("%s without %s: %s \"%s\"\n", a->failed ? "ok  " : "FAIL", what,
         a->failed ? "an error," : "no error but", a->title);
  return a->failed;
}

static int expect(const char* what, const char* got, const char* wanted) {
  int ok = strcmp(got, wanted) == 0;
  printf("%s %s: got \"%s\"\n", ok ? "ok  " : "FAIL", what, got);
  return ok;
}

int main(int argc, char** argv) {
  static const char kTitle[] = "\xE4\xBC\x9A";                /* 会 in UTF-8 */
  static const char kMisread[] = "\xC3\xA4\xC2\xBC\xC5\xA1";  /* ä¼š in UTF-8 */
  WSADATA wsa;
  vc_callbacks callbacks;
  vc_controller* controller;
  answer a;
  char session[32];
  int ok = 1;

  if (argc != 3) {
    fprintf(stderr, "usage: readme-windows-check ADDRESS PORT\n");
    return 2;
  }
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.on_error = on_error;
  callbacks.on_qall_empty = on_qall_empty;
  callbacks.on_qall_entry = on_qall_entry;
  callbacks.on_qsingle_result = on_qsingle;
  callbacks.on_done = on_done;
  controller = vc_controller_create(&callbacks, NULL);
  if (controller == NULL || vc_set_server(controller, argv[1], (uint16_t)atoi(argv[2])) != VC_OK) {
    fprintf(stderr, "readme-windows-check: cannot start\n");
    return 2;
  }
  a.done = CreateEventA(NULL, FALSE, FALSE, NULL);
  sprintf(session, "cp-%lu", (unsigned long)GetCurrentProcessId());
  printf("ANSI code page %u\n", GetACP());

  ok &= fails_without(controller, &a, "Windows Sockets");
  WSAStartup(MAKEWORD(2, 2), &wsa);
  ok &= fails_without(controller, &a, "COM");
  CoInitializeEx(NULL, COINIT_MULTITHREADED);

  if (vc_create(controller, session, "alice", kTitle, "alice", &a) == VC_OK) {
    WaitForSingleObject(a.done, 10000);
  }
  title_of(controller, session, &a);
  ok &= expect("before vc_set_code_page", a.title, kMisread);
  ok &= vc_set_code_page("UTF-8") == VC_OK;
  title_of(controller, session, &a);
  ok &= expect("after vc_set_code_page(\"UTF-8\")", a.title, kTitle);

  vc_controller_destroy(controller);
  CloseHandle(a.done);
  return ok ? 0 : 1;
}
