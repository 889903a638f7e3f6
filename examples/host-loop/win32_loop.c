/*
 * win32-loop: a Win32 GUI-style host that drives voicecontrol from its
 * thread's message loop, with no thread of the library (vc_use_host_loop).
 *
 *   win32-loop ADDRESS PORT [ADMIN_PORT]
 *
 * The loop is the one a GUI thread runs anyway, with the controller's event
 * object as one more thing to wait on:
 *
 *   MsgWaitForMultipleObjectsEx(1, &event, vc_next_timeout_ms(), QS_ALLINPUT, ...)
 *   event signalled or time-out due:  vc_process()   (the callbacks run here)
 *   window messages:                  PeekMessage / DispatchMessage
 *
 * Commands come from everywhere a GUI sends them: a posted WM_APP message
 * starts the first ones, each on_done sends the next, a WM_TIMER adds
 * more, and a second thread hands commands over in the two ways such a
 * thread has: a WM_APP message posted to the loop's window, or a queue of
 * its own plus vc_wakeup, which signals the event the loop waits on. The
 * last on_done destroys the controller and ends the loop.
 *
 * With ADMIN_PORT (`voicectl serve --admin`), the server is reset and
 * every tenth request it receives gets a fault, from a table that also
 * says how the command ends; the outcomes must then match it exactly.
 *
 * Checks that every command ended in exactly one outcome and one on_done,
 * all on this thread inside vc_process, and that the process has no more
 * threads after the run than before (Toolhelp32: the library starts none).
 * Prints one summary line. Exit status 0 when every check holds, 1 when one
 * does not (each failure named on stderr), 2 on a bad command line or a
 * failed start.
 */
/* winsock2.h before windows.h, which the others need */
/* clang-format off */
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>
/* clang-format on */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <voicecontrol/voicecontrol.h>

#define COMMANDS 400   /* in all */
#define HANDED 40      /* of them handed over by the second thread */
#define TIMED 20       /* of them sent from WM_TIMER, one a tick */
#define IN_FLIGHT 12   /* kept in flight by on_done */
#define ANSWER_MS 2000 /* the answer time-out */
#define FAULT_EVERY 10 /* with ADMIN_PORT: every tenth request gets a fault */
#define WATCHDOG_MS 120000

enum { kWmStart = WM_APP, kWmSend = WM_APP + 1 }; /* kWmSend: wParam is the kind */
enum { kTimerSend = 1, kTimerWatchdog = 2 };
enum { kFromDone, kFromStart, kFromTimer, kFromPosted, kFromWakeup, kSources };
enum { kQSingle, kQAll, kCreate, kKick, kChange, kDSCall, kKinds };
static const char* const kKindNames[kKinds] = {"QSingle", "QAll",   "Create",
                                               "Kick",    "Change", "DSCall"};

/* The faults, in turn, and the outcome each ends in ("result": an answer
 * delivered to its callback). */
static const struct {
  const char* json;
  const char* outcome;
} kFaults[] = {
    {"{\"close_early\": true}", "timeout."},
    {"{\"garbage\": true}", "bad message."},
    {"{\"delay_ms\": 4000}", "timeout."}, /* beyond ANSWER_MS: ended by the deadline */
    {"{\"dribble_bytes\": 16, \"dribble_ms\": 2}", "result"},
    {"{\"reset_before_headers\": true}", "timeout."},
    {"{\"oversize\": true}", "decode."},
    {"{\"http10\": true}", "decode."},
    {"{\"status\": 500}", "result"},
    {"{\"flow_id\": 2000}", "bad message."},
};
#define FAULT_KINDS (sizeof kFaults / sizeof kFaults[0])

typedef struct tally {
  char text[32]; /* "result" or an error text */
  long got, expected;
} tally;

typedef struct command {
  unsigned char kind, outcomes, entries, done;
} command;

typedef struct host {
  vc_controller* ctl;
  HWND window;
  DWORD loop_thread;
  int in_process;       /* inside vc_process */
  long sent, in_flight; /* tags are 1..sent */
  long own_left;        /* commands the start and on_done still send */
  long timed_left;      /* commands WM_TIMER still sends */
  long handed_sent;     /* commands of the second thread sent */
  long refused, strays; /* calls that did not return VC_OK; misplaced callbacks */
  long by_source[kSources];
  command commands[COMMANDS + 1];
  tally tallies[16];
  HANDLE worker;
  CRITICAL_SECTION lock; /* guards the two below */
  int pending[HANDED];   /* kinds handed over through vc_wakeup, not yet sent */
  int pending_count;
  long threads_before, threads_with_worker, threads_after;
  int destroyed_in_callback, timed_out;
} host;

static int failures;

static void fail(const char* what, long got, long expected) {
  fprintf(stderr, "win32-loop: FAILED: %s: %ld, expected %ld\n", what, got, expected);
  ++failures;
}

/* The process's threads, counted in a Toolhelp32 snapshot; -1 when none
 * can be taken. */
static long thread_count(void) {
  const DWORD self = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  long count = 0;
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  entry.dwSize = sizeof entry;
  if (Thread32First(snapshot, &entry)) {
    do {
      count += entry.th32OwnerProcessID == self;
      entry.dwSize = sizeof entry;
    } while (Thread32Next(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return count;
}

static tally* tally_of(host* h, const char* text) {
  size_t i;
  for (i = 0; i < sizeof h->tallies / sizeof h->tallies[0] - 1; ++i) {
    tally* t = &h->tallies[i];
    if (t->text[0] == '\0') snprintf(t->text, sizeof t->text, "%s", text);
    if (strcmp(t->text, text) == 0) return t;
  }
  return &h->tallies[i]; /* the last one takes what does not fit */
}

/* Sends a command of `kind`; its tag is its number. */
static void send_command(host* h, int kind, int source) {
  const intptr_t number = ++h->sent;
  void* tag = (void*)number;
  char session[16];
  vc_status status = VC_ERROR_INTERNAL;
  if (number > COMMANDS) {
    fail("commands sent", (long)number, COMMANDS);
    return;
  }
  snprintf(session, sizeof session, "s%d", (int)(number % 25));
  h->commands[number].kind = (unsigned char)kind;
  switch (kind) {
    case kQSingle:
      status = vc_qsingle(h->ctl, session, tag);
      break;
    case kQAll:
      status = vc_qall(h->ctl, tag);
      break;
    case kCreate:
      status = vc_create(h->ctl, session, "alice", "weekly sync", "alice,bob", tag);
      break;
    case kKick:
      status = vc_kick(h->ctl, session, "bob", tag);
      break;
    case kChange:
      status = vc_change(h->ctl, session, "alice", 3, tag);
      break;
    case kDSCall:
      status = vc_dscall(h->ctl, session, "alice", 60, tag);
      break;
  }
  ++h->by_source[source];
  if (status == VC_OK) {
    ++h->in_flight;
  } else {
    ++h->refused;
  }
}

static void send_own(host* h, int source) {
  --*(source == kFromTimer ? &h->timed_left : &h->own_left);
  send_command(h, (int)((h->sent + 1) % kKinds), source);
}

/* What the second thread queued and woke the loop for. */
static void take_handed(host* h) {
  int kinds[HANDED], count, i;
  EnterCriticalSection(&h->lock);
  count = h->pending_count;
  memcpy(kinds, h->pending, sizeof kinds[0] * (size_t)count);
  h->pending_count = 0;
  LeaveCriticalSection(&h->lock);
  for (i = 0; i < count; ++i) {
    ++h->handed_sent;
    send_command(h, kinds[i], kFromWakeup);
  }
}

/* Every callback starts here: it must come inside vc_process, on the
 * loop's thread, for a command in flight, before its on_done. */
static command* arrived(host* h, void* tag) {
  const intptr_t number = (intptr_t)tag;
  if (!h->in_process || GetCurrentThreadId() != h->loop_thread || h->ctl == NULL) ++h->strays;
  if (number < 1 || number > h->sent || h->commands[number].done) {
    ++h->strays;
    return &h->commands[0];
  }
  return &h->commands[number];
}

static void outcome(host* h, void* tag, const char* text) {
  ++arrived(h, tag)->outcomes;
  ++tally_of(h, text)->got;
}

static void VC_CALL on_error(void* user, void* tag, const char* text) {
  outcome((host*)user, tag, text);
}

static void VC_CALL on_command_result(void* user, void* tag, int32_t flow_id, int32_t code,
                                      const char* text) {
  (void)flow_id, (void)code, (void)text;
  outcome((host*)user, tag, "result");
}

static void VC_CALL on_qall_empty(void* user, void* tag) { outcome((host*)user, tag, "result"); }

static void VC_CALL on_qall_entry(void* user, void* tag, const char* const* fields) {
  host* h = (host*)user;
  command* c = arrived(h, tag);
  (void)fields;
  if (c->entries++ == 0) outcome(h, tag, "result"); /* the entries are one outcome */
}

static void VC_CALL on_qsingle_result(void* user, void* tag, const char* const* values) {
  (void)values;
  outcome((host*)user, tag, "result");
}

static void VC_CALL on_done(void* user, void* tag) {
  host* h = (host*)user;
  ++arrived(h, tag)->done;
  --h->in_flight;
  if (h->own_left > 0) send_own(h, kFromDone);
  if (h->in_flight > 0 || h->own_left > 0 || h->timed_left > 0 || h->handed_sent < HANDED) {
    return;
  }
  /* The last one. The second thread has handed everything over; once it
   * has returned, the process has the threads it started with, or the
   * library kept one. Then the controller goes, from its own callback. */
  WaitForSingleObject(h->worker, 10000);
  h->threads_after = thread_count();
  vc_controller_destroy(h->ctl);
  h->ctl = NULL;
  h->destroyed_in_callback = 1;
  PostQuitMessage(0);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  host* h = (host*)GetWindowLongPtrA(window, GWLP_USERDATA);
  if (h == NULL || h->ctl == NULL) return DefWindowProcA(window, message, w, l);
  switch (message) {
    case kWmStart:
      while (h->own_left > 0 && h->in_flight < IN_FLIGHT) send_own(h, kFromStart);
      return 0;
    case kWmSend:
      ++h->handed_sent;
      send_command(h, (int)w, kFromPosted);
      return 0;
    case WM_TIMER:
      if (w == kTimerSend && h->timed_left > 0) {
        send_own(h, kFromTimer);
      } else if (w == kTimerWatchdog) {
        h->timed_out = 1;
        PostQuitMessage(1);
      }
      return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

/* The second thread: hands HANDED commands to the loop's thread, which
 * alone sends them, half as posted messages and half through its own
 * queue and vc_wakeup. */
static DWORD WINAPI hand_over(void* user) {
  host* h = (host*)user;
  vc_controller* ctl = h->ctl;
  int i;
  for (i = 0; i < HANDED; ++i) {
    Sleep(5);
    if (i % 2 == 0) {
      PostMessageA(h->window, kWmSend, (WPARAM)(i % kKinds), 0);
      continue;
    }
    EnterCriticalSection(&h->lock);
    h->pending[h->pending_count++] = i % kKinds;
    /* Under the lock: the loop cannot take this command, let alone finish
     * the run and destroy the controller, before vc_wakeup has returned. */
    if (vc_wakeup(ctl) != VC_OK) ++h->refused;
    LeaveCriticalSection(&h->lock);
  }
  return 0;
}

/* One request to the admin interface, answered 200 or not; the interface
 * closes every connection after its answer. */
static int admin_post(uint16_t port, const char* path, const char* body) {
  char request[512], answer[512];
  struct sockaddr_in peer;
  int length, got, total = 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return 0;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  length = snprintf(request, sizeof request,
                    "POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                    "Content-Length: %u\r\n\r\n%s",
                    path, (unsigned)strlen(body), body);
  if (connect(s, (struct sockaddr*)&peer, sizeof peer) != 0 ||
      send(s, request, length, 0) != length) {
    closesocket(s);
    return 0;
  }
  while (total < (int)sizeof answer - 1 &&
         (got = recv(s, answer + total, (int)sizeof answer - 1 - total, 0)) > 0) {
    total += got;
  }
  closesocket(s);
  answer[total] = '\0';
  return strncmp(answer, "HTTP/1.1 200 ", 13) == 0;
}

/* Resets the server and plans its faults; sets what each outcome is
 * expected to count. */
static int plan_faults(host* h, uint16_t admin_port) {
  char body[256];
  long faulted = 0;
  int n;
  if (!admin_post(admin_port, "/api/reset", "{}")) return 0;
  for (n = FAULT_EVERY; n <= COMMANDS; n += FAULT_EVERY) {
    const size_t which = (size_t)(n / FAULT_EVERY - 1) % FAULT_KINDS;
    snprintf(body, sizeof body, "{\"request\": %d, \"fault\": %s}", n, kFaults[which].json);
    if (!admin_post(admin_port, "/api/queue", body)) return 0;
    ++tally_of(h, kFaults[which].outcome)->expected;
    ++faulted;
  }
  tally_of(h, "result")->expected += COMMANDS - faulted;
  return 1;
}

/* The message loop, until WM_QUIT. */
static void run_loop(host* h) {
  MSG message;
  for (;;) {
    DWORD woke = WAIT_TIMEOUT;
    if (h->ctl != NULL) {
      HANDLE event = (HANDLE)vc_loop_descriptor(h->ctl);
      const int32_t ms = vc_next_timeout_ms(h->ctl);
      woke = MsgWaitForMultipleObjectsEx(1, &event, ms < 0 ? INFINITE : (DWORD)ms, QS_ALLINPUT,
                                         MWMO_INPUTAVAILABLE);
    } else {
      WaitMessage();
    }
    /* A steady stream of messages would keep MsgWait from reporting the
     * time-out: a deadline that is due is asked for as well. */
    if (h->ctl != NULL &&
        (woke == WAIT_OBJECT_0 || woke == WAIT_TIMEOUT || vc_next_timeout_ms(h->ctl) == 0)) {
      h->in_process = 1;
      vc_process(h->ctl);
      h->in_process = 0;
    }
    if (h->ctl != NULL) take_handed(h);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

int main(int argc, char** argv) {
  static host h; /* zeroed */
  vc_callbacks callbacks = {on_error,      on_command_result, on_qall_empty,
                            on_qall_entry, on_qsingle_result, on_done};
  WNDCLASSA window_class;
  WSADATA wsa;
  const char* address;
  uint16_t port, admin_port = 0;
  long i;
  size_t t;
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: win32-loop ADDRESS PORT [ADMIN_PORT]\n");
    return 2;
  }
  address = argv[1];
  port = (uint16_t)atoi(argv[2]);
  if (argc == 4) admin_port = (uint16_t)atoi(argv[3]);
  /* A GUI thread: a single-threaded COM apartment, which the library's
   * answers (read into the system's XML DOM inside vc_process) need. */
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 ||
      FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) {
    fprintf(stderr, "win32-loop: Windows Sockets or COM cannot be initialised\n");
    return 2;
  }
  if (admin_port != 0 && !plan_faults(&h, admin_port)) {
    fprintf(stderr, "win32-loop: the admin interface on port %u cannot plan the faults\n",
            (unsigned)admin_port);
    return 2;
  }
  if (admin_port == 0) tally_of(&h, "result")->expected = COMMANDS;

  /* A window that is never shown and receives no broadcasts: what a host
   * needs for its timers and posted messages. */
  memset(&window_class, 0, sizeof window_class);
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleA(NULL);
  window_class.lpszClassName = "voicecontrol-win32-loop";
  h.loop_thread = GetCurrentThreadId();
  h.own_left = COMMANDS - HANDED - TIMED;
  h.timed_left = TIMED;
  InitializeCriticalSection(&h.lock);
  if (RegisterClassA(&window_class) == 0 ||
      (h.window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  NULL, window_class.hInstance, NULL)) == NULL) {
    fprintf(stderr, "win32-loop: no message-only window (error %lu)\n", GetLastError());
    return 2;
  }
  SetWindowLongPtrA(h.window, GWLP_USERDATA, (LONG_PTR)&h);

  h.threads_before = thread_count();
  vc_disable_logs();
  h.ctl = vc_controller_create(&callbacks, &h);
  if (h.ctl == NULL || vc_use_host_loop(h.ctl) != VC_OK ||
      vc_set_server(h.ctl, address, port) != VC_OK ||
      vc_set_timeouts(h.ctl, 5000, ANSWER_MS) != VC_OK) {
    fprintf(stderr, "win32-loop: cannot start the controller\n");
    return 2;
  }
  PostMessageA(h.window, kWmStart, 0, 0);
  SetTimer(h.window, kTimerSend, 10, NULL);
  SetTimer(h.window, kTimerWatchdog, WATCHDOG_MS, NULL);
  h.worker = CreateThread(NULL, 0, hand_over, &h, 0, NULL);
  if (h.worker == NULL) {
    fprintf(stderr, "win32-loop: cannot start the second thread\n");
    return 2;
  }
  /* The count sees a thread that is there: this host's own second one. */
  h.threads_with_worker = thread_count();
  run_loop(&h);

  WaitForSingleObject(h.worker, INFINITE);
  CloseHandle(h.worker);
  if (h.timed_out) {
    fprintf(stderr, "win32-loop: FAILED: not finished within %d s, %ld commands in flight\n",
            WATCHDOG_MS / 1000, h.in_flight);
    ++failures;
    vc_controller_destroy(h.ctl); /* ends what is in flight, "cancelled." */
    h.ctl = NULL;
  }
  DestroyWindow(h.window);

  if (h.sent != COMMANDS) fail("commands sent", h.sent, COMMANDS);
  if (h.handed_sent != HANDED) fail("commands of the second thread", h.handed_sent, HANDED);
  if (h.by_source[kFromTimer] != TIMED)
    fail("commands sent from WM_TIMER", h.by_source[kFromTimer], TIMED);
  if (h.refused != 0) fail("calls that did not return VC_OK", h.refused, 0);
  if (h.strays != 0)
    fail("callbacks outside vc_process, off the loop's thread or late", h.strays, 0);
  for (i = 1; i <= h.sent; ++i) {
    const command* c = &h.commands[i];
    if (c->outcomes != 1 || c->done != 1) {
      fprintf(stderr, "win32-loop: FAILED: command %ld (%s): %d outcomes, %d on_done\n", i,
              kKindNames[c->kind], c->outcomes, c->done);
      ++failures;
    }
  }
  for (t = 0; t < sizeof h.tallies / sizeof h.tallies[0] && h.tallies[t].text[0]; ++t) {
    if (h.tallies[t].got != h.tallies[t].expected)
      fail(h.tallies[t].text, h.tallies[t].got, h.tallies[t].expected);
  }
  if (!h.destroyed_in_callback) fail("controller destroyed from the last on_done", 0, 1);
  if (h.threads_with_worker != h.threads_before + 1) {
    fail("threads while the second one runs", h.threads_with_worker, h.threads_before + 1);
  }
  if (h.threads_before < 0 || h.threads_after > h.threads_before) {
    fail("threads after the run", h.threads_after, h.threads_before);
  }

  printf(
      "win32-loop: %ld commands (%ld from WM_APP and on_done, %ld from WM_TIMER, %ld from the "
      "second thread), %ld with a fault:",
      h.sent, h.by_source[kFromStart] + h.by_source[kFromDone], h.by_source[kFromTimer],
      h.handed_sent, admin_port != 0 ? COMMANDS / FAULT_EVERY : 0L);
  for (t = 0; t < sizeof h.tallies / sizeof h.tallies[0] && h.tallies[t].text[0]; ++t) {
    printf(" %s %ld", h.tallies[t].text, h.tallies[t].got);
  }
  printf("; threads before %ld, after %ld; %s\n", h.threads_before, h.threads_after,
         failures == 0 ? "ok" : "FAILED");
  DeleteCriticalSection(&h.lock);
  CoUninitialize();
  WSACleanup();
  return failures == 0 ? 0 : 1;
}
