// The Asio adapter (examples/adapters/voicecontrol_asio.h): a few hundred
// commands on one io_context, faults among them, every outcome in io's
// handlers on its thread; the last callback destroys driver and controller.
#include "voicecontrol_asio.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>

#include <voicecontrol/testing/simulator.h>

namespace {

using voicecontrol::testing::Fault;
using voicecontrol::testing::SimulatedServer;

struct Host {
  vc_controller* ctl = nullptr;
  std::unique_ptr<voicecontrol_asio::Driver> driver;
  SimulatedServer* server = nullptr;
  std::thread::id thread = std::this_thread::get_id();
  int toIssue = 300, issued = 0, inFlight = 0, strays = 0;
  std::map<std::string, int> outcomes;  // error text, or "result"
  bool failed = false;                  // the command being delivered

  void IssueNext() {
    // Every tenth answer misbehaves, in turn in four ways; the delayed one
    // outlasts the answer time-out, which only the driver's timer ends.
    static const Fault kFaults[] = {Fault::CloseEarly(), Fault::Garbage(), Fault::Http10(),
                                    Fault::Delay(2500)};
    if (++issued % 10 == 0) server->QueueFault(kFaults[(issued / 10) % 4]);
    --toIssue;
    ++inFlight;
    ASSERT_EQ(vc_qall(ctl, nullptr), VC_OK);
  }
};

TEST(AsioAdapter, DrivesCommandsAndFaultsOnTheIoThread) {
  SimulatedServer server;
  asio::io_context io;
  Host host;
  host.server = &server;
  vc_callbacks c{};
  c.on_error = [](void* u, void*, const char* text) {
    auto* h = static_cast<Host*>(u);
    h->strays += std::this_thread::get_id() != h->thread;
    ++h->outcomes[text];
    h->failed = true;
  };
  c.on_done = [](void* u, void*) {
    auto* h = static_cast<Host*>(u);
    h->strays += std::this_thread::get_id() != h->thread;
    if (!h->failed) ++h->outcomes["result"];
    h->failed = false;
    --h->inFlight;
    if (h->toIssue > 0) return h->IssueNext();
    if (h->inFlight == 0) {
      h->driver.reset();
      vc_controller_destroy(h->ctl);
      h->ctl = nullptr;
    }
  };
  host.ctl = vc_controller_create(&c, &host);
  ASSERT_EQ(vc_use_host_loop(host.ctl), VC_OK);
  ASSERT_EQ(vc_set_server(host.ctl, server.address().c_str(), server.port()), VC_OK);
  ASSERT_EQ(vc_set_timeouts(host.ctl, 5000, 2000), VC_OK);
  host.driver = std::make_unique<voicecontrol_asio::Driver>(io, host.ctl);
  asio::post(io, [&] {
    for (int i = 0; i < 16; ++i) host.IssueNext();
  });
  io.run_for(std::chrono::seconds(60));
  EXPECT_EQ(host.ctl, nullptr) << "not every command ended";
  EXPECT_EQ(host.strays, 0);
  const std::map<std::string, int> expected = {
      {"result", 270}, {"timeout.", 14}, {"bad message.", 8}, {"decode.", 8}};
  EXPECT_EQ(host.outcomes, expected);
}

}  // namespace
