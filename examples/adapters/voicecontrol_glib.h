/*
 * voicecontrol_glib.h: drives a host-driven voicecontrol controller
 * (vc_use_host_loop) on a GLib main context, in C. Copy it into your
 * project. POSIX only (GLib watches the descriptor as a Unix fd).
 *
 *   vc_use_host_loop(ctl);
 *   vc_glib_driver* driver = vc_glib_driver_new(ctl, NULL);  // NULL: the default context
 *   vc_qall(ctl, tag);                   // from the context's thread
 *   g_main_loop_run(loop);               // callbacks run in the context's dispatch
 *   ...
 *   vc_glib_driver_close(driver);        // then vc_controller_destroy(ctl)
 *
 * A Unix fd source watches the controller's descriptor, a timeout source
 * the deadline of vc_next_timeout_ms; either calls vc_process. A callback
 * of the controller may close the driver and destroy the controller (in
 * that order); the driver's memory goes once the dispatch has returned.
 */
#ifndef VOICECONTROL_GLIB_H_
#define VOICECONTROL_GLIB_H_

#include <glib-unix.h>
#include <glib.h>
#include <voicecontrol/voicecontrol.h>

typedef struct vc_glib_driver {
  vc_controller* controller;
  GMainContext* context;
  GSource* ready;
  GSource* timer; /* NULL while no deadline is pending */
  int closing;
  int refs; /* the owner's, and one per dispatch running */
} vc_glib_driver;

static inline void vc_glib_unref(vc_glib_driver* driver) {
  if (--driver->refs == 0) g_free(driver);
}

static inline void vc_glib_drop_timer(vc_glib_driver* driver) {
  if (driver->timer == NULL) return;
  g_source_destroy(driver->timer);
  g_source_unref(driver->timer);
  driver->timer = NULL;
}

static inline gboolean vc_glib_on_timer(gpointer data);

/* Waits for the deadline the controller has now, if any. */
static inline void vc_glib_arm(vc_glib_driver* driver) {
  int32_t ms = vc_next_timeout_ms(driver->controller);
  vc_glib_drop_timer(driver);
  if (ms < 0) return;
  driver->timer = g_timeout_source_new((guint)ms);
  g_source_set_callback(driver->timer, vc_glib_on_timer, driver, NULL);
  g_source_attach(driver->timer, driver->context);
}

/* Runs the callbacks, then waits for the deadline the pass left. */
static inline void vc_glib_drive(vc_glib_driver* driver) {
  ++driver->refs;
  vc_process(driver->controller);
  if (!driver->closing) vc_glib_arm(driver);
  vc_glib_unref(driver);
}

static inline gboolean vc_glib_on_timer(gpointer data) {
  vc_glib_drive((vc_glib_driver*)data);
  return G_SOURCE_REMOVE; /* replaced by a new one, if any */
}

static inline gboolean vc_glib_on_ready(gint fd, GIOCondition condition, gpointer data) {
  (void)fd, (void)condition; /* vc_process looks at every socket itself */
  vc_glib_drive((vc_glib_driver*)data);
  return G_SOURCE_CONTINUE;
}

/* NULL `context`: the default one. Never fails (GLib aborts without memory). */
static inline vc_glib_driver* vc_glib_driver_new(vc_controller* controller,
                                                 GMainContext* context) {
  vc_glib_driver* driver = g_new0(vc_glib_driver, 1);
  driver->controller = controller;
  driver->context = context;
  driver->refs = 1;
  driver->ready = g_unix_fd_source_new((gint)vc_loop_descriptor(controller), G_IO_IN);
  g_source_set_callback(driver->ready, G_SOURCE_FUNC(vc_glib_on_ready), driver, NULL);
  g_source_attach(driver->ready, context);
  vc_glib_arm(driver); /* for commands issued before */
  return driver;
}

/* Stops watching; also from a callback of the controller. The descriptor
 * stays the controller's: destroy the controller after this call. */
static inline void vc_glib_driver_close(vc_glib_driver* driver) {
  if (driver->closing) return;
  driver->closing = 1;
  g_source_destroy(driver->ready);
  g_source_unref(driver->ready);
  vc_glib_drop_timer(driver);
  vc_glib_unref(driver);
}

#endif /* VOICECONTROL_GLIB_H_ */
