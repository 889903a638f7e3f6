// Commands that return their own outcome, against loopback servers in this
// process.
#include <voicecontrol/controller/Outcome.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "controller/controller_testing.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::ClosedPort;
using testing::FieldValues;
using testing::TestServer;
using testing::Utf8;

// Answers each command by its method. KICK answers with its second value
// and QSINGLE with its first, so that each answer shows its request.
void Respond(platform::TcpSocket& connection, const std::string& request) {
  const std::string method = request.substr(0, request.find(' '));
  const std::vector<std::string> values = FieldValues(request);
  std::string answer;
  if (method == "CREATE") answer = Answer(1001, 2, {"0", "created"});
  if (method == "KICK") answer = Answer(1002, 2, {"1", values.at(1)});
  if (method == "CHANGE") answer = Answer(1003, 2, {"2", "changed " + values.at(2)});
  if (method == "DSCALL") answer = Answer(1006, 2, {"3", "scheduled"});
  if (method == "QALL" && values.empty()) {
    answer = Answer(1004, 9, {"2", "a1,b1,", "a2,b2,", "a3,b3,", "a4,b4,", "a5,b5,", "a6,b6,",
                              "a7,b7,", "a8,b8,"});
  }
  if (method == "QSINGLE" && values.at(0) == "none") {
    answer = Answer(1004, 9, {"0", "", "", "", "", "", "", "", ""});  // no entries
  } else if (method == "QSINGLE") {
    std::vector<std::string> single{values.at(0)};
    for (int i = 2; i <= 18; ++i) single.push_back("s" + std::to_string(i));
    answer = Answer(1005, 18, single);
  }
  connection.Send(answer.data(), answer.size());
}

// An outcome as one line, for comparing: "error <text>", "result <flow>
// <code> <text>", "entries [a|..|h][..]", "values v1|..|v18".
std::string Describe(const Outcome& outcome) {
  if (const CommandError* error = outcome.error()) return "error " + Utf8(error->text);
  if (const CommandResult* result = outcome.result()) {
    return "result " + std::to_string(result->flowId) + " " + std::to_string(result->code) + " " +
           Utf8(result->text);
  }
  std::string line;
  if (const std::vector<QAllEntry>* entries = outcome.entries()) {
    line = "entries ";
    for (const QAllEntry& entry : *entries) {
      line += "[";
      for (size_t i = 0; i < entry.size(); ++i) line += (i > 0 ? "|" : "") + Utf8(entry[i]);
      line += "]";
    }
    return line;
  }
  const QSingleValues& values = *outcome.values();
  line = "values ";
  for (size_t i = 0; i < values.size(); ++i) line += (i > 0 ? "|" : "") + Utf8(values[i]);
  return line;
}

const char kSingleTail[] = "|s2|s3|s4|s5|s6|s7|s8|s9|s10|s11|s12|s13|s14|s15|s16|s17|s18";

bool IsReady(const std::future<Outcome>& future) {
  return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Waits for a callback's outcome (at most 10 seconds).
class CallbackRecorder {
 public:
  OutcomeCallback Callback() {
    return [this](const Outcome& outcome) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(Describe(outcome));
      threads_.push_back(std::this_thread::get_id());
      changed_.notify_all();
    };
  }
  std::vector<std::string> WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return lines_.size() >= count; });
    return lines_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<std::thread::id> threads_;
};

class OutcomeTest : public ::testing::Test {
 protected:
  void Target(uint16_t port) {
    controller->serverAddress = "127.0.0.1";
    controller->serverPort = port;
  }

  // No sink: every command here brings a receiver of its own.
  std::unique_ptr<VoiceController> controller = std::make_unique<VoiceController>(nullptr);
  OutcomeCommands commands{*controller};
};

TEST(OutcomeValueTest, OnlyTheAccessorOfItsKindAnswers) {
  QAllEntry entry;
  entry[7] = L"h";
  QSingleValues values;
  values[17] = L"r";
  const struct {
    Outcome outcome;
    Outcome::Kind kind;
    std::string described;
  } cases[] = {
      {Outcome(), Outcome::Kind::kError, "error "},
      {Outcome::FromError({L"timeout.", "no answer within 5 s"}), Outcome::Kind::kError,
       "error timeout."},
      {Outcome::FromResult({1002, 4, L"kicked"}), Outcome::Kind::kResult, "result 1002 4 kicked"},
      {Outcome::FromEntries({}), Outcome::Kind::kEntries, "entries "},
      {Outcome::FromEntries({entry, entry}), Outcome::Kind::kEntries,
       "entries [|||||||h][|||||||h]"},
      {Outcome::FromValues(values), Outcome::Kind::kValues, "values |||||||||||||||||r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.described);
    const Outcome& o = c.outcome;
    EXPECT_EQ(o.kind(), c.kind);
    EXPECT_EQ(o.ok(), c.kind != Outcome::Kind::kError);
    EXPECT_EQ(o.error() != nullptr, c.kind == Outcome::Kind::kError);
    EXPECT_EQ(o.result() != nullptr, c.kind == Outcome::Kind::kResult);
    EXPECT_EQ(o.entries() != nullptr, c.kind == Outcome::Kind::kEntries);
    EXPECT_EQ(o.values() != nullptr, c.kind == Outcome::Kind::kValues);
    EXPECT_EQ(Describe(o), c.described);
  }
  EXPECT_EQ(Outcome::FromError({L"timeout.", "no answer within 5 s"}).error()->detail,
            "no answer within 5 s");
}

TEST_F(OutcomeTest, EachCommandYieldsItsKindOfOutcome) {
  TestServer server(Respond);
  Target(server.port());
  const std::wstring tooLong(256, L'x');
  const struct {
    const char* command;
    std::function<std::future<Outcome>()> issue;
    std::string expected;
  } cases[] = {
      {"create", [&] { return commands.Create(L"conf", L"alice", L"", L"4"); },
       "result 1001 0 created"},
      {"kick", [&] { return commands.Kick(L"conf", L"bob"); }, "result 1002 1 bob"},
      {"change", [&] { return commands.Change(L"conf", L"carol", 65535); },
       "result 1003 2 changed 65535"},
      {"dscall", [&] { return commands.DsCall(L"conf", L"dave", 60); },
       "result 1006 3 scheduled"},
      {"qall", [&] { return commands.QAll(); },
       "entries [a1|a2|a3|a4|a5|a6|a7|a8][b1|b2|b3|b4|b5|b6|b7|b8]"},
      {"qall without entries", [&] { return commands.QSingle(L"none"); }, "entries "},
      {"qsingle", [&] { return commands.QSingle(L"conf"); },
       std::string("values conf") + kSingleTail},
      {"too long a text", [&] { return commands.Kick(L"conf", tooLong); }, "error param error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    std::future<Outcome> outcome = c.issue();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(Describe(outcome.get()), c.expected);
  }
  EXPECT_EQ(server.requests().size(), std::size(cases) - 1);  // the refused one never went out
}

TEST_F(OutcomeTest, FailingAnswersBecomeErrorOutcomesWithTheirDetail) {
  const struct {
    const char* fault;
    TestServer::Handler handler;
    std::string expected;
    std::string detail;  // empty: any, but not none
  } cases[] = {
      {"no answer", TestServer::Silent(), "error timeout.", "no answer within 200 ms"},
      {"not XML", TestServer::Reply(testing::HttpAnswer("garbage")), "error bad message.", ""},
      {"HTTP/1.0", TestServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"),
       "error decode.", ""},
      {"FlowID of no command", TestServer::Reply(Answer(2000, 2, {"1", "x"})),
       "error bad message.", "FlowID 2000 is not a command"},
  };
  internal::ControllerTesting::SetReceiveTimeout(*controller, 200);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    TestServer server(c.handler);
    Target(server.port());
    std::future<Outcome> future = commands.QAll();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const Outcome outcome = future.get();
    EXPECT_EQ(Describe(outcome), c.expected);
    ASSERT_NE(outcome.error(), nullptr);
    if (c.detail.empty()) {
      EXPECT_NE(outcome.error()->detail, "");
    } else {
      EXPECT_EQ(outcome.error()->detail, c.detail);
    }
  }
}

TEST_F(OutcomeTest, ErrorsOnTheCallingThreadAreDeliveredBeforeTheCommandReturns) {
  Target(ClosedPort());
  std::future<Outcome> refused = commands.QSingle(L"conf");
  ASSERT_TRUE(IsReady(refused));
  const Outcome outcome = refused.get();
  EXPECT_EQ(Describe(outcome), "error connect error.");
  EXPECT_EQ(outcome.error()->detail, "connect: Connection refused");
  std::future<Outcome> tooLong = commands.Kick(L"conf", std::wstring(256, L'x'));
  ASSERT_TRUE(IsReady(tooLong));
  const Outcome refusedArgument = tooLong.get();
  EXPECT_EQ(Describe(refusedArgument), "error param error.");
  EXPECT_NE(refusedArgument.error()->detail, "");

  CallbackRecorder recorder;
  commands.Create(L"a", L"b", L"c", L"d", recorder.Callback());
  commands.QAll(recorder.Callback());
  EXPECT_EQ(recorder.WaitFor(0), (std::vector<std::string>{"error connect error.",
                                                           "error connect error."}));
  EXPECT_EQ(recorder.threads(), (std::vector<std::thread::id>{std::this_thread::get_id(),
                                                               std::this_thread::get_id()}));
}

TEST_F(OutcomeTest, ManyCommandsOfOneKindInFlightGetTheirOwnOutcomes) {
  // The server answers one request after the other, so most of them wait
  // for their answer together; give them time enough under the sanitizers.
  TestServer server(Respond);
  Target(server.port());
  internal::ControllerTesting::SetReceiveTimeout(*controller, 60000);
  constexpr int kCommands = 200;
  std::vector<std::future<Outcome>> singles, kicks;
  for (int i = 0; i < kCommands; ++i) {
    const std::wstring name = L"n" + std::to_wstring(i);
    singles.push_back(commands.QSingle(name));
    kicks.push_back(commands.Kick(L"conf", name));
  }
  for (int i = 0; i < kCommands; ++i) {
    const std::string name = "n" + std::to_string(i);
    EXPECT_EQ(Describe(singles[i].get()), "values " + name + kSingleTail);
    EXPECT_EQ(Describe(kicks[i].get()), "result 1002 1 " + name);
  }
}

TEST_F(OutcomeTest, CommandsFromSeveralThreadsAtOnceKeepTheirOutcomes) {
  TestServer server(Respond);
  Target(server.port());
  internal::ControllerTesting::SetReceiveTimeout(*controller, 60000);
  constexpr int kThreads = 4, kPerThread = 25;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      std::vector<std::future<Outcome>> pending;
      for (int i = 0; i < kPerThread; ++i) {
        pending.push_back(commands.Kick(L"conf", std::to_wstring(t * kPerThread + i)));
      }
      for (int i = 0; i < kPerThread; ++i) {
        if (Describe(pending[i].get()) != "result 1002 1 " + std::to_string(t * kPerThread + i)) {
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  EXPECT_EQ(mismatches, 0);
}

TEST_F(OutcomeTest, TheCallbackIsCalledOnceWithTheWholeAnswer) {
  TestServer server(Respond);
  Target(server.port());
  CallbackRecorder recorder;
  commands.QAll(recorder.Callback());
  commands.QSingle(L"none", recorder.Callback());
  commands.Change(L"conf", L"carol", 7, recorder.Callback());
  commands.QSingle(L"conf", recorder.Callback());
  commands.Kick(L"conf", L"bob", recorder.Callback());
  commands.DsCall(L"conf", L"dave", 60, recorder.Callback());
  commands.Create(L"a", L"b", L"c", L"d", recorder.Callback());
  std::vector<std::string> lines = recorder.WaitFor(7);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "entries ", "entries [a1|a2|a3|a4|a5|a6|a7|a8][b1|b2|b3|b4|b5|b6|b7|b8]",
                       "result 1001 0 created", "result 1002 1 bob", "result 1003 2 changed 7",
                       "result 1006 3 scheduled", std::string("values conf") + kSingleTail}));
  // Nothing more comes: one outcome per command (the destructor delivers
  // whatever is still on its way).
  controller.reset();
  EXPECT_EQ(recorder.WaitFor(0).size(), 7u);
}

TEST_F(OutcomeTest, ACallbackMayIssueTheNextCommand) {
  TestServer server(Respond);
  Target(server.port());
  std::promise<Outcome> second;
  commands.Kick(L"conf", L"first", [&](const Outcome&) {
    commands.Kick(L"conf", L"second", [&](const Outcome& outcome) { second.set_value(outcome); });
  });
  std::future<Outcome> outcome = second.get_future();
  ASSERT_EQ(outcome.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(Describe(outcome.get()), "result 1002 1 second");
}

TEST_F(OutcomeTest, AThrowingCallbackLosesNothingElse) {
#if defined(_WIN32)
  // voicecontrol.dll has a C++ runtime of its own: a host's exception cannot
  // unwind the library's frames (32-bit: std::terminate). README-windows
  // tells hosts to catch everything inside a callback.
  GTEST_SKIP() << "on Windows a callback must not throw";
#endif
  TestServer server(Respond);
  Target(server.port());
  commands.Kick(L"conf", L"bob", [](const Outcome&) { throw std::runtime_error("host bug"); });
  Target(ClosedPort());
  EXPECT_NO_THROW(commands.QAll([](const Outcome&) { throw std::runtime_error("host bug"); }));
  Target(server.port());
  EXPECT_EQ(Describe(commands.Kick(L"conf", L"carol").get()), "result 1002 1 carol");
  commands.QAll(OutcomeCallback());  // nobody to tell: the outcome is dropped
}

TEST_F(OutcomeTest, DestroyingTheControllerDeliversTheOutcomesInFlight) {
  TestServer server([](platform::TcpSocket& connection, const std::string& request) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Respond(connection, request);
  });
  Target(server.port());
  std::vector<std::future<Outcome>> pending;
  for (int i = 0; i < 4; ++i) pending.push_back(commands.Kick(L"conf", std::to_wstring(i)));
  CallbackRecorder recorder;
  commands.QAll(recorder.Callback());
  controller.reset();
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(IsReady(pending[i])) << i;
    EXPECT_EQ(Describe(pending[i].get()), "result 1002 1 " + std::to_string(i));
  }
  EXPECT_EQ(recorder.WaitFor(0), (std::vector<std::string>{
                                     "entries [a1|a2|a3|a4|a5|a6|a7|a8][b1|b2|b3|b4|b5|b6|b7|b8]"}));
}

TEST_F(OutcomeTest, TheControllersOwnSinkIsLeftAlone) {
  TestServer server(Respond);
  testing::RecordingSink sink;
  VoiceController withSink(&sink);
  withSink.serverAddress = "127.0.0.1";
  withSink.serverPort = server.port();
  OutcomeCommands own(withSink);
  EXPECT_EQ(Describe(own.Kick(L"conf", L"bob").get()), "result 1002 1 bob");
  withSink.Kick(L"conf", L"carol");
  EXPECT_EQ(sink.WaitFor(1), std::vector<std::string>{"result 1002 1 carol"});
}

}  // namespace
}  // namespace voicecontrol
