// What the adapters' tests share: a host that keeps 16 commands in flight
// on a host-driven controller until 300 have ended, every tenth answer
// misbehaving, and that closes its driver and destroys the controller from
// the last on_done.
#ifndef VOICECONTROL_TESTS_ADAPTERS_ADAPTER_HOST_H_
#define VOICECONTROL_TESTS_ADAPTERS_ADAPTER_HOST_H_

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>

#include <voicecontrol/testing/simulator.h>
#include <voicecontrol/voicecontrol.h>

namespace adapters {

using voicecontrol::testing::Fault;

struct Host {
  voicecontrol::testing::SimulatedServer server;
  vc_controller* ctl = nullptr;
  std::function<void()> closeDriver;  // before the controller goes
  std::thread::id thread = std::this_thread::get_id();
  int toIssue = 300, issued = 0, inFlight = 0, strays = 0;
  std::map<std::string, int> outcomes;  // error text, or "result"
  bool failed = false;                  // the command being delivered

  // The outcomes 300 commands end in: the delayed answer outlasts the
  // answer time-out, which only the driver's timer ends.
  static std::map<std::string, int> Expected() {
    return {{"result", 270}, {"timeout.", 14}, {"bad message.", 8}, {"decode.", 8}};
  }

  Host() {
    vc_callbacks c{};
    c.on_error = [](void* u, void*, const char* text) {
      auto* h = static_cast<Host*>(u);
      h->strays += std::this_thread::get_id() != h->thread;
      ++h->outcomes[text];
      h->failed = true;
    };
    c.on_done = [](void* u, void*) { static_cast<Host*>(u)->Done(); };
    ctl = vc_controller_create(&c, this);
    EXPECT_EQ(vc_use_host_loop(ctl), VC_OK);
    EXPECT_EQ(vc_set_server(ctl, server.address().c_str(), server.port()), VC_OK);
    EXPECT_EQ(vc_set_timeouts(ctl, 5000, 2000), VC_OK);
  }
  ~Host() { vc_controller_destroy(ctl); }

  void Start() {
    for (int i = 0; i < 16; ++i) IssueNext();
  }

  void IssueNext() {
    static const Fault kFaults[] = {Fault::CloseEarly(), Fault::Garbage(), Fault::Http10(),
                                    Fault::Delay(2500)};
    if (++issued % 10 == 0) server.QueueFault(kFaults[(issued / 10) % 4]);
    --toIssue;
    ++inFlight;
    EXPECT_EQ(vc_qall(ctl, nullptr), VC_OK);
  }

  void Done() {
    strays += std::this_thread::get_id() != thread;
    if (!failed) ++outcomes["result"];
    failed = false;
    --inFlight;
    if (toIssue > 0) return IssueNext();
    if (inFlight == 0) {
      closeDriver();
      vc_controller_destroy(ctl);
      ctl = nullptr;
    }
  }
};

}  // namespace adapters

#endif  // VOICECONTROL_TESTS_ADAPTERS_ADAPTER_HOST_H_
