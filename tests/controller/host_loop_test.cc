// Host-driven controllers (vc_use_host_loop): every outcome and hook call
// inside vc_process on the loop's thread, the same texts and details as the
// threaded modes, callbacks that issue, cancel and destroy, wake-ups and
// cancels from other threads, and no thread of the library at all.
#include <voicecontrol/voicecontrol.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include "controller/controller_testing.h"
#include "platform/clock.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::TestServer;

void* Tag(intptr_t n) { return reinterpret_cast<void*>(n); }

// Waits on the controller's descriptor at most `ms` (-1: no limit); true
// when it is ready.
bool WaitReady(intptr_t descriptor, int ms) {
#if defined(_WIN32)
  return WaitForSingleObject(reinterpret_cast<HANDLE>(descriptor),
                             ms < 0 ? INFINITE : static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
#else
  pollfd p{static_cast<int>(descriptor), POLLIN, 0};
  return poll(&p, 1, ms) == 1;
#endif
}

// A host-driven controller and its loop. Records every outcome and hook
// call by tag, and counts callbacks that came outside vc_process or on
// another thread.
struct Loop {
  vc_controller* ctl = nullptr;
  std::thread::id thread = std::this_thread::get_id();
  bool inProcess = false;
  int strayCalls = 0;
  std::map<void*, std::vector<std::string>> outcomes;  // also "done", "events <error>"
  int inFlight = 0;
  int turns = 0;  // of Run
  std::function<void(void* tag)> onResult, onDone;

  explicit Loop(uint16_t port) {
    vc_callbacks c{};
    c.on_error = [](void* u, void* tag, const char* text) {
      static_cast<Loop*>(u)->Add(tag, std::string(text) + " " + vc_error_detail());
    };
    c.on_command_result = [](void* u, void* tag, int32_t, int32_t, const char*) {
      static_cast<Loop*>(u)->Result(tag);
    };
    c.on_qall_empty = [](void* u, void* tag) { static_cast<Loop*>(u)->Result(tag); };
    c.on_done = [](void* u, void* tag) {
      auto* self = static_cast<Loop*>(u);
      self->Add(tag, "done");
      --self->inFlight;
      if (self->onDone) self->onDone(tag);
    };
    ctl = vc_controller_create(&c, this);
    EXPECT_EQ(vc_use_host_loop(ctl), VC_OK);
    EXPECT_EQ(vc_set_server(ctl, "127.0.0.1", port), VC_OK);
    vc_set_event_hook(
        ctl,
        [](void* u, const vc_request_events* e) {
          static_cast<Loop*>(u)->Add(e->tag, std::string("events ") +
                                                 (e->error_text ? e->error_text : "-"));
        },
        this);
  }
  ~Loop() { vc_controller_destroy(ctl); }

  void Add(void* tag, const std::string& what) {
    if (!inProcess || std::this_thread::get_id() != thread) ++strayCalls;
    outcomes[tag].push_back(what);
  }
  void Result(void* tag) {
    Add(tag, "result");
    if (onResult) onResult(tag);
  }

  vc_status Issue(void* tag) {
    ++inFlight;
    return vc_change(ctl, "s", "m", 1, tag);
  }

  // Drives the loop until nothing is in flight (at most `ms`).
  void Run(int64_t ms = 10000) {
    const int64_t end = platform::MonotonicMilliseconds() + ms;
    while (inFlight > 0 && platform::MonotonicMilliseconds() < end) {
      const int next = vc_next_timeout_ms(ctl);
      WaitReady(vc_loop_descriptor(ctl), next < 0 || next > 1000 ? 1000 : next);
      ++turns;
      inProcess = true;
      ASSERT_EQ(vc_process(ctl), VC_OK);
      inProcess = false;
    }
  }
};

std::string Oversize() {
  return "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(90000, 'x');
}

// The answer in two halves, 100 ms apart.
TestServer::Handler InTwoHalves(std::string answer) {
  return [answer](platform::TcpSocket& connection, const std::string&) {
    const size_t half = answer.size() / 2;
    connection.Send(answer.data(), half);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection.Send(answer.data() + half, answer.size() - half);
  };
}

// Each fault ends the command in one outcome, with the threaded modes'
// text and detail, through the same hooks; all inside vc_process.
TEST(HostLoop, EachFaultEndsInOneOutcomeInsideProcess) {
  struct Row {
    const char* name;
    TestServer::Handler server;  // null: a port nobody listens on
    uint32_t answerMs;
    bool stalled;  // a server whose connections are never made: the request cannot go out
    bool failWatch, failAwait, longArgument;
    std::string outcome;
  } rows[] = {
      {"answer", TestServer::Reply(Answer(1003, 2, {"2", "changed"})), 5000, false, false, false,
       false, "result"},
      {"answer in two halves", InTwoHalves(Answer(1003, 2, {"2", "changed"})), 5000, false, false,
       false, false, "result"},
      {"refused", nullptr, 5000, false, false, false, false,
       "connect error. connect: Connection refused"},
      {"silent", TestServer::Silent(), 200, false, false, false, false,
       "timeout. no answer within 200 ms"},
      {"close early", [](platform::TcpSocket&, const std::string&) {}, 5000, false, false, false,
       false, "timeout. peer closed before a complete answer"},
      {"oversize", TestServer::Reply(Oversize()), 5000, false, false, false, false,
       "decode. answer longer than 81919 bytes"},
      {"bad argument", TestServer::Silent(), 5000, false, false, false, true, "param error."},
      {"no watch", nullptr, 5000, true, true, false, false,
       "socket error. the socket cannot be watched"},
      {"no watch for the answer", TestServer::Silent(), 5000, false, false, true, false,
       "timeout. the answer cannot be awaited"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestServer> server;
    std::unique_ptr<testing::FullListener> full;
    if (row.server) server = std::make_unique<TestServer>(row.server);
    if (row.stalled) {
      full = std::make_unique<testing::FullListener>();
      ASSERT_TRUE(full->full());
    }
    Loop loop(server ? server->port() : full ? full->port() : testing::ClosedPort());
    ASSERT_EQ(vc_set_timeouts(loop.ctl, 5000, row.answerMs), VC_OK);
    internal::ControllerTesting::FailWatches(internal::ControllerOf(loop.ctl), row.failWatch,
                                             row.failAwait);
    ++loop.inFlight;
    const std::string argument(row.longArgument ? 300 : 1, 'a');
    ASSERT_EQ(vc_change(loop.ctl, argument.c_str(), "m", 1, Tag(1)), VC_OK);
    EXPECT_TRUE(loop.outcomes.empty()) << "a callback ran inside the command call";
    loop.Run();
    const auto& got = loop.outcomes[Tag(1)];
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].rfind(row.outcome, 0), 0u) << got[0];
    EXPECT_EQ(got[1], row.outcome == "result" ? "events -" : "events " + got[0].substr(0, got[0].find('.') + 1));
    EXPECT_EQ(got[2], "done");
    EXPECT_EQ(loop.strayCalls, 0);
    // A descriptor that stayed ready with nothing to do would spin the loop.
    EXPECT_LT(loop.turns, 10);
  }
}

// A callback may issue, cancel, or destroy the controller: every command
// still ends in one outcome and one on_done, and vc_process returns.
TEST(HostLoop, CallbacksIssueCancelAndDestroy) {
  enum Action { kIssue, kCancel, kDestroy };
  for (Action action : {kIssue, kCancel, kDestroy}) {
    SCOPED_TRACE(action);
    // The first command is answered; the second and third are not.
    TestServer answered(TestServer::Reply(Answer(1003, 2, {"2", "changed"})));
    TestServer silent(TestServer::Silent());
    auto loop = std::make_unique<Loop>(answered.port());
    Loop* l = loop.get();
    vc_set_timeouts(l->ctl, 5000, 300);
    l->Issue(Tag(1));
    l->onResult = [&](void* tag) {
      if (tag != Tag(1)) return;
      vc_set_server(l->ctl, "127.0.0.1", silent.port());
      if (action == kIssue) l->Issue(Tag(3));
      if (action == kCancel) {
        EXPECT_EQ(vc_cancel(l->ctl, Tag(2)), VC_OK);
      }
      if (action == kDestroy) {
        vc_controller_destroy(l->ctl);
        l->ctl = nullptr;
      }
    };
    vc_set_server(l->ctl, "127.0.0.1", silent.port());
    l->Issue(Tag(2));
    const int64_t end = platform::MonotonicMilliseconds() + 10000;
    while (l->inFlight > 0 && l->ctl != nullptr && platform::MonotonicMilliseconds() < end) {
      WaitReady(vc_loop_descriptor(l->ctl), 100);
      l->inProcess = true;
      ASSERT_EQ(vc_process(l->ctl), VC_OK);
      l->inProcess = false;
    }
    EXPECT_EQ(l->inFlight, 0);
    EXPECT_EQ(l->outcomes[Tag(1)], (std::vector<std::string>{"result", "events -", "done"}));
    const char* const second[] = {"timeout. no answer within 300 ms",
                                  "cancelled. cancelled by the host",
                                  "cancelled. the controller was destroyed with the command in flight"};
    EXPECT_EQ(l->outcomes[Tag(2)].at(0), second[action]);
    if (action == kIssue) {
      EXPECT_EQ(l->outcomes[Tag(3)].at(0), second[kIssue]);
    }
    EXPECT_EQ(l->outcomes[Tag(2)].back(), "done");
    EXPECT_EQ(l->strayCalls, 0);
  }
}

// vc_wakeup and vc_cancel from another thread wake a loop that waits
// without a deadline, and the outcome still comes on the loop's thread.
TEST(HostLoop, OtherThreadsWakeAndCancel) {
  TestServer silent(TestServer::Silent());
  Loop loop(silent.port());
  std::thread waker([&] { vc_wakeup(loop.ctl); });
  EXPECT_TRUE(WaitReady(vc_loop_descriptor(loop.ctl), 10000));
  waker.join();
  loop.inProcess = true;
  EXPECT_EQ(vc_process(loop.ctl), VC_OK);
  loop.inProcess = false;
  EXPECT_FALSE(WaitReady(vc_loop_descriptor(loop.ctl), 0)) << "a wake-up is taken once";

  loop.Issue(Tag(7));
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(vc_cancel(loop.ctl, Tag(7)), VC_OK);
  });
  loop.Run();
  canceller.join();
  EXPECT_EQ(loop.outcomes[Tag(7)].at(0), "cancelled. cancelled by the host");
  EXPECT_EQ(loop.strayCalls, 0);
}

// A command called outside vc_process with a deadline before the time
// vc_next_timeout_ms last gave wakes the loop, whose timer may have been
// armed for later (here: none), whether it comes from the loop's thread
// or from another one while the loop waits; the connect time-out then
// ends the stalled connect.
TEST(HostLoop, ADeadlineBeforeTheOneToldWakesTheLoop) {
  for (const bool otherThread : {false, true}) {
    SCOPED_TRACE(otherThread ? "another thread" : "the loop's thread");
    testing::FullListener full;
    ASSERT_TRUE(full.full());
    Loop loop(full.port());
    ASSERT_EQ(vc_set_timeouts(loop.ctl, 200, 5000), VC_OK);
    ASSERT_EQ(vc_process(loop.ctl), VC_OK);
    ASSERT_EQ(vc_next_timeout_ms(loop.ctl), -1);
    std::thread caller;
    if (otherThread) {
      caller = std::thread([&] { loop.Issue(Tag(1)); });
    } else {
      loop.Issue(Tag(1));
    }
    EXPECT_TRUE(WaitReady(vc_loop_descriptor(loop.ctl), 5000));
    if (caller.joinable()) caller.join();
    loop.Run();
    EXPECT_EQ(loop.outcomes[Tag(1)].at(0), "connect error. connect: no answer within 200 ms");
  }
}

// A pass takes at most 64 ready sockets. 100 connect time-outs run out
// before the loop first looks: those whose connection was made long
// before are carried on, not ended as "connect error." by the pass that
// left them for the next; those still connecting end for their time-out.
TEST(HostLoop, ADeadlineEndsOnlyWhatIsStillDue) {
  testing::FullListener full;
  ASSERT_TRUE(full.full());
  TestServer server(TestServer::Reply(Answer(1003, 2, {"2", "changed"})));
  const struct {
    uint16_t port;
    std::string outcome;
  } rows[] = {{server.port(), "result"},
              {full.port(), "connect error. connect: no answer within 200 ms"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.outcome);
    Loop loop(row.port);
    ASSERT_EQ(vc_set_timeouts(loop.ctl, 200, 5000), VC_OK);
    for (intptr_t i = 1; i <= 100; ++i) ASSERT_EQ(loop.Issue(Tag(i)), VC_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    loop.Run();
    std::map<std::string, int> outcomes;
    for (const auto& [tag, got] : loop.outcomes) ++outcomes[got.front()];
    EXPECT_EQ(outcomes, (std::map<std::string, int>{{row.outcome, 100}}));
  }
}

TEST(HostLoop, RefusedWhereNotHostDriven) {
  vc_controller* threaded = vc_controller_create(nullptr, nullptr);
  const std::pair<vc_status, vc_status> rows[] = {
      {vc_process(threaded), VC_ERROR_NOT_HOST_DRIVEN},
      {vc_wakeup(threaded), VC_ERROR_NOT_HOST_DRIVEN},
      {vc_process(nullptr), VC_ERROR_NULL_ARGUMENT},
      {vc_use_host_loop(nullptr), VC_ERROR_NULL_ARGUMENT},
  };
  for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
  EXPECT_EQ(vc_loop_descriptor(threaded), -1);
  EXPECT_EQ(vc_next_timeout_ms(threaded), -1);
  vc_controller_destroy(threaded);
}

#if defined(__linux__)
size_t ThreadCount() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                           std::filesystem::directory_iterator()));
}

// 10,000 commands from this one thread, 32 in flight at a time, each next
// one issued from on_done: the process's thread count never changes.
TEST(HostLoop, TenThousandCommandsStartNoThread) {
  TestServer server(TestServer::Reply(Answer(1003, 2, {"2", "changed"})));
  Loop loop(server.port());
  vc_set_event_hook(loop.ctl, nullptr, nullptr);
  const size_t before = ThreadCount();
  size_t most = before;
  int issued = 0, results = 0;
  loop.onDone = [&](void* tag) {
    results += loop.outcomes[tag].front() == "result";
    loop.outcomes.erase(tag);
    if (issued % 1000 == 0) most = std::max(most, ThreadCount());
    if (issued < 10000) loop.Issue(Tag(++issued));
  };
  while (issued < 32) loop.Issue(Tag(++issued));
  loop.Run(300000);
  const size_t after = ThreadCount();
  std::printf("threads before %zu, most during %zu, after %zu; %d commands, %d results\n", before,
              most, after, issued, results);
  EXPECT_EQ(results, 10000);
  EXPECT_EQ(most, before);
  EXPECT_EQ(after, before);
  EXPECT_EQ(loop.strayCalls, 0);
}
#endif

}  // namespace
}  // namespace voicecontrol
