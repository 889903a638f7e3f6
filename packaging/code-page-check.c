/*
 * code-page-check: what README-windows.txt says about code pages, checked
 * under Windows (or Wine in its default locale, code page 1252).
 *
 *   code-page-check.exe ADDRESS PORT      against `voicectl serve` (UTF-8 answers)
 *
 * Creates a session titled "会" and reads the title back with QSINGLE twice:
 * before vc_set_code_page the UTF-8 answer is decoded with the system's ANSI
 * code page, so the title comes back as the three characters "ä¼š"; after
 * vc_set_code_page("UTF-8") it comes back as "会". Exits 0 when both hold.
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
  char title[64]; /* QSINGLE's fourth value, or the error text */
} answer;

static void copy(char* out, const char* text) {
  strncpy(out, text, 63);
  out[63] = '\0';
}
static void VC_CALL on_error(void* user, void* tag, const char* text) {
  (void)user;
  copy(((answer*)tag)->title, text);
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
    fprintf(stderr, "usage: code-page-check ADDRESS PORT\n");
    return 2;
  }
  WSAStartup(MAKEWORD(2, 2), &wsa);
  CoInitializeEx(NULL, COINIT_MULTITHREADED);
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.on_error = on_error;
  callbacks.on_command_result = NULL;
  callbacks.on_qsingle_result = on_qsingle;
  callbacks.on_done = on_done;
  controller = vc_controller_create(&callbacks, NULL);
  if (controller == NULL || vc_set_server(controller, argv[1], (uint16_t)atoi(argv[2])) != VC_OK) {
    fprintf(stderr, "code-page-check: cannot start\n");
    return 2;
  }
  a.done = CreateEventA(NULL, FALSE, FALSE, NULL);
  sprintf(session, "cp-%lu", (unsigned long)GetCurrentProcessId());
  printf("ANSI code page %u\n", GetACP());

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
