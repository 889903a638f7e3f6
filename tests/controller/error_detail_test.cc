// The reason behind every error: each way a command can fail, with the
// fixed text the sink gets, the detail ErrorDetail() gives during that
// OnError call, and the thread the call comes on.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/controller_testing.h"
#include "platform/clock.h"
#include "test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::ClosedPort;
using testing::FullListener;
using testing::HttpAnswer;
using testing::RecordingSink;
using testing::TestServer;

// What one OnError call saw.
struct Report {
  std::string text;
  std::string detail;
  bool onCallingThread = false;
};

// Records every error with its detail, read inside OnError.
class DetailSink : public RecordingSink {
 public:
  void OnError(std::wstring text) override {
    Report report{testing::Utf8(text), ErrorDetail(),
                  std::this_thread::get_id() == callingThread};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(report);
    }
    RecordingSink::OnError(std::move(text));
  }
  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override {
    detailOutsideOnError = ErrorDetail();
    RecordingSink::OnCommandResult(flowId, code, std::move(text));
  }

  std::vector<Report> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

  std::thread::id callingThread = std::this_thread::get_id();
  std::string detailOutsideOnError = "<not called>";

 private:
  std::mutex mutex_;
  std::vector<Report> reports_;
};

struct Row {
  const char* name;
  // Sets up the target (server, address, time-out) and issues the command.
  std::function<void(VoiceController&)> command;
  std::string text;
  std::string detail;
  bool onCallingThread;
};

// A server run by `handler`, and `issue` with the controller aimed at it;
// the server lives as long as the row.
std::function<void(VoiceController&)> Serving(TestServer::Handler handler,
                                              std::function<void(VoiceController&)> issue) {
  auto server = std::make_shared<TestServer>(std::move(handler));
  return [server, issue](VoiceController& controller) {
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = server->port();
    issue(controller);
  };
}

// The same with a server that answers every request with `bytes`.
std::function<void(VoiceController&)> Answering(std::string bytes,
                                                std::function<void(VoiceController&)> issue) {
  return Serving(TestServer::Reply(std::move(bytes)), std::move(issue));
}

void QAll(VoiceController& controller) { controller.QAll(); }

std::string Body(const std::string& inner) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n" + inner +
         "</Response>\n</Interface>";
}

TEST(ErrorDetailTest, EveryErrorPathTellsWhy) {
  const std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
  std::vector<Row> rows = {
      {"refused connection",
       [](VoiceController& c) {
         c.serverAddress = "127.0.0.1";
         c.serverPort = ClosedPort();
         c.QAll();
       },
       "connect error.", "connect: Connection refused", true},
      {"host name instead of an address",
       [](VoiceController& c) {
         c.serverAddress = "localhost";
         c.serverPort = 80;
         c.QAll();
       },
       "connect error.", "connect: \"localhost\" is not a dotted IPv4 address", true},
      {"empty request",
       Answering(Answer(1001, 2, {"0", "x"}),
                 [](VoiceController& c) { EXPECT_EQ(c.SendRequest(""), -1); }),
       "send error.", "send: the request is empty", true},
      {"text too long", Answering("", [](VoiceController& c) { c.QSingle(std::wstring(256, L'x')); }),
       "param error.", "argument 1 is 256 bytes in UTF-8, more than 255", true},
      {"control character",
       Answering("", [](VoiceController& c) { c.Kick(L"conf", L"a\x01" L"b"); }), "param error.",
       "argument 2 holds U+0001, which XML cannot carry", true},
      {"U+FFFE",
       Answering("", [](VoiceController& c) { c.Create(L"a", L"b", L"x\xFFFE", L"d"); }),
       "param error.", "argument 3 holds U+FFFE, which XML cannot carry", true},
      {"lone surrogate",
       Answering("", [&](VoiceController& c) { c.QSingle(L"x" + loneSurrogate); }),
       "param error.", "argument 1 holds U+D800, which XML cannot carry", true},
      {"no receive thread",
       Answering(Answer(1001, 2, {"0", "x"}),
                 [](VoiceController& c) {
                   internal::ControllerTesting::FailThreadStarts(c, true);
                   c.QAll();
                 }),
       "timeout.", "no receive thread could be started", true},
      {"no answer in time",
       Serving(TestServer::Silent(),
               [](VoiceController& c) {
                 internal::ControllerTesting::SetReceiveTimeout(c, 1000);
                 c.QAll();
               }),
       "timeout.", "no answer within 1 s", false},
      {"peer closed early", Answering("HTTP/1.1 200 OK\r\n", QAll), "timeout.",
       "peer closed before a complete answer", false},
      {"answer too long", Answering(std::string(90000, 'x'), QAll), "decode.",
       "answer longer than 81919 bytes", false},
      // The HTTP and document layers name these: the controller passes
      // their words on.
      {"HTTP/1.0 answer", Answering("HTTP/1.0 200 OK\r\n\r\n", QAll), "decode.",
       "HTTP/1.0 answer", false},
      {"HTTP status 501",
       Answering("HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n\r\n", QAll),
       "bad message.", "HTTP status 501; answer has no body", false},
      // The parser's own words may follow the position (": ...").
      {"not well-formed XML",
       Answering(HttpAnswer("<Interface>\n<Response></Interface>"), QAll), "bad message.",
#if defined(_WIN32)
       // Wine's DOM gives no position; the library's own parser places the
       // fault at the end tag's name.
       "answer is not well-formed XML (line 2, column 13)", false},
#else
       "answer is not well-formed XML (line 2, column 23)", false},
#endif
      {"FlowID of no command", Answering(Answer(2000, 2, {"1", "x"}), QAll), "bad message.",
       "FlowID 2000 is not a command", false},
      // Seq_No plays no part, nor does what reading it finds.
      {"no FlowID",
       Answering(HttpAnswer(Body("<Seq_No>x</Seq_No>\n<FieldNum>2</FieldNum>\n")), QAll),
       "bad message.", "answer has no FlowID", false},
      {"FlowID no number",
       Answering(HttpAnswer(Body("<FlowID>abc</FlowID>\n<FieldNum>2</FieldNum>\n")), QAll),
       "bad message.", "FlowID \"abc\" is not a number", false},
      {"FlowID 0", Answering(Answer(0, 2, {"1", "x"}), QAll), "bad message.",
       "FlowID 0 is not a command", false},
      {"FlowID -1", Answering(Answer(-1, 2, {"1", "x"}), QAll), "bad message.",
       "FlowID -1 is not a command", false},
      {"FieldNum no number",
       Answering(HttpAnswer(Body("<FlowID>1001</FlowID>\n<FieldNum> </FieldNum>\n")), QAll),
       "param error.", "FieldNum \" \" is not a number; at least 1 needed for FlowID 1001", false},
      {"no FieldNum", Answering(HttpAnswer(Body("<FlowID>1004</FlowID>\n")), QAll), "param error.",
       "answer has no FieldNum; at least 9 needed for FlowID 1004", false},
      {"too few fields for a result", Answering(Answer(1001, 0, {}), QAll), "param error.",
       "FieldNum 0 below 1 for FlowID 1001", false},
      {"too few fields for QAll", Answering(Answer(1004, 8, std::vector<std::string>(9, "1")), QAll),
       "param error.", "FieldNum 8 below 9 for FlowID 1004", false},
      {"too few fields for QSingle",
       Answering(Answer(1005, -3, std::vector<std::string>(18, "v")), QAll), "param error.",
       "FieldNum -3 below 9 for FlowID 1005", false},
  };
#if !defined(_WIN32)
  // With every descriptor the process may have in use, no socket can be
  // made. (A command ran before: the sanitizers need descriptors of their
  // own the first time they meet a class.)
  rows.push_back({"no socket to be had",
                  [](VoiceController& c) {
                    c.serverAddress = "127.0.0.1";
                    c.serverPort = ClosedPort();
                    rlimit original{};
                    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
                    const int lowestFree = open("/dev/null", O_RDONLY);
                    ASSERT_GE(lowestFree, 0);
                    close(lowestFree);
                    rlimit exhausted = original;
                    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
                    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
                    c.QAll();
                    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
                  },
                  "socket error.", "socket: Too many open files", true});
#endif
  // Last, as it takes the whole connect deadline: a server that never
  // answers the connection request. The call returns within the deadline,
  // with its error already delivered.
  auto full = std::make_shared<FullListener>();
  ASSERT_TRUE(full->full()) << "the accept queue never filled";
  int64_t connectMs = 0;
  rows.push_back({"no answer to the connection request",
                  [full, &connectMs](VoiceController& c) {
                    c.serverAddress = "127.0.0.1";
                    c.serverPort = full->port();
                    const int64_t start = platform::MonotonicMilliseconds();
                    c.QAll();
                    connectMs = platform::MonotonicMilliseconds() - start;
                  },
                  "connect error.", "connect: no answer within 5 s", true});

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DetailSink sink;
    {
      VoiceController controller(&sink);
      row.command(controller);
      if (row.onCallingThread) {
        // Delivered before the command returned.
        EXPECT_EQ(sink.events().size(), 1u);
      }
      sink.WaitFor(1);
    }  // waits for anything still in flight
    const std::vector<Report> reports = sink.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, row.text);
    EXPECT_TRUE(reports[0].detail == row.detail ||
                reports[0].detail.rfind(row.detail + ": ", 0) == 0)
        << reports[0].detail;
    EXPECT_EQ(reports[0].onCallingThread, row.onCallingThread);
    EXPECT_STREQ(ErrorDetail(), "");  // only during the call
  }
  EXPECT_GE(connectMs, 5000);
  EXPECT_LT(connectMs, 6000);
  RecordProperty("connect_bound_ms", static_cast<int>(connectMs));
  std::printf("a connection request without an answer ended after %lld ms\n",
              static_cast<long long>(connectMs));
}

TEST(ErrorDetailTest, OutsideOnErrorThereIsNoDetail) {
  DetailSink sink;
  TestServer server(TestServer::Reply(Answer(1002, 2, {"0", "kicked"})));
  VoiceController controller(&sink);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  controller.Kick(L"conf", L"bob");
  ASSERT_EQ(sink.WaitFor(1), std::vector<std::string>{"result 1002 0 kicked"});
  EXPECT_EQ(sink.detailOutsideOnError, "");
  EXPECT_STREQ(ErrorDetail(), "");
}

// A sink that issues a command from OnError, which fails at once: that
// call sees its own detail, and the outer one is back afterwards.
TEST(ErrorDetailTest, ANestedReportHasItsOwnDetail) {
  struct NestingSink : RecordingSink {
    VoiceController* controller = nullptr;
    std::vector<std::string> seen;
    void OnError(std::wstring text) override {
      seen.push_back(std::string("before ") + ErrorDetail());
      if (seen.size() == 1) controller->QSingle(std::wstring(300, L'x'));
      seen.push_back(std::string("after ") + ErrorDetail());
      RecordingSink::OnError(std::move(text));
    }
  } sink;
  VoiceController controller(&sink);
  sink.controller = &controller;
  controller.serverAddress = "localhost";
  controller.QAll();
  EXPECT_EQ(sink.seen, (std::vector<std::string>{
                           "before connect: \"localhost\" is not a dotted IPv4 address",
                           "before argument 1 is 300 bytes in UTF-8, more than 255",
                           "after argument 1 is 300 bytes in UTF-8, more than 255",
                           "after connect: \"localhost\" is not a dotted IPv4 address"}));
}

}  // namespace
}  // namespace voicecontrol
