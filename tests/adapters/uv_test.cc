// The libuv adapter (examples/adapters/voicecontrol_uv.h): 300 commands
// with faults on one loop, every outcome in its callbacks on its thread;
// the last callback closes the driver and destroys the controller.
#include "voicecontrol_uv.h"

#include "adapter_host.h"

TEST(UvAdapter, DrivesCommandsAndFaultsOnTheLoopThread) {
  adapters::Host host;
  uv_loop_t loop;
  ASSERT_EQ(uv_loop_init(&loop), 0);
  vc_uv_driver driver;
  ASSERT_EQ(vc_uv_driver_start(&driver, &loop, host.ctl), 0);
  host.closeDriver = [&] { vc_uv_driver_close(&driver, nullptr); };
  host.Start();
  uv_run(&loop, UV_RUN_DEFAULT);  // returns once the driver's handles closed
  EXPECT_EQ(host.ctl, nullptr) << "not every command ended";
  EXPECT_EQ(host.strays, 0);
  EXPECT_EQ(host.outcomes, adapters::Host::Expected());
  EXPECT_EQ(uv_loop_close(&loop), 0);
}
