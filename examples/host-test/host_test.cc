// The tests of an imaginary host, the "room panel": it creates a session
// for a meeting room and shows what the server says. Its integration with
// the voice server is tested against SimulatedServer, started in-process.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/testing/simulator.h>

namespace {

using voicecontrol::testing::Fault;
using voicecontrol::testing::SimulatedServer;

// The host's sink: keeps the last line it would show, and lets a caller
// wait for it.
class RoomPanel : public voicecontrol::VoiceEventSink {
 public:
  void OnError(std::wstring text) override { Show(L"error: " + text); }
  void OnCommandResult(int32_t, int32_t code, std::wstring text) override {
    Show(code == 0 ? L"ok: " + text : L"refused: " + text);
  }
  void OnQAllEmpty() override { Show(L"no sessions"); }
  void OnQAllEntry(std::wstring id, std::wstring, std::wstring title, std::wstring,
                   std::wstring, std::wstring, std::wstring, std::wstring) override {
    Show(id + L": " + title);
  }
  void OnQSingleResult(std::wstring id, std::wstring state, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring) override {
    Show(id + L" " + state);
  }

  // The next line shown (at most 10 seconds).
  std::wstring Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    shown_.wait_for(lock, std::chrono::seconds(10), [this] { return !line_.empty(); });
    std::wstring line;
    line.swap(line_);
    return line;
  }

 private:
  void Show(std::wstring line) {
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = std::move(line);
    shown_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable shown_;
  std::wstring line_;
};

class RoomPanelTest : public ::testing::Test {
 protected:
  RoomPanelTest() {
    controller_.serverAddress = server_.address();
    controller_.serverPort = server_.port();
  }

  SimulatedServer server_;  // outlives the controller, which waits for its answers
  RoomPanel panel_;
  voicecontrol::VoiceController controller_{&panel_};
};

TEST_F(RoomPanelTest, BookingARoomCreatesItsSession) {
  controller_.Create(L"room-4", L"alice", L"weekly sync", L"alice,bob");
  EXPECT_EQ(panel_.Next(), L"ok: created");
  controller_.Create(L"room-4", L"bob", L"again", L"bob");
  EXPECT_EQ(panel_.Next(), L"refused: session exists");
  ASSERT_TRUE(server_.FindSession(L"room-4").has_value());
  EXPECT_EQ(server_.FindSession(L"room-4")->title, L"weekly sync");
}

TEST_F(RoomPanelTest, AServerThatStopsMidAnswerShowsAnError) {
  server_.QueueFault(Fault::CloseEarly());
  controller_.QAll();
  EXPECT_EQ(panel_.Next(), L"error: timeout.");
  controller_.QAll();  // the fault was for one request only
  EXPECT_EQ(panel_.Next(), L"no sessions");
}

TEST_F(RoomPanelTest, KickSendsTheSessionAndTheMember) {
  controller_.Kick(L"room-4", L"bob");
  EXPECT_EQ(panel_.Next(), L"refused: no such session");
  ASSERT_EQ(server_.RequestCount(), 1u);
  const auto request = server_.Requests().front();
  EXPECT_EQ(request.method, "KICK");
  EXPECT_EQ(request.flowId, 1002);
  EXPECT_EQ(request.values, (std::vector<std::wstring>{L"room-4", L"bob"}));
}

}  // namespace
