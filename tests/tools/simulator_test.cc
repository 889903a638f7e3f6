// SimulatedServer through its public header, driven the way a host's tests
// drive it: a VoiceController against it, faults queued per request,
// scripted answers, the request log, the session model, and Stop while
// clients are still connected.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <voicecontrol/testing/simulator.h>

#include "simulator_fixture.h"

namespace voicecontrol {
namespace testing {
namespace {

using std::chrono::milliseconds;

struct FaultCase {
  const char* name;
  Fault fault;
  const char* outcome;
};

TEST_F(SimulatorTest, EachQueuedFaultShapesOneAnswerThenAnswersAreRightAgain) {
  const FaultCase cases[] = {
      {"close early", Fault::CloseEarly(), "error timeout."},
      {"no answer", Fault::NoAnswer(), "error timeout."},
      {"partial", Fault::Partial(), "error timeout."},
      {"status 299", Fault::Status(299), "error decode."},
      {"status 500", Fault::Status(500), "empty"},
      {"http/1.0", Fault::Http10(), "error decode."},
      {"flowid 2000", Fault::FlowId(2000), "error bad message."},
      {"fieldnum 0", Fault::FieldNum(0), "error param error."},
      {"garbage", Fault::Garbage(), "error bad message."},
      {"oversize", Fault::Oversize(), "error decode."},
      {"delay", Fault::Delay(100), "empty"},
  };
  for (const FaultCase& c : cases) {
    server_.QueueFault(c.fault);
    EXPECT_EQ(QAll(), c.outcome) << c.name;
    EXPECT_EQ(QAll(), "empty") << "after " << c.name;
  }
  server_.QueueFault(Fault::Garbage(), 2);
  server_.QueueFault(Fault::FlowId(2000));
  EXPECT_EQ(server_.QueuedAnswers(), 3u);
  EXPECT_EQ(QAll(), "error bad message.");
  EXPECT_EQ(QAll(), "error bad message.");
  EXPECT_EQ(QAll(), "error bad message.");
  EXPECT_EQ(QAll(), "empty");
  server_.SetStandingFault(Fault::Status(299));
  EXPECT_EQ(QAll(), "error decode.");
  EXPECT_EQ(QAll(), "error decode.");
}

TEST_F(SimulatorTest, ScriptedAnswerIsSentAsGivenAndTheModelStillActs) {
  server_.QueueAnswer(SimulatedServer::AnswerBody(1, 1001, {L"7", L"scripted <&> text"}));
  EXPECT_EQ(Outcome([](VoiceController& c) { c.Create(L"s1", L"alice", L"t", L"m"); }),
            "result 1001 7 scripted <&> text");
  EXPECT_TRUE(server_.FindSession(L"s1").has_value());
  server_.QueueAnswer("<not/>", 1, Fault::Delay(50));
  EXPECT_EQ(QAll(), "error bad message.");
}

TEST_F(SimulatorTest, RequestLogHoldsWhatTheServerReceived) {
  Outcome([](VoiceController& c) { c.Create(L"s1", L"alice", L"周会", L"a,b"); });
  QAll();
  ASSERT_TRUE(server_.WaitForRequests(2, milliseconds(1000)));
  const std::vector<ReceivedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].isCommand);
  EXPECT_EQ(requests[0].method, "CREATE");
  EXPECT_EQ(requests[0].seqNo, 1);
  EXPECT_EQ(requests[0].flowId, 1001);
  EXPECT_EQ(requests[0].fieldNum, 4);
  EXPECT_EQ(requests[0].values, (std::vector<std::wstring>{L"s1", L"alice", L"周会", L"a,b"}));
  EXPECT_EQ(requests[0].raw.rfind("CREATE /MyURL/ HTTP/1.1\r\nContent-Length: ", 0), 0u);
  EXPECT_NE(requests[0].raw.find("<Field_Value>\xE5\x91\xA8\xE4\xBC\x9A</Field_Value>"),
            std::string::npos);
  EXPECT_EQ(requests[1].method, "QALL");
  EXPECT_EQ(requests[1].seqNo, 2);
  EXPECT_TRUE(requests[1].values.empty());
  server_.ClearRequests();
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(SimulatorTest, SeededSessionsAnswerAndCommandsShowInTheModel) {
  Session seeded;
  seeded.id = L"s9";
  seeded.owner = L"olga";
  seeded.title = L"review";
  seeded.members = L"olga,pat";
  server_.AddSession(seeded);
  EXPECT_EQ(Outcome([](VoiceController& c) { c.QSingle(L"s9"); }).rfind(
                "single s9|found|olga|review|olga,pat||0|", 0),
            0u);
  Outcome([](VoiceController& c) { c.Kick(L"s9", L"pat"); });
  Outcome([](VoiceController& c) { c.Change(L"s9", L"olga", 3); });
  const auto session = server_.FindSession(L"s9");
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(session->kicked, std::vector<std::wstring>{L"pat"});
  EXPECT_EQ(session->changedMember, L"olga");
  EXPECT_EQ(session->changedValue, L"3");
  EXPECT_EQ(server_.Sessions().size(), 1u);
  server_.ClearSessions();
  EXPECT_EQ(QAll(), "empty");
}

TEST(SimulatedServerTest, StopWithClientsConnectedEndsEveryConnectionAtOnce) {
  SimulatedServer server;
  server.QueueFault(Fault::Delay(60000));
  server.QueueFault(Fault::NoAnswer());
  server.QueueFault(Fault::Partial());
  std::vector<platform::TcpSocket> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(ConnectAndSend(server.port(), CommandRequest("QALL", 1004, "x")));
  clients.push_back(ConnectAndSend(server.port(), "QALL /MyURL/ HTTP/1.1\r\n"));  // half a request
  clients.push_back(ConnectAndSend(server.port(), ""));                            // nothing yet
  ASSERT_TRUE(server.WaitForRequests(3, milliseconds(5000)));
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  // Far below the 60 s delay and the clients' own time-outs, with room for a
  // loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
  for (platform::TcpSocket& client : clients) {
    const std::string answer = ReadToEnd(client);  // ends: the server has closed
    EXPECT_TRUE(answer.empty() || answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0) << answer;
  }
}

TEST(SimulatedServerTest, Gb2312AnswersCarryTheTextInGb2312AndSayItInTheDeclaration) {
  ServerOptions options;
  options.encoding = Encoding::kGb2312;
  SimulatedServer server(options);
  const std::string chinese = "\xE5\x91\xA8\xE4\xBC\x9A";  // 周会 in UTF-8
  platform::TcpSocket create = ConnectAndSend(server.port(), CommandRequest("CREATE", 1001, chinese));
  ReadToEnd(create);
  platform::TcpSocket query = ConnectAndSend(server.port(), CommandRequest("QSINGLE", 1005, chinese));
  const std::string answer = ReadToEnd(query);
  EXPECT_NE(answer.find("<?xml version=\"1.0\" encoding=\"GB2312\" ?>"), std::string::npos);
  EXPECT_NE(answer.find("<Field_Value>\xD6\xDC\xBB\xE1</Field_Value>"), std::string::npos)
      << answer;  // 周会 in GB2312
  ASSERT_TRUE(server.FindSession(L"周会").has_value());
}

TEST(SimulatedServerTest, AnAddressInUseIsReportedByTheConstructor) {
  SimulatedServer first;
  ServerOptions options;
  options.port = first.port();
  EXPECT_THROW(SimulatedServer second(options), std::runtime_error);
}

}  // namespace
}  // namespace testing
}  // namespace voicecontrol
