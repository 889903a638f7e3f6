// The Asio adapter (examples/adapters/voicecontrol_asio.h): 300 commands
// with faults on one io_context, every outcome in its handlers on its
// thread; the last callback destroys driver and controller.
#include "voicecontrol_asio.h"

#include <memory>

#include "adapter_host.h"

TEST(AsioAdapter, DrivesCommandsAndFaultsOnTheIoThread) {
  adapters::Host host;
  asio::io_context io;
  auto driver = std::make_unique<voicecontrol_asio::Driver>(io, host.ctl);
  host.closeDriver = [&] { driver.reset(); };
  asio::post(io, [&] { host.Start(); });
  io.run_for(std::chrono::seconds(60));
  EXPECT_EQ(host.ctl, nullptr) << "not every command ended";
  EXPECT_EQ(host.strays, 0);
  EXPECT_EQ(host.outcomes, adapters::Host::Expected());
}
