/*
 * voicecontrol_uv.h: drives a host-driven voicecontrol controller
 * (vc_use_host_loop) on a libuv loop, in C. Copy it into your project.
 * POSIX only: libuv polls sockets, not the event object a controller has on
 * Windows.
 *
 *   vc_uv_driver driver;                 // must stay in place until closed
 *   vc_use_host_loop(ctl);
 *   vc_uv_driver_start(&driver, loop, ctl);
 *   vc_qall(ctl, tag);                   // from the loop's thread
 *   uv_run(loop, UV_RUN_DEFAULT);        // callbacks run in the loop's callbacks
 *   ...
 *   vc_uv_driver_close(&driver, NULL);   // then vc_controller_destroy(ctl)
 *
 * A uv_poll_t watches the controller's descriptor and a uv_timer_t the
 * deadline of vc_next_timeout_ms; either calls vc_process. A callback of
 * the controller may close the driver and destroy the controller (in that
 * order): the driver then re-arms nothing.
 */
#ifndef VOICECONTROL_UV_H_
#define VOICECONTROL_UV_H_

#include <stddef.h>

#include <uv.h>
#include <voicecontrol/voicecontrol.h>

typedef struct vc_uv_driver {
  uv_poll_t poll;
  uv_timer_t timer;
  vc_controller* controller;
  int closing;
  int open_handles;
  uv_close_cb on_closed; /* called with the poll handle once both closed */
} vc_uv_driver;

static inline void vc_uv_drive(vc_uv_driver* driver);

static inline void vc_uv_on_ready(uv_poll_t* poll, int status, int events) {
  (void)status, (void)events; /* vc_process looks at every socket itself */
  vc_uv_drive((vc_uv_driver*)poll->data);
}

static inline void vc_uv_on_timer(uv_timer_t* timer) { vc_uv_drive((vc_uv_driver*)timer->data); }

/* Runs the callbacks, then waits for the deadline the pass left. */
static inline void vc_uv_drive(vc_uv_driver* driver) {
  int32_t ms;
  vc_process(driver->controller);
  if (driver->closing) return; /* a callback closed the driver */
  ms = vc_next_timeout_ms(driver->controller);
  if (ms < 0) {
    uv_timer_stop(&driver->timer);
  } else {
    uv_timer_start(&driver->timer, vc_uv_on_timer, (uint64_t)ms, 0);
  }
}

/* 0, or a libuv error code (the driver is then not started). */
static inline int vc_uv_driver_start(vc_uv_driver* driver, uv_loop_t* loop,
                                     vc_controller* controller) {
  int status;
  driver->controller = controller;
  driver->closing = 0;
  driver->open_handles = 0;
  driver->on_closed = NULL;
  status = uv_poll_init(loop, &driver->poll, (int)vc_loop_descriptor(controller));
  if (status != 0) return status;
  uv_timer_init(loop, &driver->timer);
  driver->poll.data = driver;
  driver->timer.data = driver;
  driver->open_handles = 2;
  return uv_poll_start(&driver->poll, UV_READABLE, vc_uv_on_ready);
}

static inline void vc_uv_on_handle_closed(uv_handle_t* handle) {
  vc_uv_driver* driver = (vc_uv_driver*)handle->data;
  if (--driver->open_handles == 0 && driver->on_closed != NULL) {
    driver->on_closed((uv_handle_t*)&driver->poll);
  }
}

/* Stops watching; also from a callback of the controller. `on_closed`
 * (may be NULL) tells when the driver's memory may go. The descriptor stays
 * the controller's: destroy the controller after this call. */
static inline void vc_uv_driver_close(vc_uv_driver* driver, uv_close_cb on_closed) {
  if (driver->closing) return;
  driver->closing = 1;
  driver->on_closed = on_closed;
  uv_close((uv_handle_t*)&driver->poll, vc_uv_on_handle_closed);
  uv_close((uv_handle_t*)&driver->timer, vc_uv_on_handle_closed);
}

#endif /* VOICECONTROL_UV_H_ */
