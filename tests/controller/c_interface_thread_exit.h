/* A C host's callbacks that end their thread (c_interface_thread_exit.c). */
#ifndef VOICECONTROL_TESTS_CONTROLLER_C_INTERFACE_THREAD_EXIT_H_
#define VOICECONTROL_TESTS_CONTROLLER_C_INTERFACE_THREAD_EXIT_H_

#include <pthread.h>

#include <voicecontrol/voicecontrol.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the callbacks saw; guarded by `mutex`. */
struct vc_test_exits {
  pthread_mutex_t mutex;
  pthread_cond_t changed;
  int errors;  /* on_error calls, each of which ended its thread */
  int results; /* on_command_result calls, likewise */
  int done;    /* on_done calls */
};

/* Sets up `exits` and fills `callbacks`: on_error and on_command_result
 * record the call and call pthread_exit; on_done records it. Pass `exits`
 * as the controller's user pointer. */
void vc_test_exits_init(struct vc_test_exits* exits, vc_callbacks* callbacks);

/* Waits until `count` commands are done, at most `seconds`; the count. */
int vc_test_exits_wait_done(struct vc_test_exits* exits, int count, int seconds);

#ifdef __cplusplus
}
#endif

#endif
