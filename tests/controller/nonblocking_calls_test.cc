// Calls that never block: however a command ends, the call returns at once
// and the outcome comes on a thread of the library.
#include <voicecontrol/voicecontrol.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::ClosedPort;
using testing::FullListener;
using testing::TestServer;

enum class Server { kAnswers, kRefuses, kDropsConnects };

struct Row {
  const char* name;
  Server server;
  const char* argument;
  const char* outcome;
};

const Row kRows[] = {
    {"Answered", Server::kAnswers, "s1", "result"},
    {"RefusedArgument", Server::kAnswers, "bad\x01", "param error."},
    {"RefusedConnection", Server::kRefuses, "s1", "connect error."},
    {"StalledConnect", Server::kDropsConnects, "s1", "connect error."},
};

class NonblockingCallsTest : public ::testing::TestWithParam<Row> {};

struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::string outcome;
  std::thread::id thread;
  bool done = false;

  void Set(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    outcome = text;
    thread = std::this_thread::get_id();
  }
};

TEST_P(NonblockingCallsTest, CallReturnsAtOnceAndTheOutcomeComesOnALibraryThread) {
  const Row& row = GetParam();
  TestServer server(TestServer::Reply(testing::Answer(1002, 2, {"0", "kicked"})));
  std::unique_ptr<FullListener> full;
  uint16_t port = server.port();
  if (row.server == Server::kDropsConnects) {
    full = std::make_unique<FullListener>();
    ASSERT_TRUE(full->full());
    port = full->port();
  } else if (row.server == Server::kRefuses) {
    port = ClosedPort();
  }
  Seen seen;
  vc_callbacks callbacks{};
  callbacks.on_error = [](void* user, void*, const char* text) {
    static_cast<Seen*>(user)->Set(text);
  };
  callbacks.on_command_result = [](void* user, void*, int32_t, int32_t, const char*) {
    static_cast<Seen*>(user)->Set("result");
  };
  callbacks.on_done = [](void* user, void*) {
    auto* self = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->done = true;
    self->changed.notify_all();
  };
  vc_controller* controller = vc_controller_create(&callbacks, &seen);
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", port), VC_OK);
  ASSERT_EQ(vc_set_timeouts(controller, 1500, 1500), VC_OK);
  ASSERT_EQ(vc_set_nonblocking_calls(controller, 1), VC_OK);

  const int64_t start = platform::MonotonicMilliseconds();
  ASSERT_EQ(vc_kick(controller, row.argument, "m", nullptr), VC_OK);
  const int64_t callTook = platform::MonotonicMilliseconds() - start;
  {
    std::unique_lock<std::mutex> lock(seen.mutex);
    seen.changed.wait_for(lock, std::chrono::seconds(10), [&] { return seen.done; });
  }
  vc_controller_destroy(controller);

  EXPECT_LT(callTook, 500) << "the call waited for its connect";
  EXPECT_EQ(seen.outcome, row.outcome);
  EXPECT_NE(seen.thread, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(Ends, NonblockingCallsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voicecontrol
