// Cancelling commands: through the C interface by tag, wherever the command
// stands when the cancel comes, in both calling modes; and through a C++
// CancelToken. Whatever the moment, a command ends in exactly one outcome
// and one on_done.
#include <voicecontrol/voicecontrol.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <voicecontrol/controller/Outcome.h>
#include "platform/clock.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::FullListener;
using testing::TestServer;

void* Tag(intptr_t number) { return reinterpret_cast<void*>(number); }

// A command's outcome ("cancelled.", "result", ...) and on_done count, by
// tag. `onResult` runs inside on_command_result and on_qall_empty.
class Outcomes {
 public:
  std::function<void(void* tag)> onResult;

  static vc_callbacks Callbacks() {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void* tag, const char* text) {
      static_cast<Outcomes*>(user)->Add(tag, text);
    };
    callbacks.on_command_result = [](void* user, void* tag, int32_t, int32_t, const char*) {
      auto* self = static_cast<Outcomes*>(user);
      if (self->onResult) self->onResult(tag);
      self->Add(tag, "result");
    };
    callbacks.on_qall_empty = [](void* user, void* tag) {
      auto* self = static_cast<Outcomes*>(user);
      if (self->onResult) self->onResult(tag);
      self->Add(tag, "result");
    };
    callbacks.on_done = [](void* user, void* tag) {
      auto* self = static_cast<Outcomes*>(user);
      std::lock_guard<std::mutex> lock(self->mutex_);
      ++self->done_[tag];
      self->changed_.notify_all();
    };
    return callbacks;
  }

  // The outcomes of `tag` once its on_done came (at most 10 s).
  std::vector<std::string> Await(void* tag) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return done_[tag] > 0; });
    return outcomes_[tag];
  }

  int done(void* tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_[tag];
  }

 private:
  void Add(void* tag, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    outcomes_[tag].push_back(text);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<void*, std::vector<std::string>> outcomes_;
  std::map<void*, int> done_;
};

// Where the command stands when it is cancelled.
enum class When {
  kAwaitingAnswer,     // sent; the server keeps silent
  kConnecting,         // the server drops the connection request
  kRightAfterTheCall,  // at once: still queued, or just connecting
  kAfterItsOutcome,
  kTwice,
  kFromAnotherCommandsCallback,
  kFromItsOwnCallback,
};

struct Row {
  const char* name;
  bool nonblocking;
  When when;
  const char* outcome;
  vc_status cancel;  // what the (first) cancel returns
};

const Row kRows[] = {
    {"AwaitingAnswer", false, When::kAwaitingAnswer, "cancelled.", VC_OK},
    {"AwaitingAnswerNonblocking", true, When::kAwaitingAnswer, "cancelled.", VC_OK},
    {"Connecting", false, When::kConnecting, "cancelled.", VC_OK},
    {"ConnectingNonblocking", true, When::kConnecting, "cancelled.", VC_OK},
    {"RightAfterTheCallNonblocking", true, When::kRightAfterTheCall, "cancelled.", VC_OK},
    {"AfterItsOutcome", false, When::kAfterItsOutcome, "result", VC_ERROR_NOT_IN_FLIGHT},
    {"Twice", false, When::kTwice, "cancelled.", VC_OK},
    {"FromAnotherCommandsCallback", false, When::kFromAnotherCommandsCallback, "cancelled.",
     VC_OK},
    {"FromItsOwnCallback", true, When::kFromItsOwnCallback, "result", VC_ERROR_NOT_IN_FLIGHT},
};

class CancelTest : public ::testing::TestWithParam<Row> {};

// Answers QALL at once (with an empty list) and keeps silent on KICK; records
// when the client closed a silent connection.
class Server {
 public:
  Server()
      : server_([this](platform::TcpSocket& connection, const std::string& request) {
          if (request.find("<FlowID>1004</FlowID>") != std::string::npos) {
            const std::string answer = Answer(1004, 9, {"0", "", "", "", "", "", "", "", ""});
            connection.Send(answer.data(), answer.size());
            return;
          }
          received_ = true;
          char byte;
          while (connection.WaitReadable(30000) == platform::WaitResult::kReady &&
                 connection.Receive(&byte, 1) > 0) {
          }
          closedAtMs_ = platform::MonotonicMilliseconds();
        }) {}

  uint16_t port() const { return server_.port(); }
  bool received() const { return received_; }
  int64_t closedAtMs() const { return closedAtMs_; }

 private:
  std::atomic<bool> received_{false};
  std::atomic<int64_t> closedAtMs_{0};
  TestServer server_;
};

void WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST_P(CancelTest, EndsInOneOutcomeAndOneDone) {
  const Row& row = GetParam();
  Server server;
  std::unique_ptr<FullListener> full;
  if (row.when == When::kConnecting) {
    full = std::make_unique<FullListener>();
    ASSERT_TRUE(full->full());
  }
  Outcomes outcomes;
  const vc_callbacks callbacks = Outcomes::Callbacks();
  vc_controller* controller = vc_controller_create(&callbacks, &outcomes);
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", full ? full->port() : server.port()), VC_OK);
  // Far longer than any cancel may take to show.
  ASSERT_EQ(vc_set_timeouts(controller, 8000, 8000), VC_OK);
  ASSERT_EQ(vc_set_nonblocking_calls(controller, row.nonblocking ? 1 : 0), VC_OK);
  void* const tag = Tag(1);
  void* const other = Tag(2);
  std::atomic<int> cancelled{-100};
  const int64_t start = platform::MonotonicMilliseconds();

  switch (row.when) {
    case When::kAwaitingAnswer:
    case When::kTwice:
      ASSERT_EQ(vc_kick(controller, "s", "m", tag), VC_OK);
      WaitUntil([&] { return server.received(); });
      cancelled = vc_cancel(controller, tag);
      if (row.when == When::kTwice) {
        EXPECT_EQ(vc_cancel(controller, tag), VC_ERROR_NOT_IN_FLIGHT);
      }
      break;
    case When::kConnecting: {
      // The cancel comes from another thread while the command connects
      // (on the calling thread, unless calls never block).
      std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancelled = vc_cancel(controller, tag);
      });
      ASSERT_EQ(vc_kick(controller, "s", "m", tag), VC_OK);
      canceller.join();
      break;
    }
    case When::kRightAfterTheCall:
      ASSERT_EQ(vc_kick(controller, "s", "m", tag), VC_OK);
      cancelled = vc_cancel(controller, tag);
      break;
    case When::kAfterItsOutcome:
      ASSERT_EQ(vc_qall(controller, tag), VC_OK);
      outcomes.Await(tag);
      cancelled = vc_cancel(controller, tag);
      break;
    case When::kFromAnotherCommandsCallback: {
      // The silent KICK first, then a QALL whose answer cancels it. The
      // server serves one connection at a time, so the QALL goes to another.
      outcomes.onResult = [&](void*) { cancelled = vc_cancel(controller, tag); };
      ASSERT_EQ(vc_kick(controller, "s", "m", tag), VC_OK);
      WaitUntil([&] { return server.received(); });
      Server second;
      ASSERT_EQ(vc_set_server(controller, "127.0.0.1", second.port()), VC_OK);
      ASSERT_EQ(vc_qall(controller, other), VC_OK);
      EXPECT_EQ(outcomes.Await(other), std::vector<std::string>{"result"});
      break;
    }
    case When::kFromItsOwnCallback:
      outcomes.onResult = [&](void* of) { cancelled = vc_cancel(controller, of); };
      ASSERT_EQ(vc_qall(controller, tag), VC_OK);
      break;
  }

  EXPECT_EQ(outcomes.Await(tag), std::vector<std::string>{row.outcome});
  const int64_t took = platform::MonotonicMilliseconds() - start;
  EXPECT_EQ(cancelled.load(), row.cancel);
  EXPECT_LT(took, 4000) << "the cancel did not stop the command at once";
  if (row.when == When::kAwaitingAnswer) {
    // The connection ended with the cancel, not with the controller.
    WaitUntil([&] { return server.closedAtMs() != 0; });
    EXPECT_NE(server.closedAtMs(), 0);
  }
  vc_controller_destroy(controller);
  EXPECT_EQ(outcomes.done(tag), 1);
}

INSTANTIATE_TEST_SUITE_P(Moments, CancelTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CancelTokenTest, CancelsTheCommandsIssuedWithIt) {
  Server server;
  VoiceController controller(nullptr);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  OutcomeCommands commands(controller);
  CancelToken token;
  std::future<Outcome> kicked = commands.Issue(Command::Kick(L"s", L"m"), token);
  WaitUntil([&] { return server.received(); });
  EXPECT_EQ(token.Cancel(), 1);
  const Outcome outcome = kicked.get();
  ASSERT_NE(outcome.error(), nullptr);
  EXPECT_EQ(outcome.error()->text, L"cancelled.");
  EXPECT_EQ(outcome.error()->detail, "cancelled by the host");
  EXPECT_EQ(token.Cancel(), 0);  // nothing in flight any more

  // A token's commands are its own: one answered is not touched.
  std::future<Outcome> listed = commands.Issue(Command::QAll(), CancelToken());
  EXPECT_TRUE(listed.get().ok());
}

}  // namespace
}  // namespace voicecontrol
