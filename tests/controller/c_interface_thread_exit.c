/* Callbacks of a C host that end their thread with pthread_exit, as a
 * host may do from any callback but on_done. Compiled as C, like a host. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <string.h>
#include <time.h>

#include <voicecontrol/voicecontrol.h>

#include "c_interface_thread_exit.h"

static void record(struct vc_test_exits* exits, int* counter) {
  pthread_mutex_lock(&exits->mutex);
  ++*counter;
  pthread_cond_broadcast(&exits->changed);
  pthread_mutex_unlock(&exits->mutex);
}

static void VC_CALL exit_on_error(void* user, void* tag, const char* text) {
  struct vc_test_exits* exits = (struct vc_test_exits*)user;
  (void)tag;
  (void)text;
  record(exits, &exits->errors);
  pthread_exit(NULL);
}

static void VC_CALL exit_on_command_result(void* user, void* tag, int32_t flow_id, int32_t code,
                                           const char* text) {
  struct vc_test_exits* exits = (struct vc_test_exits*)user;
  (void)tag;
  (void)flow_id;
  (void)code;
  (void)text;
  record(exits, &exits->results);
  pthread_exit(NULL);
}

static void VC_CALL count_done(void* user, void* tag) {
  struct vc_test_exits* exits = (struct vc_test_exits*)user;
  (void)tag;
  record(exits, &exits->done);
}

void vc_test_exits_init(struct vc_test_exits* exits, vc_callbacks* callbacks) {
  memset(callbacks, 0, sizeof *callbacks);
  callbacks->on_error = exit_on_error;
  callbacks->on_command_result = exit_on_command_result;
  callbacks->on_done = count_done;
  pthread_mutex_init(&exits->mutex, NULL);
  pthread_cond_init(&exits->changed, NULL);
  exits->errors = 0;
  exits->results = 0;
  exits->done = 0;
}

int vc_test_exits_wait_done(struct vc_test_exits* exits, int count, int seconds) {
  struct timespec until;
  int done;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += seconds;
  pthread_mutex_lock(&exits->mutex);
  while (exits->done < count &&
         pthread_cond_timedwait(&exits->changed, &exits->mutex, &until) == 0) {
  }
  done = exits->done;
  pthread_mutex_unlock(&exits->mutex);
  return done;
}
