// The controller end to end against a loopback server in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/controller_testing.h"
#include "controller/end_time.h"
#include "platform/clock.h"
#include "test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#if defined(_WIN32)
#include <windows.h>
#endif

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::HttpAnswer;
using testing::HttpRequest;
using testing::RecordingSink;
using testing::RequestDocument;
using testing::TestServer;
using Events = std::vector<std::string>;

// Answers every command sensibly, by its method.
TestServer::Handler Responder() {
  return [](platform::TcpSocket& connection, const std::string& request) {
    const std::string method = request.substr(0, request.find(' '));
    std::string answer;
    if (method == "CREATE") answer = Answer(1001, 2, {"0", "created"});
    if (method == "KICK") answer = Answer(1002, 2, {"1", "kicked"});
    if (method == "CHANGE") answer = Answer(1003, 2, {"2", "changed"});
    if (method == "DSCALL") answer = Answer(1006, 2, {"3", "scheduled"});
    if (method == "QALL") {
      answer = Answer(
          1004, 9,
          {"2", "a1,b1,", "a2,b2,", "a3,b3,", "a4,b4,", "a5,b5,", "a6,b6,", "a7,b7,", "a8,b8,"});
    }
    if (method == "QSINGLE") {
      std::vector<std::string> values;
      for (int i = 1; i <= 18; ++i) values.push_back("s" + std::to_string(i));
      answer = Answer(1005, 18, values);
    }
    connection.Send(answer.data(), answer.size());
  };
}

class ControllerTest : public ::testing::Test {
 protected:
  void Target(const TestServer& server) {
    controller->serverAddress = "127.0.0.1";
    controller->serverPort = server.port();
  }

  RecordingSink sink;
  std::unique_ptr<VoiceController> controller = std::make_unique<VoiceController>(&sink);
};

TEST_F(ControllerTest, EveryCommandSendsItsRequestAndGetsItsCallback) {
  TestServer server(Responder());
  Target(server);
  controller->Create(L"conf", L"alice", L"", L"4");
  sink.WaitFor(1);
  controller->Kick(L"conf", L"bob");
  sink.WaitFor(2);
  controller->Change(L"conf", L"carol", 0);
  sink.WaitFor(3);
  controller->QAll();
  sink.WaitFor(5);
  controller->QSingle(L"conf");
  sink.WaitFor(6);
  const std::time_t before = std::time(nullptr);
  controller->DsCall(L"conf", L"dave", 1200);
  const std::time_t after = std::time(nullptr);
  const Events events = sink.WaitFor(7);

  EXPECT_EQ(events,
            (Events{"result 1001 0 created", "result 1002 1 kicked", "result 1003 2 changed",
                    "entry a1|a2|a3|a4|a5|a6|a7|a8", "entry b1|b2|b3|b4|b5|b6|b7|b8",
                    "single s1|s2|s3|s4|s5|s6|s7|s8|s9|s10|s11|s12|s13|s14|s15|s16|s17|s18",
                    "result 1006 3 scheduled"}));

  const Events requests = server.requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[0],
            HttpRequest("CREATE", RequestDocument(1, 1001, 4, {"conf", "alice", "", "4"})));
  EXPECT_EQ(requests[1], HttpRequest("KICK", RequestDocument(2, 1002, 2, {"conf", "bob"})));
  EXPECT_EQ(requests[2],
            HttpRequest("CHANGE", RequestDocument(3, 1003, 3, {"conf", "carol", "0"})));
  EXPECT_EQ(requests[3], HttpRequest("QALL", RequestDocument(4, 1004, 0, {})));
  EXPECT_EQ(requests[3].size(), 225u);  // a 167-byte document
  EXPECT_EQ(requests[4], HttpRequest("QSINGLE", RequestDocument(5, 1005, 1, {"conf"})));
  // The end time lies 1200 s after the call, in local time.
  std::string endTimes[2];
  char text[40];
  ASSERT_TRUE(FormatLocalEndTime(before, 1200, text, sizeof text));
  endTimes[0] = text;
  ASSERT_TRUE(FormatLocalEndTime(after, 1200, text, sizeof text));
  endTimes[1] = text;
  const std::string& dscall = requests[5];
  EXPECT_TRUE(
      dscall == HttpRequest("DSCALL", RequestDocument(6, 1006, 3, {"conf", "dave", endTimes[0]})) ||
      dscall == HttpRequest("DSCALL", RequestDocument(6, 1006, 3, {"conf", "dave", endTimes[1]})))
      << dscall;
}

TEST_F(ControllerTest, ChangeWritesTheNumberInDecimal) {
  TestServer server(Responder());
  Target(server);
  controller->Change(L"a", L"b", 65535);
  sink.WaitFor(1);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            HttpRequest("CHANGE", RequestDocument(1, 1003, 3, {"a", "b", "65535"})));
}

TEST_F(ControllerTest, TextsTravelAsUtf8AndOversizedOnesAreRefused) {
  TestServer server(Responder());
  Target(server);
  controller->QSingle(L"\u00e9\u4e2d\U0001F600");
  sink.WaitFor(1);
  controller->QSingle(std::wstring(255, L'x'));
  sink.WaitFor(2);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[0],
            HttpRequest("QSINGLE",
                        RequestDocument(1, 1005, 1, {"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"})));
  EXPECT_EQ(server.requests()[1],
            HttpRequest("QSINGLE", RequestDocument(2, 1005, 1, {std::string(255, 'x')})));

  // 256 bytes of UTF-8: refused on the calling thread, nothing is sent.
  controller->Create(L"a", std::wstring(128, L'\u00e9'), L"c", L"d");
  EXPECT_EQ(sink.events().back(), "error param error.");
  controller->QSingle(std::wstring(256, L'x'));
  EXPECT_EQ(sink.events().back(), "error param error.");
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(sink.events().size(), 4u);
}

// What XML cannot carry never goes out: refused on the calling thread
// before any connection is made. Tab, line feed, carriage return and the
// characters beyond U+FFFF are fine.
TEST_F(ControllerTest, TextsXmlCannotCarryAreRefusedBeforeConnecting) {
  TestServer server(Responder());
  Target(server);
  const std::wstring refused[] = {
      std::wstring(L"a\x01" L"b"), std::wstring(L"\x1f"), std::wstring(L"x\xFFFE"),
      std::wstring(L"\xFFFF"), std::wstring(1, static_cast<wchar_t>(0xDFFF)),
      std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x",
  };
  for (const std::wstring& text : refused) {
    const size_t before = sink.events().size();
    controller->Kick(L"conf", text);
    ASSERT_EQ(sink.events().size(), before + 1);
    EXPECT_EQ(sink.events().back(), "error param error.");
  }
  EXPECT_EQ(server.connections(), 0);

  controller->QSingle(L"tab\tlf\ncr\r \U0001F600 \uFFFD");
  EXPECT_EQ(sink.WaitFor(7).size(), 7u);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            HttpRequest("QSINGLE", RequestDocument(7, 1005, 1,
                                                   {"tab\tlf\ncr\r \xf0\x9f\x98\x80 \xef\xbf\xbd"})));
}

// A text ends at its first U+0000, on every platform; what follows it is
// not looked at.
TEST_F(ControllerTest, ATextEndsAtItsFirstNul) {
  TestServer server(Responder());
  Target(server);
  controller->Kick(std::wstring(L"conf\0tail", 9), std::wstring(L"\0\x01", 2));
  sink.WaitFor(1);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], HttpRequest("KICK", RequestDocument(1, 1002, 2, {"conf", ""})));
}

TEST_F(ControllerTest, SequenceNumbersWrapAfter65534) {
  TestServer server(Responder());
  Target(server);
  for (int i = 0; i < 65533; ++i) controller->NextSeqNo();
  controller->Kick(L"a", L"b");
  sink.WaitFor(1);
  controller->Kick(L"a", L"b");
  sink.WaitFor(2);
  const Events requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], HttpRequest("KICK", RequestDocument(65534, 1002, 2, {"a", "b"})));
  EXPECT_EQ(requests[1], HttpRequest("KICK", RequestDocument(1, 1002, 2, {"a", "b"})));
}

TEST_F(ControllerTest, ConnectionFailuresAreReportedDuringTheCall) {
  uint16_t closedPort;
  {
    platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen());
    closedPort = listener.Port();
  }
  controller->serverAddress = "127.0.0.1";
  controller->serverPort = closedPort;
  controller->QAll();
  EXPECT_EQ(sink.events(), Events{"error connect error."});

  TestServer server(Responder());
  Target(server);
  for (const char* address : {"", "300.1.1.1", "localhost", "1.2.3.4.5"}) {
    controller->serverAddress = address;
    controller->QAll();
  }
  EXPECT_EQ(sink.events().size(), 5u);
  for (const std::string& event : sink.events()) EXPECT_EQ(event, "error connect error.");
  EXPECT_EQ(server.connections(), 0);
}

#if !defined(_WIN32)
// With every descriptor the process may have in use, no socket can be made.
TEST_F(ControllerTest, NoSocketToBeHadIsASocketError) {
  {
    // A whole command first: the sanitizers' type checks need descriptors
    // of their own the first time they meet a class, and then remember it.
    TestServer server(Responder());
    Target(server);
    controller->Kick(L"a", L"b");
    ASSERT_EQ(sink.WaitFor(1).size(), 1u);
  }
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  const int lowestFree = open("/dev/null", O_RDONLY);  // the lowest free descriptor
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  rlimit exhausted = original;
  exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
  controller->Kick(L"a", L"b");
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  const Events events = sink.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], "error socket error.");
}
#endif

TEST_F(ControllerTest, AnEmptyRequestIsASendError) {
  TestServer server(Responder());
  Target(server);
  EXPECT_EQ(controller->SendRequest(""), -1);
  EXPECT_EQ(sink.events(), Events{"error send error."});
  EXPECT_EQ(controller->SendRequest(HttpRequest("QALL", RequestDocument(9, 1004, 0, {})).c_str()),
            0);
  EXPECT_EQ(sink.WaitFor(3).size(), 3u);
}

TEST_F(ControllerTest, AnswerErrorsReachTheSink) {
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n", "error decode."},
      {"HTTP/1.1 299 Fine\r\n\r\n", "error decode."},
      {"garbage\r\n\r\n", "error decode."},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "error bad message."},
      {Answer(2000, 2, {"1", "x"}), "error bad message."},
      {Answer(1005, 8, std::vector<std::string>(18, "v")), "error param error."},
  };
  for (const auto& [answer, expected] : cases) {
    RecordingSink local;
    VoiceController client(&local);
    TestServer server(TestServer::Reply(answer));
    client.serverAddress = "127.0.0.1";
    client.serverPort = server.port();
    client.QSingle(L"x");
    EXPECT_EQ(local.WaitFor(1), Events{expected}) << answer;
  }
}

TEST_F(ControllerTest, AnEarlyCloseEndsTheRequestAtOnce) {
  // With an hour of time-out, only the closed connection can end it.
  internal::ControllerTesting::SetReceiveTimeout(*controller, 3600 * 1000);
  TestServer server(TestServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"));
  Target(server);
  controller->QAll();
  EXPECT_EQ(sink.WaitFor(1), Events{"error timeout."});
}

TEST_F(ControllerTest, ASilentServerTimesOut) {
  internal::ControllerTesting::SetReceiveTimeout(*controller, 200);
  TestServer server(TestServer::Silent());
  Target(server);
  controller->QAll();
  EXPECT_EQ(sink.WaitFor(1), Events{"error timeout."});
}

TEST_F(ControllerTest, TheRealTimeOutIsFiveSeconds) {
  TestServer server(TestServer::Silent());
  Target(server);
  const int64_t start = platform::MonotonicMilliseconds();
  controller->QAll();
  EXPECT_EQ(sink.WaitFor(1, 20000), Events{"error timeout."});
  EXPECT_GE(platform::MonotonicMilliseconds() - start, 4900);
}

TEST_F(ControllerTest, ARequestHandedToAWaitingThreadKeepsItsTimeOut) {
  // The first request is answered and leaves its thread waiting for the
  // next; the later ones get no answer and must end at their own time-out,
  // a short one as well as the real one.
  std::atomic<int> served{0};
  TestServer server([&](platform::TcpSocket& connection, const std::string& request) {
    if (served++ == 0) return Responder()(connection, request);
    TestServer::Silent()(connection, request);
  });
  Target(server);
  controller->Kick(L"a", L"b");
  sink.WaitFor(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  size_t expected = 1;
  for (const int64_t timeoutMs : {200, 5000}) {
    internal::ControllerTesting::SetReceiveTimeout(*controller, timeoutMs);
    const int64_t start = platform::MonotonicMilliseconds();
    controller->QAll();
    const Events events = sink.WaitFor(++expected, 20000);
    const int64_t took = platform::MonotonicMilliseconds() - start;
    ASSERT_EQ(events.size(), expected);
    EXPECT_EQ(events.back(), "error timeout.");
    EXPECT_GE(took, timeoutMs);
    EXPECT_LT(took, timeoutMs + 1500) << "time-out " << timeoutMs;
  }
}

TEST_F(ControllerTest, AnOversizedAnswerIsUndecodable) {
  // 90,000 bytes without a header end, and a header announcing more body
  // than the buffer holds.
  for (const std::string& answer :
       {std::string(90000, 'x'),
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(99999, 'y')}) {
    RecordingSink local;
    VoiceController client(&local);
    internal::ControllerTesting::SetReceiveTimeout(client, 3600 * 1000);
    TestServer server(TestServer::Reply(answer));
    client.serverAddress = "127.0.0.1";
    client.serverPort = server.port();
    client.QAll();
    EXPECT_EQ(local.WaitFor(1), Events{"error decode."});
  }
}

TEST_F(ControllerTest, AnAnswerFillingTheBufferExactlyIsStillRead) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: ";
  std::string body = testing::AnswerDocument(1, 1001, 2, {"5", "ok"});
  // Pad with white space after the document to 81,919 bytes in all.
  const size_t total = 81919;
  const size_t fixed = head.size() + 5 + 4 + body.size();
  body += std::string(total - fixed, ' ');
  const std::string answer = head + std::to_string(body.size()) + "\r\n\r\n" + body;
  ASSERT_EQ(answer.size(), total);
  internal::ControllerTesting::SetReceiveTimeout(*controller, 3600 * 1000);
  TestServer server(TestServer::Reply(answer));
  Target(server);
  controller->QAll();
  EXPECT_EQ(sink.WaitFor(1), Events{"result 1001 5 ok"});
}

TEST_F(ControllerTest, AThreadThatCannotStartEndsInATimeOut) {
  TestServer server(Responder());
  Target(server);
  internal::ControllerTesting::FailThreadStarts(*controller, true);
  controller->QAll();
  EXPECT_EQ(sink.events(), Events{"error timeout."});
  internal::ControllerTesting::FailThreadStarts(*controller, false);
  controller->QAll();
  sink.WaitFor(3);
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(ControllerTest, CommandsMayOverlap) {
  TestServer server(Responder());
  Target(server);
  controller->Create(L"a", L"b", L"c", L"d");
  controller->Kick(L"a", L"b");
  controller->Change(L"a", L"b", 7);
  Events events = sink.WaitFor(3);
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events,
            (Events{"result 1001 0 created", "result 1002 1 kicked", "result 1003 2 changed"}));
}

TEST_F(ControllerTest, TheDestructorWaitsForAnswersInFlight) {
  internal::ControllerTesting::SetReceiveTimeout(*controller, 200);
  TestServer server(TestServer::Silent());
  Target(server);
  controller->QAll();
  controller.reset();
  EXPECT_EQ(sink.events(), Events{"error timeout."});
}

TEST_F(ControllerTest, ManyRequestsInFlightEachEndOnce) {
  // The server holds each connection for a while, so that several requests
  // wait at once; the destructor then waits for all of them.
  internal::ControllerTesting::SetReceiveTimeout(*controller, 100);
  TestServer server(
      [](platform::TcpSocket& connection, const std::string&) { connection.WaitReadable(20); });
  Target(server);
  for (int i = 0; i < 6; ++i) controller->QAll();
  controller.reset();
  EXPECT_EQ(sink.events().size(), 6u);
  for (const std::string& event : sink.events()) EXPECT_EQ(event, "error timeout.");
}

TEST_F(ControllerTest, CallbacksMayIssueCommandsAndDestroyTheController) {
  TestServer server(Responder());
  Target(server);
  std::atomic<int> callbacksDone{0};
  sink.after = [&](const std::string& event) {
    if (event == "result 1001 0 created") {
      controller->QAll();  // the next command, from the callback
    } else if (event == "entry a1|a2|a3|a4|a5|a6|a7|a8") {
      controller.reset();  // the rest of this answer still arrives
    }
    ++callbacksDone;
  };
  controller->Create(L"a", L"b", L"c", L"d");
  // The sink must outlive the calls that follow the destruction.
  while (callbacksDone < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(sink.events(), (Events{"result 1001 0 created", "entry a1|a2|a3|a4|a5|a6|a7|a8",
                                   "entry b1|b2|b3|b4|b5|b6|b7|b8"}));
}

TEST_F(ControllerTest, ACallbackThatThrowsDoesNotEndTheProcess) {
#if defined(_WIN32)
  // voicecontrol.dll has a C++ runtime of its own: a host's exception cannot
  // unwind the library's frames (32-bit: std::terminate). README-windows
  // tells hosts to catch everything inside a callback.
  GTEST_SKIP() << "on Windows a callback must not throw";
#endif
  TestServer server(Responder());
  Target(server);
  sink.after = [](const std::string&) { throw std::runtime_error("host failure"); };
  controller->Kick(L"a", L"b");
  sink.WaitFor(1);
  controller->Change(L"a", L"b", 1);
  EXPECT_EQ(sink.WaitFor(2), (Events{"result 1002 1 kicked", "result 1003 2 changed"}));
}

// The sockets and threads the process holds open. Windows has no descriptor
// table to list (under Wine /proc/self/fd would show Wine's own Unix
// descriptors), but its handle count covers sockets and threads alike.
int CountOpenDescriptors() {
#if defined(_WIN32)
  DWORD handles = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &handles)) return -1;
  return static_cast<int>(handles);
#else
  const std::filesystem::path fds = "/proc/self/fd";
  std::error_code error;
  if (!std::filesystem::exists(fds, error)) return -1;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator(fds, error);
       it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
#endif
}

TEST(ControllerLoadTest, ManyControllersInParallelGetEveryOutcomeOnce) {
  constexpr int kControllers = 8;
  constexpr int kCommands = 40;
  TestServer server(Responder());
  const int descriptorsBefore = CountOpenDescriptors();
  RecordingSink sinks[kControllers];
  platform::Thread hosts[kControllers];
  for (int c = 0; c < kControllers; ++c) {
    ASSERT_TRUE(hosts[c].Start([&, c] {
      VoiceController controller(&sinks[c]);
      controller.serverAddress = "127.0.0.1";
      controller.serverPort = server.port();
      for (int i = 0; i < kCommands; ++i) {
        controller.Kick(L"conf", L"user" + std::to_wstring(i));
        sinks[c].WaitFor(static_cast<size_t>(i) + 1);
      }
    }));
  }
  for (auto& host : hosts) host.Join();
  for (auto& sink : sinks) {
    const Events events = sink.events();
    EXPECT_EQ(events.size(), static_cast<size_t>(kCommands));
    for (const std::string& event : events) EXPECT_EQ(event, "result 1002 1 kicked");
  }
  EXPECT_EQ(server.requests().size(), static_cast<size_t>(kControllers * kCommands));
  // The server may still be closing its side of the last connection when
  // the last answer has been delivered; nothing may stay open beyond that.
  const int64_t deadline = platform::MonotonicMilliseconds() + 2000;
  while (CountOpenDescriptors() != descriptorsBefore &&
         platform::MonotonicMilliseconds() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);
}

#if defined(__linux__)
// A burst needs more receive threads than stay waiting afterwards. Those
// beyond end after a while without a request, and each gives back the
// descriptor it waited on as it ends, not only once the next request comes.
TEST(ControllerLoadTest, ThreadsLeftFromABurstGiveBackTheirDescriptors) {
  constexpr int kBurst = 8;
  const TestServer::Handler respond = Responder();
  // One answer at a time, each a little late: the whole burst is in flight
  // at once.
  TestServer server([&](platform::TcpSocket& connection, const std::string& request) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    respond(connection, request);
  });
  RecordingSink sink;
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  // Two at once first: the two threads that stay waiting exist from here on.
  controller.Kick(L"conf", L"warm-up 1");
  controller.Kick(L"conf", L"warm-up 2");
  ASSERT_EQ(sink.WaitFor(2).size(), 2u);
  int settled = CountOpenDescriptors();
  for (int last = -1; settled != last;) {  // the server may still be closing
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    last = settled;
    settled = CountOpenDescriptors();
  }
  for (int i = 0; i < kBurst; ++i) controller.Kick(L"conf", L"user" + std::to_wstring(i));
  EXPECT_EQ(sink.WaitFor(kBurst + 2).size(), static_cast<size_t>(kBurst + 2));
  EXPECT_GT(CountOpenDescriptors(), settled);  // the burst's threads still wait
  // They end after two seconds without a request; the kept two were there
  // before the burst already.
  const int64_t deadline = platform::MonotonicMilliseconds() + 6000;
  while (CountOpenDescriptors() > settled && platform::MonotonicMilliseconds() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(CountOpenDescriptors(), settled);
}
#endif

// The log files are named relative to the current directory ("../"), so
// these tests run from a fresh subdirectory of a temporary directory.
class LogFileTest : public ControllerTest {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    root_ = testing::FreshTempDirectory("voicecontrol_logs_");
    std::filesystem::create_directory(root_ / "run");
    std::filesystem::current_path(root_ / "run");
  }
  void TearDown() override {
    controller.reset();
    SetLogDirectory(nullptr);  // the setting is the process's
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }
  std::string SendLog() { return testing::ReadFileBytes((root_ / "SendVoiceMsg.log").string()); }
  std::string ReceiveLog() { return testing::ReadFileBytes((root_ / "RecvVoiceMsg.log").string()); }
  const std::filesystem::path& root() const { return root_; }
  // The log files found in `directory`, in name order.
  static std::vector<std::string> LogsIn(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      const std::string name = entry.path().filename().u8string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The bytes of a file whose name may hold any character.
  static std::string ReadPath(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Runs one Kick against a server answering `answer`, to its outcome.
  std::string KickAnswered(const std::string& answer) {
    TestServer server(TestServer::Reply(answer));
    Target(server);
    const size_t before = sink.events().size();
    controller->Kick(L"conf", L"bob");
    sink.WaitFor(before + 1);
    return server.requests().empty() ? std::string() : server.requests().back();
  }

  const std::string sendMarker{"-\0-\0-\0>\0 \0\r\0\n\0", 14};
  const std::string receiveMarker{"<\0-\0-\0-\0 \0\r\0\n\0", 14};

 private:
  std::filesystem::path previous_;
  std::filesystem::path root_;
};

TEST_F(LogFileTest, EachLogHoldsTheLastRecordOnly) {
  const std::string answer = Answer(1002, 2, {"1", "kicked"});
  TestServer server(TestServer::Reply(answer));
  Target(server);
  controller->Kick(L"conf", L"bob");
  sink.WaitFor(1);
  EXPECT_EQ(SendLog(), sendMarker + server.requests()[0]);
  EXPECT_EQ(ReceiveLog(), receiveMarker + answer);

  controller->Kick(L"conf", L"eve");
  sink.WaitFor(2);
  EXPECT_EQ(SendLog(), sendMarker + server.requests()[1]);
  EXPECT_EQ(ReceiveLog(), receiveMarker + answer);
}

// Larger than one read: the answer is put together across reads before it
// is logged and parsed.
TEST_F(LogFileTest, AnAnswerLargerThanOneReadIsLoggedAndReadWhole) {
  std::string body = testing::AnswerDocument(1, 1001, 2, {"5", "ok"});
  body += std::string(30000 - body.size(), ' ');
  const std::string answer =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  TestServer server(TestServer::Reply(answer));
  Target(server);
  controller->QAll();
  EXPECT_EQ(sink.WaitFor(1), Events{"result 1001 5 ok"});
  EXPECT_EQ(ReceiveLog(), receiveMarker + answer);
}

// A sink may look at the send log from its callback: even a "timeout."
// that follows at once (the server closed early) finds its own request
// recorded there.
TEST_F(LogFileTest, TheSendLogHoldsTheRequestBeforeAnyOutcome) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> seenByCallbacks;  // guarded by mutex
  sink.after = [&](const std::string&) {
    const std::string log = SendLog();
    std::lock_guard<std::mutex> lock(mutex);
    seenByCallbacks.push_back(log);
    changed.notify_all();
  };
  TestServer server(TestServer::Reply(""));
  Target(server);
  constexpr size_t kRequests = 20;
  for (size_t i = 0; i < kRequests; ++i) {
    controller->Kick(L"conf", L"member" + std::to_wstring(i));
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return seenByCallbacks.size() == i + 1; }));
  }
  EXPECT_EQ(sink.events(), std::vector<std::string>(kRequests, "error timeout."));
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), kRequests);
  for (size_t i = 0; i < kRequests; ++i) EXPECT_EQ(seenByCallbacks[i], sendMarker + requests[i]);
}

TEST_F(LogFileTest, FailedAnswersLeaveTheReceiveLogAlone) {
  const std::string first = Answer(1004, 9, {"0", "", "", "", "", "", "", "", ""});
  {
    TestServer server(TestServer::Reply(first));
    Target(server);
    controller->QAll();
    sink.WaitFor(1);
  }
  // A short wait for the silent server; the oversized answer gets the full
  // time-out, so that a slow machine still reads it all before then.
  const struct {
    TestServer::Handler handler;
    int64_t timeoutMs;
  } cases[] = {{TestServer::Silent(), 100}, {TestServer::Reply(std::string(90000, 'x')), 5000}};
  for (const auto& c : cases) {
    internal::ControllerTesting::SetReceiveTimeout(*controller, c.timeoutMs);
    TestServer server(c.handler);
    Target(server);
    const size_t seen = sink.events().size();
    controller->QAll();
    sink.WaitFor(seen + 1);
    EXPECT_EQ(SendLog(), sendMarker + server.requests().back());
    EXPECT_EQ(ReceiveLog(), receiveMarker + first);
  }
  EXPECT_EQ(sink.events(), (Events{"empty", "error timeout.", "error decode."}));
}

TEST_F(LogFileTest, ARecordEndsAtTheFirstZeroByte) {
  const std::string answer = std::string("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na\0b", 42);
  TestServer server(TestServer::Reply(answer));
  Target(server);
  controller->QAll();
  sink.WaitFor(1);
  EXPECT_EQ(ReceiveLog(), receiveMarker + "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na");
}

TEST_F(LogFileTest, AChosenDirectoryReceivesBothRecords) {
  const std::string answer = Answer(1002, 2, {"1", "kicked"});
  // UTF-8 in the name, and a trailing separator, are both fine.
  const std::filesystem::path chosen = root() / std::filesystem::u8path("logs \xc3\xa9");
  std::filesystem::create_directory(chosen);
  ASSERT_TRUE(SetLogDirectory((chosen.u8string() + "/").c_str()));
  const std::string request = KickAnswered(answer);
  EXPECT_EQ(ReadPath(chosen / "SendVoiceMsg.log"), sendMarker + request);
  EXPECT_EQ(ReadPath(chosen / "RecvVoiceMsg.log"), receiveMarker + answer);
  EXPECT_EQ(LogsIn(root()), std::vector<std::string>{});  // nothing in "../"

  // NULL and "" both go back to "../".
  for (const char* reset : {static_cast<const char*>(nullptr), ""}) {
    std::filesystem::remove(root() / "SendVoiceMsg.log");
    ASSERT_TRUE(SetLogDirectory(reset));
    const std::string again = KickAnswered(answer);
    EXPECT_EQ(SendLog(), sendMarker + again);
  }
  // A relative directory is found from the working directory, as "../" is.
  std::filesystem::create_directory("here");
  ASSERT_TRUE(SetLogDirectory("here"));
  const std::string relative = KickAnswered(answer);
  EXPECT_EQ(testing::ReadFileBytes("here/SendVoiceMsg.log"), sendMarker + relative);
}

TEST_F(LogFileTest, ADirectoryThatDoesNotExistChangesNothing) {
  const std::filesystem::path chosen = root() / "chosen";
  std::filesystem::create_directory(chosen);
  ASSERT_TRUE(SetLogDirectory(chosen.string().c_str()));
  EXPECT_FALSE(SetLogDirectory((root() / "missing").string().c_str()));
  // A file is not a directory either.
  std::filesystem::path file = root() / "plain";
  { std::ofstream(file.string()) << "x"; }
  EXPECT_FALSE(SetLogDirectory(file.string().c_str()));
  const std::string request = KickAnswered(Answer(1002, 2, {"1", "kicked"}));
  EXPECT_EQ(testing::ReadFileBytes((chosen / "SendVoiceMsg.log").string()), sendMarker + request);
  EXPECT_FALSE(std::filesystem::exists(root() / "missing"));

  // Nor does it turn logging back on.
  DisableLogs();
  EXPECT_FALSE(SetLogDirectory((root() / "missing").string().c_str()));
  std::filesystem::remove(chosen / "SendVoiceMsg.log");
  KickAnswered(Answer(1002, 2, {"1", "kicked"}));
  EXPECT_FALSE(std::filesystem::exists(chosen / "SendVoiceMsg.log"));
}

TEST_F(LogFileTest, DisabledLogsWriteNoFiles) {
  const std::filesystem::path chosen = root() / "chosen";
  std::filesystem::create_directory(chosen);
  ASSERT_TRUE(SetLogDirectory(chosen.string().c_str()));
  DisableLogs();
  KickAnswered(Answer(1002, 2, {"1", "kicked"}));
  EXPECT_EQ(sink.events().back(), "result 1002 1 kicked");  // the command is unaffected
  EXPECT_EQ(LogsIn(chosen), std::vector<std::string>{});
  EXPECT_EQ(LogsIn(root()), std::vector<std::string>{});
  // The next SetLogDirectory turns them on again.
  ASSERT_TRUE(SetLogDirectory(nullptr));
  KickAnswered(Answer(1002, 2, {"1", "kicked"}));
  EXPECT_EQ(LogsIn(root()), (std::vector<std::string>{"RecvVoiceMsg.log", "SendVoiceMsg.log"}));
}

// Moving the logs while requests are being logged from several threads:
// every record lands whole in one of the places, and nothing breaks.
TEST_F(LogFileTest, TheLogsMayMoveWhileRequestsAreLogged) {
  const std::filesystem::path places[] = {root() / "a", root() / "b"};
  for (const auto& place : places) std::filesystem::create_directory(place);
  TestServer server(TestServer::Reply(Answer(1002, 2, {"1", "kicked"})));
  Target(server);
  std::atomic<bool> stop{false};
  std::thread mover([&] {
    for (int i = 0; !stop; ++i) {
      if (i % 3 == 2) {
        DisableLogs();
      } else {
        SetLogDirectory(places[i % 2].string().c_str());
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  constexpr size_t kCommands = 40;
  for (size_t i = 0; i < kCommands; ++i) {
    controller->Kick(L"conf", L"bob");
    sink.WaitFor(i + 1);
  }
  stop = true;
  mover.join();
  EXPECT_EQ(sink.events(), std::vector<std::string>(kCommands, "result 1002 1 kicked"));
  const std::vector<std::string> requests = server.requests();
  for (const auto& place : places) {
    const std::string log = testing::ReadFileBytes((place / "SendVoiceMsg.log").string());
    if (log == "<missing>") continue;
    EXPECT_NE(std::find(requests.begin(), requests.end(), log.substr(sendMarker.size())),
              requests.end())
        << "not a whole record: " << log;
  }
}

TEST_F(LogFileTest, AnUnwritableLogDoesNotMatter) {
  // A directory where the file should be: it cannot be created.
  std::filesystem::create_directory("../SendVoiceMsg.log");
  std::filesystem::create_directory("../RecvVoiceMsg.log");
  TestServer server(Responder());
  Target(server);
  controller->Kick(L"a", L"b");
  EXPECT_EQ(sink.WaitFor(1), Events{"result 1002 1 kicked"});
  // A directory that vanishes after it was chosen neither.
  std::filesystem::create_directory(root() / "gone");
  ASSERT_TRUE(SetLogDirectory((root() / "gone").string().c_str()));
  std::filesystem::remove(root() / "gone");
  controller->Kick(L"a", L"b");
  EXPECT_EQ(sink.WaitFor(2).back(), "result 1002 1 kicked");
  // No temporary file is left: the two directories and "run".
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root()), {}), 3);
}

}  // namespace
}  // namespace voicecontrol
