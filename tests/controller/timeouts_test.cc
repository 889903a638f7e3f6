// The connect and answer time-outs a host chooses, through the C++
// controller and the C interface alike: which values are taken, that a
// refused choice changes nothing, that a short time-out ends a command
// long before the default would, and that the error names the time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/voicecontrol.h>
#include "platform/clock.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::FullListener;
using testing::TestServer;

// The one error a command ended in, and when.
struct Outcome {
  std::string text;
  std::string detail;
  bool onCallingThread = false;
  int64_t tookMs = 0;
};

// Drives one controller through either interface: the rows below run
// through both, since the C interface has a path of its own to the
// setting and to its status codes.
class Client {
 public:
  virtual ~Client() = default;
  // True when the choice was taken.
  virtual bool SetTimeouts(int64_t connectMs, int64_t answerMs) = 0;
  virtual void Target(uint16_t port) = 0;
  // Issues a QAll; `between` runs after it has returned.
  Outcome QAllFailing(const std::function<void()>& between = {}) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      outcome_.reset();
    }
    caller_ = std::this_thread::get_id();
    const int64_t start = platform::MonotonicMilliseconds();
    Issue();
    if (between) between();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return outcome_ != nullptr; });
    if (outcome_ == nullptr) return Outcome{"<none>", "", false, -1};
    Outcome result = *outcome_;
    result.tookMs -= start;
    return result;
  }

 protected:
  virtual void Issue() = 0;
  void Failed(const std::string& text, const char* detail) {
    auto outcome = std::make_unique<Outcome>(Outcome{
        text, detail, std::this_thread::get_id() == caller_, platform::MonotonicMilliseconds()});
    std::lock_guard<std::mutex> lock(mutex_);
    outcome_ = std::move(outcome);
    changed_.notify_all();
  }

 private:
  std::thread::id caller_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<Outcome> outcome_;
};

class CppClient final : public Client, private testing::RecordingSink {
 public:
  bool SetTimeouts(int64_t connectMs, int64_t answerMs) override {
    return controller_.SetTimeouts(std::chrono::milliseconds(connectMs),
                                   std::chrono::milliseconds(answerMs));
  }
  void Target(uint16_t port) override {
    controller_.serverAddress = "127.0.0.1";
    controller_.serverPort = port;
  }

 private:
  void Issue() override { controller_.QAll(); }
  void OnError(std::wstring text) override { Failed(testing::Utf8(text), ErrorDetail()); }

  VoiceController controller_{this};
};

class CClient final : public Client {
 public:
  CClient() {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void*, const char* text) {
      static_cast<CClient*>(user)->Failed(text, vc_error_detail());
    };
    controller_ = vc_controller_create(&callbacks, this);
  }
  ~CClient() override { vc_controller_destroy(controller_); }
  CClient(const CClient&) = delete;
  CClient& operator=(const CClient&) = delete;

  bool SetTimeouts(int64_t connectMs, int64_t answerMs) override {
    const vc_status status = vc_set_timeouts(controller_, static_cast<uint32_t>(connectMs),
                                             static_cast<uint32_t>(answerMs));
    EXPECT_TRUE(status == VC_OK || status == VC_ERROR_BAD_TIMEOUT) << status;
    return status == VC_OK;
  }
  void Target(uint16_t port) override {
    ASSERT_EQ(vc_set_server(controller_, "127.0.0.1", port), VC_OK);
  }

 private:
  void Issue() override { ASSERT_EQ(vc_qall(controller_, nullptr), VC_OK); }

  vc_controller* controller_ = nullptr;
};

std::unique_ptr<Client> MakeClient(bool c) {
  if (c) return std::make_unique<CClient>();
  return std::make_unique<CppClient>();
}

const char* Name(bool c) { return c ? "C" : "C++"; }

TEST(TimeoutsTest, OnlyTimeOutsFromOneMillisecondToTenMinutesAreTaken) {
  // Every row first chooses 5 s and 150 ms, then its own pair. A refused
  // pair must leave the 150 ms in place, which a silent server shows.
  constexpr int64_t kMax = 600000;
  const struct {
    int64_t connectMs, answerMs;
    bool taken;
    const char* detail;  // of a QAll to a silent server afterwards; null: not tried
  } rows[] = {
      {0, 5000, false, "no answer within 150 ms"},
      {5000, 0, false, "no answer within 150 ms"},
      {kMax + 1, 5000, false, "no answer within 150 ms"},
      {5000, kMax + 1, false, "no answer within 150 ms"},
      {UINT32_MAX, UINT32_MAX, false, "no answer within 150 ms"},
      {kMax, 1, true, "no answer within 1 ms"},
      {1, kMax, true, nullptr},
  };
  TestServer silent(TestServer::Silent());
  for (const bool c : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(Name(c)) + " " + std::to_string(row.connectMs) + "/" +
                   std::to_string(row.answerMs));
      std::unique_ptr<Client> client = MakeClient(c);
      client->Target(silent.port());
      ASSERT_TRUE(client->SetTimeouts(5000, 150));
      EXPECT_EQ(client->SetTimeouts(row.connectMs, row.answerMs), row.taken);
      if (row.detail == nullptr) continue;
      const Outcome outcome = client->QAllFailing();
      EXPECT_EQ(outcome.text, "timeout.");
      EXPECT_EQ(outcome.detail, row.detail);
    }
  }
  // Beyond what the C interface can pass.
  CppClient cpp;
  EXPECT_FALSE(cpp.SetTimeouts(-1, 5000));
  EXPECT_FALSE(cpp.SetTimeouts(5000, INT64_MIN));
  EXPECT_FALSE(cpp.SetTimeouts(int64_t{1} << 40, 5000));
  EXPECT_EQ(vc_set_timeouts(nullptr, 5000, 5000), VC_ERROR_NULL_ARGUMENT);
}

TEST(TimeoutsTest, AShortTimeOutEndsTheCommandAndIsNamed) {
  FullListener stalled;
  ASSERT_TRUE(stalled.full()) << "the accept queue never filled";
  TestServer silent(TestServer::Silent());
  const struct {
    const char* name;
    bool c;
    bool connectStalls;  // else the server accepts and never answers
    int64_t connectMs, answerMs;
    // Chosen right after the command returned, while its answer is awaited:
    // the command in flight keeps its own.
    bool lengthenedInFlight;
    const char* text;
    const char* detail;
    int64_t boundMs;  // the time-out that must end it
  } rows[] = {
      {"connect", false, true, 250, 5000, false, "connect error.",
       "connect: no answer within 250 ms", 250},
      {"connect", true, true, 1000, 5000, false, "connect error.",
       "connect: no answer within 1 s", 1000},
      {"answer", false, false, 5000, 200, false, "timeout.", "no answer within 200 ms", 200},
      {"answer", true, false, 5000, 300, false, "timeout.", "no answer within 300 ms", 300},
      {"answer, lengthened in flight", false, false, 5000, 200, true, "timeout.",
       "no answer within 200 ms", 200},
      {"answer, lengthened in flight", true, false, 5000, 200, true, "timeout.",
       "no answer within 200 ms", 200},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(Name(row.c)) + " " + row.name);
    std::unique_ptr<Client> client = MakeClient(row.c);
    client->Target(row.connectStalls ? stalled.port() : silent.port());
    ASSERT_TRUE(client->SetTimeouts(row.connectMs, row.answerMs));
    const Outcome outcome = client->QAllFailing([&] {
      if (row.lengthenedInFlight) {
        EXPECT_TRUE(client->SetTimeouts(600000, 600000));
      }
    });
    EXPECT_EQ(outcome.text, row.text);
    EXPECT_EQ(outcome.detail, row.detail);
    // A connection is given up on the calling thread, an answer elsewhere.
    EXPECT_EQ(outcome.onCallingThread, row.connectStalls);
    EXPECT_GE(outcome.tookMs, row.boundMs);
    // Far below the 5 s a default would take, on a loaded machine too.
    EXPECT_LT(outcome.tookMs, 3500);
  }
}

}  // namespace
}  // namespace voicecontrol
