// The C interface end to end against a loopback server in this process.
#include <voicecontrol/voicecontrol.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "test_support.h"

#if defined(__linux__)
#include <pthread.h>

#include "c_interface_thread_exit.h"
#endif

// From c_interface_c99.c: one kick from a C program; its outcome as text.
extern "C" int vc_test_kick_from_c(uint16_t port, char* outcome, size_t capacity);

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::ClosedPort;
using testing::FieldValues;
using testing::HttpRequest;
using testing::RequestDocument;
using testing::TestServer;
using Events = std::vector<std::string>;

void* Tag(intptr_t number) { return reinterpret_cast<void*>(number); }

std::string Joined(const char* const* texts, int count) {
  std::string joined;
  for (int i = 0; i < count; ++i) joined += (i > 0 ? "|" : "") + std::string(texts[i]);
  return joined;
}

// Records every callback as "<tag> <event>": "error <text>", "result <flow>
// <code> <text>", "empty", "entry a|...|h", "single v1|...|v18", "done".
class Recorder {
 public:
  static vc_callbacks Callbacks() {
    vc_callbacks callbacks{};
    callbacks.on_error = [](void* user, void* tag, const char* text) {
      Of(user)->RecordDetail(vc_error_detail());
      Of(user)->Record(tag, std::string("error ") + text);
    };
    callbacks.on_command_result = [](void* user, void* tag, int32_t flow, int32_t code,
                                     const char* text) {
      Of(user)->RecordDetail(vc_error_detail());
      Of(user)->Record(tag, "result " + std::to_string(flow) + " " + std::to_string(code) + " " +
                                text);
    };
    callbacks.on_qall_empty = [](void* user, void* tag) { Of(user)->Record(tag, "empty"); };
    callbacks.on_qall_entry = [](void* user, void* tag, const char* const* fields) {
      Of(user)->Record(tag, "entry " + Joined(fields, 8));
    };
    callbacks.on_qsingle_result = [](void* user, void* tag, const char* const* values) {
      Of(user)->Record(tag, "single " + Joined(values, 18));
    };
    callbacks.on_done = [](void* user, void* tag) { Of(user)->Record(tag, "done"); };
    return callbacks;
  }

  void Record(void* tag, const std::string& event) {
    if (after) after(event);
    // Notified under the lock: a waiter may destroy the recorder as soon as
    // it sees the last "done", while this thread is still on its way out.
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::to_string(reinterpret_cast<intptr_t>(tag)) + " " + event);
    if (event == "done") ++done_;
    changed_.notify_all();
  }

  // Waits until `count` commands are done (at most 10 seconds).
  Events WaitForDone(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return done_ >= count; });
    return events_;
  }

  Events events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // What vc_error_detail() gave inside on_error and on_command_result.
  void RecordDetail(const char* detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    details_.push_back(detail == nullptr ? "<null>" : detail);
  }
  Events details() {
    std::lock_guard<std::mutex> lock(mutex_);
    return details_;
  }

  // Runs before each event is recorded.
  std::function<void(const std::string&)> after;

 private:
  static Recorder* Of(void* user) { return static_cast<Recorder*>(user); }

  std::mutex mutex_;
  std::condition_variable changed_;
  Events events_;
  Events details_;
  size_t done_ = 0;
};

// Answers each command by its method; QSINGLE and KICK echo their first
// and second value, so that each answer shows which request it belongs to.
TestServer::Handler Responder(const std::atomic<bool>* emptyQAll = nullptr) {
  return [emptyQAll](platform::TcpSocket& connection, const std::string& request) {
    const std::string method = request.substr(0, request.find(' '));
    const std::vector<std::string> values = FieldValues(request);
    std::string answer;
    if (method == "CREATE") answer = Answer(1001, 2, {"0", "created"});
    if (method == "KICK") answer = Answer(1002, 2, {"1", values.at(1)});
    if (method == "CHANGE") answer = Answer(1003, 2, {"2", "changed"});
    if (method == "DSCALL") answer = Answer(1006, 2, {"3", "scheduled"});
    if (method == "QALL" && emptyQAll != nullptr && emptyQAll->load()) {
      answer = Answer(1004, 9, {"0", "", "", "", "", "", "", "", ""});
    } else if (method == "QALL") {
      answer = Answer(1004, 9, {"2", "a1,b1,", "a2,b2,", "a3,b3,", "a4,b4,", "a5,b5,", "a6,b6,",
                                "a7,b7,", "a8,b8,"});
    }
    if (method == "QSINGLE") {
      std::vector<std::string> single{values.at(0)};
      for (int i = 2; i <= 18; ++i) single.push_back("s" + std::to_string(i));
      answer = Answer(1005, 18, single);
    }
    connection.Send(answer.data(), answer.size());
  };
}

class CInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const vc_callbacks callbacks = Recorder::Callbacks();
    controller = vc_controller_create(&callbacks, &recorder);
    ASSERT_NE(controller, nullptr);
  }
  void TearDown() override { vc_controller_destroy(controller); }

  void Target(uint16_t port) { ASSERT_EQ(vc_set_server(controller, "127.0.0.1", port), VC_OK); }

  Recorder recorder;
  vc_controller* controller = nullptr;
};

TEST(CInterfaceVersionTest, IsTheProjectVersion) {
  EXPECT_STREQ(vc_version(), VC_TEST_PROJECT_VERSION);
}

TEST_F(CInterfaceTest, NullArgumentsAreRefusedAndNothingIsCalled) {
  TestServer server(Responder());
  Target(server.port());
  vc_controller* c = controller;
  void* t = Tag(1);
  const std::function<vc_status()> calls[] = {
      [&] { return vc_set_server(nullptr, "127.0.0.1", 1); },
      [&] { return vc_set_server(c, nullptr, 1); },
      [&] { return vc_create(nullptr, "a", "b", "c", "d", t); },
      [&] { return vc_create(c, nullptr, "b", "c", "d", t); },
      [&] { return vc_create(c, "a", nullptr, "c", "d", t); },
      [&] { return vc_create(c, "a", "b", nullptr, "d", t); },
      [&] { return vc_create(c, "a", "b", "c", nullptr, t); },
      [&] { return vc_kick(nullptr, "a", "b", t); },
      [&] { return vc_kick(c, nullptr, "b", t); },
      [&] { return vc_kick(c, "a", nullptr, t); },
      [&] { return vc_change(nullptr, "a", "b", 1, t); },
      [&] { return vc_change(c, nullptr, "b", 1, t); },
      [&] { return vc_change(c, "a", nullptr, 1, t); },
      [&] { return vc_qall(nullptr, t); },
      [&] { return vc_qsingle(nullptr, "a", t); },
      [&] { return vc_qsingle(c, nullptr, t); },
      [&] { return vc_dscall(nullptr, "a", "b", 60, t); },
      [&] { return vc_dscall(c, nullptr, "b", 60, t); },
      [&] { return vc_dscall(c, "a", nullptr, 60, t); },
  };
  for (size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(calls[i](), VC_ERROR_NULL_ARGUMENT) << "call " << i;
  }
  vc_controller_destroy(nullptr);
  vc_controller_destroy(controller);  // waits for anything that went out
  controller = nullptr;
  EXPECT_EQ(recorder.events(), Events{});
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(CInterfaceTest, EveryOutcomeReachesItsCallbackWithItsTag) {
  std::atomic<bool> emptyQAll{false};
  TestServer server(Responder(&emptyQAll));
  Target(server.port());
  size_t done = 0;
  auto run = [&](vc_status status) {
    EXPECT_EQ(status, VC_OK);
    recorder.WaitForDone(++done);
  };
  run(vc_create(controller, "conf", "alice", "", "4", Tag(1)));
  run(vc_kick(controller, "conf", "bob", Tag(2)));
  run(vc_change(controller, "conf", "carol", 65535, Tag(3)));
  run(vc_dscall(controller, "conf", "dave", 60, Tag(4)));
  run(vc_qall(controller, Tag(5)));
  run(vc_qsingle(controller, "conf", Tag(6)));
  emptyQAll = true;  // the server reads it only while answering, in turn
  run(vc_qall(controller, Tag(7)));
  run(vc_qsingle(controller, std::string(256, 'x').c_str(), Tag(8)));  // refused, not sent
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", ClosedPort()), VC_OK);
  run(vc_kick(controller, "conf", "bob", Tag(9)));

  EXPECT_EQ(recorder.events(),
            (Events{"1 result 1001 0 created", "1 done", "2 result 1002 1 bob", "2 done",
                    "3 result 1003 2 changed", "3 done", "4 result 1006 3 scheduled", "4 done",
                    "5 entry a1|a2|a3|a4|a5|a6|a7|a8", "5 entry b1|b2|b3|b4|b5|b6|b7|b8",
                    "5 done", "6 single conf|s2|s3|s4|s5|s6|s7|s8|s9|s10|s11|s12|s13|s14|s15|s16|s17|s18",
                    "6 done", "7 empty", "7 done", "8 error param error.", "8 done",
                    "9 error connect error.", "9 done"}));
  const Events requests = server.requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[2], HttpRequest("CHANGE", RequestDocument(3, 1003, 3, {"conf", "carol", "65535"})));
}

TEST_F(CInterfaceTest, ManyCommandsOfOneKindInFlightKeepTheirTags) {
  // Four threads issue at once; the server answers one request after the
  // other, so most wait for their answer together.
  TestServer server(Responder());
  Target(server.port());
  constexpr int kThreads = 4, kPerThread = 10;
  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const int tag = t * kPerThread + i + 1;
        const std::string name = "n" + std::to_string(tag);
        const vc_status status = tag % 2 == 0 ? vc_qsingle(controller, name.c_str(), Tag(tag))
                                              : vc_kick(controller, "conf", name.c_str(), Tag(tag));
        EXPECT_EQ(status, VC_OK);
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  Events events = recorder.WaitForDone(kThreads * kPerThread);

  std::map<std::string, Events> byTag;
  for (const std::string& event : events) {
    byTag[event.substr(0, event.find(' '))].push_back(event.substr(event.find(' ') + 1));
  }
  ASSERT_EQ(byTag.size(), static_cast<size_t>(kThreads * kPerThread));
  for (int tag = 1; tag <= kThreads * kPerThread; ++tag) {
    const std::string name = "n" + std::to_string(tag);
    const std::string outcome =
        tag % 2 == 0 ? "single " + name + "|s2|s3|s4|s5|s6|s7|s8|s9|s10|s11|s12|s13|s14|s15|s16|s17|s18"
                     : "result 1002 1 " + name;
    EXPECT_EQ(byTag[std::to_string(tag)], (Events{outcome, "done"})) << "tag " << tag;
  }
}

TEST_F(CInterfaceTest, TextsCrossAsUtf8BothWays) {
  // The wire carries the system's ANSI code page (UTF-8 on Linux; under
  // Wine's 1252 a Chinese character arrives as '?').
  const std::wstring answerText = L"caf\u00e9 \u4f1a\u8bae";
  const std::string wireAnswer = platform::WideToAnsiString(answerText);
  TestServer server(TestServer::Reply(Answer(1002, 2, {"0", wireAnswer})));
  Target(server.port());
  const char* name = "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";  // é中😀
  ASSERT_EQ(vc_kick(controller, "conf", name, Tag(1)), VC_OK);
  ASSERT_EQ(recorder.WaitForDone(1).size(), 2u);

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], HttpRequest("KICK", RequestDocument(1, 1002, 2, {"conf", name})));
  const std::string expected =
      platform::WideToUtf8String(platform::AnsiToWideString(wireAnswer));
  EXPECT_EQ(recorder.events()[0], "1 result 1002 0 " + expected);
#if !defined(_WIN32)
  EXPECT_EQ(expected, "caf\xc3\xa9 \xe4\xbc\x9a\xe8\xae\xae");
#endif
}

// The code page reads answers; the interface's strings stay UTF-8.
TEST_F(CInterfaceTest, AChosenCodePageReadsTheAnswers) {
  EXPECT_EQ(vc_set_code_page(nullptr), VC_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(vc_set_code_page("EBCDIC"), VC_ERROR_UNKNOWN_CODE_PAGE);
  ASSERT_EQ(vc_set_code_page("gbk"), VC_OK);
  TestServer server(TestServer::Reply(Answer(1002, 2, {"0", "\xd6\xd0\xce\xc4"})));  // 中文
  Target(server.port());
  ASSERT_EQ(vc_kick(controller, "conf", "\xe4\xb8\xad", Tag(1)), VC_OK);
  ASSERT_EQ(recorder.WaitForDone(1).size(), 2u);
  EXPECT_EQ(recorder.events()[0], "1 result 1002 0 \xe4\xb8\xad\xe6\x96\x87");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            HttpRequest("KICK", RequestDocument(1, 1002, 2, {"conf", "\xe4\xb8\xad"})));
  platform::ResetAnsiCodePage();
}

TEST(CInterfaceNullCallbacksTest, AMissingCallbackDropsThatOutcomeOnly) {
  TestServer server(Responder());
  std::vector<vc_controller*> controllers;
  controllers.push_back(vc_controller_create(nullptr, nullptr));  // no table at all
  vc_callbacks onlyDone{};
  Recorder recorder;
  onlyDone.on_done = Recorder::Callbacks().on_done;
  controllers.push_back(vc_controller_create(&onlyDone, &recorder));
  for (vc_controller* controller : controllers) {
    ASSERT_NE(controller, nullptr);
    ASSERT_EQ(vc_set_server(controller, "127.0.0.1", server.port()), VC_OK);
    EXPECT_EQ(vc_create(controller, "a", "b", "c", "d", Tag(1)), VC_OK);
    EXPECT_EQ(vc_qall(controller, Tag(2)), VC_OK);
    EXPECT_EQ(vc_qsingle(controller, "a", Tag(3)), VC_OK);
    EXPECT_EQ(vc_qsingle(controller, std::string(300, 'x').c_str(), Tag(4)), VC_OK);
    vc_controller_destroy(controller);
  }
  Events events = recorder.events();
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (Events{"1 done", "2 done", "3 done", "4 done"}));
}

TEST_F(CInterfaceTest, DestroyWaitsForEveryOutcomeInFlight) {
  TestServer server([](platform::TcpSocket& connection, const std::string& request) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Responder()(connection, request);
  });
  Target(server.port());
  for (int i = 1; i <= 4; ++i) {
    ASSERT_EQ(vc_kick(controller, "conf", std::to_string(i).c_str(), Tag(i)), VC_OK);
  }
  vc_controller_destroy(controller);
  controller = nullptr;
  Events events = recorder.events();
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (Events{"1 done", "1 result 1002 1 1", "2 done", "2 result 1002 1 2", "3 done",
                            "3 result 1002 1 3", "4 done", "4 result 1002 1 4"}));
}

TEST_F(CInterfaceTest, ACallbackMayDestroyTheController) {
  TestServer server(Responder());
  Target(server.port());
  recorder.after = [&](const std::string& event) {
    if (event == "entry a1|a2|a3|a4|a5|a6|a7|a8") vc_controller_destroy(controller);
  };
  ASSERT_EQ(vc_qall(controller, Tag(1)), VC_OK);
  // The rest of the answer still arrives, after the controller is gone.
  EXPECT_EQ(recorder.WaitForDone(1), (Events{"1 entry a1|a2|a3|a4|a5|a6|a7|a8",
                                             "1 entry b1|b2|b3|b4|b5|b6|b7|b8", "1 done"}));
  controller = nullptr;
}

// vc_error_detail() inside on_error tells why; elsewhere it is "".
TEST_F(CInterfaceTest, OnErrorReadsTheDetail) {
  struct Row {
    const char* name;
    std::string reply;  // what the server answers
    std::function<vc_status(vc_controller*)> command;
    std::string event;
    std::string detail;
  };
  const Row rows[] = {
      {"refused", "", [](vc_controller* c) {
         vc_set_server(c, "127.0.0.1", ClosedPort());
         return vc_qall(c, Tag(1));
       }, "1 error connect error.", "connect: Connection refused"},
      {"control character", "", [](vc_controller* c) { return vc_kick(c, "conf", "a\x02", Tag(2)); },
       "2 error param error.", "argument 2 holds U+0002, which XML cannot carry"},
      {"U+FFFF", "", [](vc_controller* c) { return vc_qsingle(c, "\xef\xbf\xbf", Tag(3)); },
       "3 error param error.", "argument 1 holds U+FFFF, which XML cannot carry"},
      {"too long", "", [](vc_controller* c) {
         return vc_create(c, "a", "b", std::string(300, 'c').c_str(), "d", Tag(4));
       }, "4 error param error.", "argument 3 is 300 bytes in UTF-8, more than 255"},
      {"FlowID", Answer(2000, 2, {"1", "x"}), [](vc_controller* c) { return vc_qall(c, Tag(5)); },
       "5 error bad message.", "FlowID 2000 is not a command"},
      {"FieldNum", Answer(1003, 0, {}), [](vc_controller* c) { return vc_qall(c, Tag(6)); },
       "6 error param error.", "FieldNum 0 below 1 for FlowID 1003"},
      {"peer closed", "HTTP/1.1 200", [](vc_controller* c) { return vc_qall(c, Tag(7)); },
       "7 error timeout.", "peer closed before a complete answer"},
      {"result", Answer(1002, 2, {"0", "kicked"}), [](vc_controller* c) {
         return vc_kick(c, "conf", "bob", Tag(8));
       }, "8 result 1002 0 kicked", ""},
  };
  size_t done = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestServer server(TestServer::Reply(row.reply));
    Target(server.port());
    ASSERT_EQ(row.command(controller), VC_OK);
    const Events events = recorder.WaitForDone(++done);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], row.event);
    EXPECT_EQ(recorder.details().back(), row.detail);
  }
  EXPECT_STREQ(vc_error_detail(), "");
}

TEST_F(CInterfaceTest, ServerMustBeADottedAddress) {
  TestServer server(Responder());
  Target(server.port());
  for (const char* host : {"localhost", "", "300.1.1.1", "1.2.3.4.5", "::1", "example.com"}) {
    EXPECT_EQ(vc_set_server(controller, host, 1), VC_ERROR_BAD_ADDRESS) << host;
  }
  // Nothing changed: the command still reaches the server set before.
  ASSERT_EQ(vc_kick(controller, "conf", "bob", Tag(1)), VC_OK);
  EXPECT_EQ(recorder.WaitForDone(1), (Events{"1 result 1002 1 bob", "1 done"}));
  EXPECT_EQ(vc_set_server(controller, "127.1", server.port()), VC_OK);  // inet_addr's short form
}

TEST(CInterfaceLogTest, LogDirectoryMustExist) {
  EXPECT_EQ(vc_set_log_directory("/nonexistent/voicecontrol/logs"), VC_ERROR_BAD_DIRECTORY);
  EXPECT_EQ(vc_set_log_directory("."), VC_OK);
  vc_disable_logs();
  EXPECT_EQ(vc_set_log_directory(nullptr), VC_OK);
  EXPECT_EQ(vc_set_log_directory(""), VC_OK);
}

#if defined(__linux__)
// A C host's callback may end its thread with pthread_exit, on a receive
// thread or on the calling thread: the process goes on, on_done still
// comes for the command, and the controller keeps working.
TEST(CInterfaceThreadExitTest, ACallbackMayEndItsThread) {
  vc_test_exits exits;
  vc_callbacks callbacks;
  vc_test_exits_init(&exits, &callbacks);
  vc_controller* controller = vc_controller_create(&callbacks, &exits);
  ASSERT_NE(controller, nullptr);
  std::atomic<int> flow{1002};
  TestServer server([&](platform::TcpSocket& connection, const std::string&) {
    const std::string answer = Answer(flow, 2, {"0", "x"});
    connection.Send(answer.data(), answer.size());
  });
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", server.port()), VC_OK);

  // On receive threads: a result, then an error, several times over, so
  // that threads that ended this way are replaced.
  for (int i = 0; i < 3; ++i) {
    flow = 1002;
    ASSERT_EQ(vc_kick(controller, "conf", "bob", Tag(1)), VC_OK);
    EXPECT_EQ(vc_test_exits_wait_done(&exits, 2 * i + 1, 10), 2 * i + 1);
    flow = 2000;
    ASSERT_EQ(vc_qall(controller, Tag(2)), VC_OK);
    EXPECT_EQ(vc_test_exits_wait_done(&exits, 2 * i + 2, 10), 2 * i + 2);
  }

  // On the calling thread: a refused connection ends the host's thread
  // inside the command call.
  struct Call {
    vc_controller* controller;
    bool returned = false;
  } call{controller};
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", ClosedPort()), VC_OK);
  pthread_t host;
  ASSERT_EQ(pthread_create(&host, nullptr,
                           [](void* argument) -> void* {
                             auto* call = static_cast<Call*>(argument);
                             vc_qall(call->controller, Tag(3));
                             call->returned = true;  // never reached
                             return nullptr;
                           },
                           &call),
            0);
  ASSERT_EQ(pthread_join(host, nullptr), 0);
  EXPECT_FALSE(call.returned);

  vc_controller_destroy(controller);  // must neither hang nor crash
  pthread_mutex_lock(&exits.mutex);
  EXPECT_EQ(exits.results, 3);
  EXPECT_EQ(exits.errors, 4);
  pthread_mutex_unlock(&exits.mutex);
  EXPECT_EQ(server.requests().size(), 6u);
}
#endif

TEST(CInterfaceFromCTest, AC99ProgramGetsItsOutcome) {
  TestServer server(Responder());
  char outcome[128] = "";
  EXPECT_EQ(vc_test_kick_from_c(server.port(), outcome, sizeof outcome), 0);
  EXPECT_STREQ(outcome, "tagged 1002 1 bob");
}

}  // namespace
}  // namespace voicecontrol
