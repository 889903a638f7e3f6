// The GLib adapter (examples/adapters/voicecontrol_glib.h): 300 commands
// with faults on one main context, every outcome in its dispatch on its
// thread; the last callback closes the driver and destroys the controller.
#include "voicecontrol_glib.h"

#include "adapter_host.h"

TEST(GlibAdapter, DrivesCommandsAndFaultsOnTheContextThread) {
  adapters::Host host;
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  vc_glib_driver* driver = vc_glib_driver_new(host.ctl, context);
  host.closeDriver = [&] {
    vc_glib_driver_close(driver);
    g_main_loop_quit(loop);
  };
  host.Start();
  g_main_loop_run(loop);
  EXPECT_EQ(host.ctl, nullptr) << "not every command ended";
  EXPECT_EQ(host.strays, 0);
  EXPECT_EQ(host.outcomes, adapters::Host::Expected());
  g_main_loop_unref(loop);
  g_main_context_unref(context);
}
