/* The C interface used from C: this file is compiled as C99 with
 * -pedantic -Wall -Werror, so the header stays plain C. */
#include <voicecontrol/voicecontrol.h>

#include <stdio.h>
#include <string.h>

struct kick_outcome {
  char text[128];
  int done;
};

static void VC_CALL on_error(void* user, void* tag, const char* text) {
  struct kick_outcome* outcome = (struct kick_outcome*)tag;
  (void)user;
  snprintf(outcome->text, sizeof outcome->text, "error %s", text);
}

static void VC_CALL on_command_result(void* user, void* tag, int32_t flow_id, int32_t code,
                                      const char* text) {
  struct kick_outcome* outcome = (struct kick_outcome*)tag;
  snprintf(outcome->text, sizeof outcome->text, "%s %ld %ld %s", (const char*)user,
           (long)flow_id, (long)code, text);
}

static void VC_CALL on_done(void* user, void* tag) {
  (void)user;
  ((struct kick_outcome*)tag)->done = 1;
}

/* Kicks "bob" from "conf" at 127.0.0.1:port and writes the outcome to
 * `text`. 0 when the command ran to its end. */
int vc_test_kick_from_c(uint16_t port, char* text, size_t capacity);

int vc_test_kick_from_c(uint16_t port, char* text, size_t capacity) {
  static char user[] = "tagged";
  struct kick_outcome outcome = {"", 0};
  vc_callbacks callbacks;
  vc_controller* controller;
  vc_status status;

  memset(&callbacks, 0, sizeof callbacks);
  callbacks.on_error = on_error;
  callbacks.on_command_result = on_command_result;
  callbacks.on_done = on_done;
  controller = vc_controller_create(&callbacks, user);
  if (controller == NULL) return -1;
  status = vc_set_server(controller, "127.0.0.1", port);
  if (status == VC_OK) status = vc_kick(controller, "conf", "bob", &outcome);
  /* Waits for the answer: its outcome has been delivered on return. */
  vc_controller_destroy(controller);
  snprintf(text, capacity, "%s", outcome.text);
  return status == VC_OK && outcome.done ? 0 : -1;
}
