/*
 * host-c: a C99 host of voicecontrol, through its C interface.
 *
 *   host-c ADDRESS PORT
 *
 * Issues the six commands against a server running the simulator's session
 * model (`voicectl serve`), each once the previous outcome has arrived, and
 * checks every outcome. Prints one line per check; exits 0 when all hold,
 * 1 when any does not, 2 on a bad command line or a failed start.
 *
 * Each command gets a tag: a pointer to the record its outcome is written
 * into; on_done says that the command is over. Callbacks run on library
 * threads, so the records are guarded by a mutex; the main thread waits on
 * a condition variable. Strings arrive as UTF-8 and are valid only during
 * the callback, so they are copied.
 */
#if defined(_WIN32)
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 /* condition variables: Vista and later */
#endif
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#else
#define _POSIX_C_SOURCE 200809L /* pthread_cond_timedwait, getpid */
#include <pthread.h>
#include <unistd.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <voicecontrol/voicecontrol.h>

#define TEXT_SIZE 256
#define WAIT_SECONDS 10

/* ---- A mutex and a condition variable on both platforms. ---- */
#if defined(_WIN32)
typedef struct lock {
  CRITICAL_SECTION mutex;
  CONDITION_VARIABLE changed;
} lock;
static void lock_init(lock* l) {
  InitializeCriticalSection(&l->mutex);
  InitializeConditionVariable(&l->changed);
}
static void lock_enter(lock* l) { EnterCriticalSection(&l->mutex); }
static void lock_leave(lock* l) { LeaveCriticalSection(&l->mutex); }
static void lock_signal(lock* l) { WakeAllConditionVariable(&l->changed); }
/* Waits until signalled or `deadline` (time(NULL) units) has passed. */
static void lock_wait(lock* l, time_t deadline) {
  time_t now = time(NULL);
  if (now < deadline) SleepConditionVariableCS(&l->changed, &l->mutex, (DWORD)(deadline - now) * 1000);
}
static unsigned long process_id(void) { return (unsigned long)GetCurrentProcessId(); }
#else
typedef struct lock {
  pthread_mutex_t mutex;
  pthread_cond_t changed;
} lock;
static void lock_init(lock* l) {
  pthread_mutex_init(&l->mutex, NULL);
  pthread_cond_init(&l->changed, NULL);
}
static void lock_enter(lock* l) { pthread_mutex_lock(&l->mutex); }
static void lock_leave(lock* l) { pthread_mutex_unlock(&l->mutex); }
static void lock_signal(lock* l) { pthread_cond_broadcast(&l->changed); }
static void lock_wait(lock* l, time_t deadline) {
  struct timespec until;
  until.tv_sec = deadline;
  until.tv_nsec = 0;
  pthread_cond_timedwait(&l->changed, &l->mutex, &until);
}
static unsigned long process_id(void) { return (unsigned long)getpid(); }
#endif

/* ---- What one command's outcome was. ---- */
enum kind { NONE, ERROR_TEXT, RESULT, QALL_EMPTY, QALL_ENTRY, QSINGLE };

typedef struct outcome {
  enum kind kind;
  int done; /* on_done came: nothing more for this command */
  int32_t flow_id, code;
  int values_count;
  char values[18][TEXT_SIZE]; /* the error or result text first, or the values */
} outcome;

typedef struct host {
  lock lock;
  const char* session; /* QAll looks for this session's entry */
} host;

static void copy_text(char* out, const char* text) {
  strncpy(out, text ? text : "", TEXT_SIZE - 1);
  out[TEXT_SIZE - 1] = '\0';
}

/* Records an outcome in the command's record, its tag. */
static void record(host* h, outcome* o, enum kind kind, int32_t flow_id, int32_t code,
                   const char* const* values, int count) {
  int i;
  lock_enter(&h->lock);
  o->kind = kind;
  o->flow_id = flow_id;
  o->code = code;
  o->values_count = count;
  for (i = 0; i < count; ++i) copy_text(o->values[i], values[i]);
  lock_leave(&h->lock);
}

/* The error text, and beside it why (vc_error_detail(), readable only
 * during on_error). Like on_done, on_error may come on the calling thread
 * before the command returns (a refused connection, say), so the main
 * thread never holds the lock while it calls a command. */
static void VC_CALL on_error(void* user, void* tag, const char* text) {
  const char* texts[2];
  texts[0] = text;
  texts[1] = vc_error_detail();
  record((host*)user, (outcome*)tag, ERROR_TEXT, 0, 0, texts, 2);
}
static void VC_CALL on_command_result(void* user, void* tag, int32_t flow_id, int32_t code,
                                      const char* text) {
  record((host*)user, (outcome*)tag, RESULT, flow_id, code, &text, 1);
}
static void VC_CALL on_qall_empty(void* user, void* tag) {
  record((host*)user, (outcome*)tag, QALL_EMPTY, 1004, 0, NULL, 0);
}
/* One call per session; only this run's session is kept. The items of a
 * QAll answer are comma-terminated lists on the wire: with several entries
 * the library splits them, a single entry arrives as it travelled, each
 * field with its terminating comma, which is dropped here. */
static void VC_CALL on_qall_entry(void* user, void* tag, const char* const* fields) {
  host* h = (host*)user;
  char items[8][TEXT_SIZE];
  const char* item_pointers[8];
  size_t length;
  int i;
  for (i = 0; i < 8; ++i) {
    copy_text(items[i], fields[i]);
    length = strlen(items[i]);
    if (length > 0 && items[i][length - 1] == ',') items[i][length - 1] = '\0';
    item_pointers[i] = items[i];
  }
  if (strcmp(items[0], h->session) == 0) {
    record(h, (outcome*)tag, QALL_ENTRY, 1004, 0, item_pointers, 8);
  }
}
static void VC_CALL on_qsingle_result(void* user, void* tag, const char* const* values) {
  record((host*)user, (outcome*)tag, QSINGLE, 1005, 0, values, 18);
}
/* The command is over (after all its callbacks): wake the main thread. */
static void VC_CALL on_done(void* user, void* tag) {
  host* h = (host*)user;
  lock_enter(&h->lock);
  ((outcome*)tag)->done = 1;
  lock_leave(&h->lock);
  lock_signal(&h->lock);
}

/* Waits for the command's outcome (at most WAIT_SECONDS). */
static void wait_for(host* h, outcome* o) {
  time_t deadline = time(NULL) + WAIT_SECONDS;
  lock_enter(&h->lock);
  while (!o->done && time(NULL) < deadline) lock_wait(&h->lock, deadline);
  lock_leave(&h->lock);
}

static int failures = 0;

static void check(const char* what, int ok, vc_status status, const outcome* o) {
  int i;
  printf("%s %s:", ok && status == VC_OK ? "ok  " : "FAIL", what);
  if (status != VC_OK) printf(" status %d", (int)status);
  if (!o->done) printf(" no outcome");
  for (i = 0; i < o->values_count; ++i) printf(" \"%s\"", o->values[i]);
  printf("\n");
  if (!ok || status != VC_OK) ++failures;
}

static int is_result(const outcome* o, int32_t flow_id, const char* text) {
  return o->done && o->kind == RESULT && o->flow_id == flow_id && o->code == 0 &&
         strcmp(o->values[0], text) == 0;
}

static int has_values(const outcome* o, enum kind kind, const char* const* expected, int count) {
  int i;
  if (!o->done || o->kind != kind) return 0;
  for (i = 0; i < count; ++i) {
    if (expected[i] != NULL && strcmp(o->values[i], expected[i]) != 0) return 0;
  }
  return 1;
}

static int run(const char* address, uint16_t port) {
  static host h;
  static outcome create, kick, change, qall, qsingle, dscall; /* zeroed */
  char session[64];
  vc_callbacks callbacks;
  vc_controller* controller;
  vc_status status;
  int attempt;

  lock_init(&h.lock);
  h.session = session;

  memset(&callbacks, 0, sizeof callbacks);
  callbacks.on_error = on_error;
  callbacks.on_command_result = on_command_result;
  callbacks.on_qall_empty = on_qall_empty;
  callbacks.on_qall_entry = on_qall_entry;
  callbacks.on_qsingle_result = on_qsingle_result;
  callbacks.on_done = on_done;
  controller = vc_controller_create(&callbacks, &h);
  if (controller == NULL) {
    fprintf(stderr, "host-c: vc_controller_create failed\n");
    return 2;
  }
  status = vc_set_server(controller, address, port);
  if (status != VC_OK) {
    fprintf(stderr, "host-c: vc_set_server: %s\n",
            status == VC_ERROR_BAD_ADDRESS ? "not a dotted IPv4 address" : "failed");
    vc_controller_destroy(controller);
    return 2;
  }
  /* A session of this run's own: the server may hold others, also from
   * earlier runs of this program (Wine reuses process ids, and two runs can
   * fall in one second). So the name carries the time and the process id,
   * and a name the server already knows (result code 1, "session exists")
   * is passed over for the next. */
  for (attempt = 0; attempt < 100; ++attempt) {
    sprintf(session, "host-c-%lu-%lu-%d", (unsigned long)time(NULL), process_id(), attempt);
    memset(&create, 0, sizeof create); /* the previous attempt is over (on_done) */
    status = vc_create(controller, session, "alice", "weekly sync", "alice,bob", &create);
    if (status != VC_OK) break;
    wait_for(&h, &create);
    if (!(create.done && create.kind == RESULT && create.code == 1)) break;
  }
  printf("host-c: voicecontrol %s, session %s\n", vc_version(), session);
  check("create", is_result(&create, 1001, "created"), status, &create);

  status = vc_kick(controller, session, "bob", &kick);
  if (status == VC_OK) wait_for(&h, &kick);
  check("kick", is_result(&kick, 1002, "kicked"), status, &kick);

  status = vc_change(controller, session, "alice", 7, &change);
  if (status == VC_OK) wait_for(&h, &change);
  check("change", is_result(&change, 1003, "changed"), status, &change);

  {
    /* A comma inside a QAll item is sent as ';'. */
    const char* expected[8] = {NULL, "alice", "weekly sync", "alice;bob", "1", "alice", "7", ""};
    status = vc_qall(controller, &qall);
    if (status == VC_OK) wait_for(&h, &qall);
    check("qall", has_values(&qall, QALL_ENTRY, expected, 8), status, &qall);
  }
  {
    const char* expected[9] = {session, "found", "alice", "weekly sync", "alice,bob",
                               "bob,",  "1",     "alice", "7"};
    status = vc_qsingle(controller, session, &qsingle);
    if (status == VC_OK) wait_for(&h, &qsingle);
    check("qsingle", has_values(&qsingle, QSINGLE, expected, 9), status, &qsingle);
  }

  status = vc_dscall(controller, session, "alice", 3600, &dscall);
  if (status == VC_OK) wait_for(&h, &dscall);
  check("dscall", is_result(&dscall, 1006, "scheduled"), status, &dscall);

  vc_controller_destroy(controller);
  printf("host-c: %s\n", failures == 0 ? "every outcome as expected" : "some outcomes were wrong");
  return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  long port;
  int result;
#if defined(_WIN32)
  WSADATA wsa;
#endif
  if (argc != 3) {
    fprintf(stderr, "usage: %s ADDRESS PORT\n", argv[0]);
    return 2;
  }
  port = strtol(argv[2], NULL, 10);
  if (port <= 0 || port > 65535) {
    fprintf(stderr, "host-c: bad port %s\n", argv[2]);
    return 2;
  }
#if defined(_WIN32)
  /* The host starts Windows Sockets and COM (multithreaded: the library's
   * receive threads use the system XML DOM without joining an apartment). */
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) {
    fprintf(stderr, "host-c: Windows Sockets or COM did not start\n");
    return 2;
  }
#endif
  result = run(argv[1], (uint16_t)port);
#if defined(_WIN32)
  CoUninitialize();
  WSACleanup();
#endif
  return result;
}
