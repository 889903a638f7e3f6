/*
 * host-loop: a C99 host that drives voicecontrol from its own poll loop,
 * with no thread of the library (vc_use_host_loop).
 *
 *   host-loop ADDRESS PORT [COMMANDS]
 *
 * Issues COMMANDS (default 1000) commands against a server running the
 * simulator's session model (`voicectl serve`), keeping 16 in flight:
 * each on_done issues the next one. The loop waits on the controller's one
 * descriptor for at most vc_next_timeout_ms() and then calls vc_process(),
 * inside which every callback runs, on this thread: no mutex is needed.
 * On Linux it prints the process's thread count before and after, which
 * the library leaves alone. Exits 0 when every command got its answer, 1
 * when one did not, 2 on a bad command line or a failed start.
 */
#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#else
#define _POSIX_C_SOURCE 200809L
#include <dirent.h>
#include <poll.h>
#endif
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <voicecontrol/voicecontrol.h>

#define IN_FLIGHT 16

typedef struct host {
  vc_controller* ctl;
  long to_issue; /* commands not yet issued */
  long in_flight;
  long results;
  long failures;
} host;

/* Issues the next command; its tag is its number. */
static void issue_next(host* h) {
  intptr_t number = (intptr_t)h->to_issue--;
  vc_status status;
  /* Queries that hold on any server state, in turn. */
  if (number % 2 == 0) {
    status = vc_qall(h->ctl, (void*)number);
  } else {
    status = vc_qsingle(h->ctl, "no-such-session", (void*)number);
  }
  if (status == VC_OK) {
    ++h->in_flight;
  } else {
    ++h->failures;
  }
}

static void VC_CALL on_error(void* user, void* tag, const char* text) {
  host* h = (host*)user;
  ++h->failures;
  fprintf(stderr, "command %ld: %s (%s)\n", (long)(intptr_t)tag, text, vc_error_detail());
}

static void VC_CALL on_command_result(void* user, void* tag, int32_t flow_id, int32_t code,
                                      const char* text) {
  (void)tag, (void)flow_id, (void)code, (void)text;
  ++((host*)user)->results;
}

static void VC_CALL on_qall_empty(void* user, void* tag) {
  (void)tag;
  ++((host*)user)->results;
}

static void VC_CALL on_qall_entry(void* user, void* tag, const char* const* fields) {
  (void)user, (void)tag, (void)fields; /* the count comes with on_done */
}

static void VC_CALL on_qsingle_result(void* user, void* tag, const char* const* values) {
  (void)tag, (void)values;
  ++((host*)user)->results;
}

static void VC_CALL on_done(void* user, void* tag) {
  host* h = (host*)user;
  (void)tag;
  --h->in_flight;
  if (h->to_issue > 0) issue_next(h);
}

/* Waits on the controller's descriptor for at most `ms` (-1: no limit). */
static void wait_ready(intptr_t descriptor, int32_t ms) {
#if defined(_WIN32)
  WaitForSingleObject((HANDLE)descriptor, ms < 0 ? INFINITE : (DWORD)ms);
#else
  struct pollfd entry;
  entry.fd = (int)descriptor;
  entry.events = POLLIN;
  entry.revents = 0;
  poll(&entry, 1, ms);
#endif
}

/* The process's thread count; -1 where it cannot be read here. */
static long thread_count(void) {
#if defined(__linux__)
  long count = 0;
  DIR* tasks = opendir("/proc/self/task");
  struct dirent* entry;
  if (tasks == NULL) return -1;
  while ((entry = readdir(tasks)) != NULL) count += entry->d_name[0] != '.';
  closedir(tasks);
  return count;
#else
  return -1;
#endif
}

int main(int argc, char** argv) {
  vc_callbacks callbacks = {on_error, on_command_result, on_qall_empty,
                            on_qall_entry, on_qsingle_result, on_done};
  host h = {NULL, 1000, 0, 0, 0};
  long commands, threads_before, threads_after;
#if defined(_WIN32)
  WSADATA wsa;
  /* Answers are read on the thread that calls vc_process, into the
   * system's XML DOM: COM must be usable on it. */
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) {
    return 2;
  }
#endif
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: host-loop ADDRESS PORT [COMMANDS]\n");
    return 2;
  }
  if (argc == 4) h.to_issue = strtol(argv[3], NULL, 10);
  commands = h.to_issue;
  vc_disable_logs();
  threads_before = thread_count();
  h.ctl = vc_controller_create(&callbacks, &h);
  if (h.ctl == NULL || vc_use_host_loop(h.ctl) != VC_OK ||
      vc_set_server(h.ctl, argv[1], (uint16_t)atoi(argv[2])) != VC_OK) {
    fprintf(stderr, "host-loop: cannot start\n");
    return 2;
  }
  while (h.to_issue > 0 && h.in_flight < IN_FLIGHT) issue_next(&h);
  /* The whole loop: wait, then let the library move its commands on. */
  while (h.in_flight > 0) {
    wait_ready(vc_loop_descriptor(h.ctl), vc_next_timeout_ms(h.ctl));
    vc_process(h.ctl);
  }
  threads_after = thread_count();
  vc_controller_destroy(h.ctl);
  printf("%ld commands: %ld answers, %ld failures; threads before %ld, after %ld\n", commands,
         h.results, h.failures, threads_before, threads_after);
  return h.results == commands && h.failures == 0 && threads_before == threads_after ? 0 : 1;
}
