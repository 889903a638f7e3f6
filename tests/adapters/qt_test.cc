// The Qt adapter (examples/adapters/voicecontrol_qt.h): 300 commands with
// faults in one QCoreApplication, every outcome in its event loop on its
// thread; the last callback deletes the driver and destroys the controller.
#include "voicecontrol_qt.h"

#include <QCoreApplication>
#include <memory>

#include "adapter_host.h"

TEST(QtAdapter, DrivesCommandsAndFaultsOnTheEventLoopThread) {
  int argc = 1;
  char name[] = "qt_adapter_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  adapters::Host host;
  auto driver = std::make_unique<voicecontrol_qt::Driver>(host.ctl);
  host.closeDriver = [&] {
    driver.reset();
    app.quit();
  };
  host.Start();
  app.exec();
  EXPECT_EQ(host.ctl, nullptr) << "not every command ended";
  EXPECT_EQ(host.strays, 0);
  EXPECT_EQ(host.outcomes, adapters::Host::Expected());
}
