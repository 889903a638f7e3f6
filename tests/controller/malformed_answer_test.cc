// An answer that is no well-formed document reaches the host as
// "bad message.", on both platforms; the same answer repaired is delivered.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <utility>
#include <vector>

#include <voicecontrol/controller/Outcome.h>
#include <voicecontrol/controller/VoiceController.h>
#include "../interface/answer_documents.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::FieldValues;
using testing::HttpAnswer;
using testing::MalformedAnswer;
using testing::RecordingSink;
using testing::TestServer;

// The one event a CREATE gets when the server answers with `document`.
std::string OutcomeOfCreate(const std::string& document) {
  RecordingSink sink;
  TestServer server(TestServer::Reply(HttpAnswer(document)));
  {
    VoiceController controller(&sink);
    controller.serverAddress = "127.0.0.1";
    controller.serverPort = server.port();
    controller.Create(L"conf", L"alice", L"topic", L"alice,bob");
  }  // waits for the answer
  const std::vector<std::string> events = sink.events();
  return events.size() == 1 ? events[0] : "events: " + std::to_string(events.size());
}

class MalformedAnswerControllerTest : public ::testing::TestWithParam<MalformedAnswer> {};

TEST_P(MalformedAnswerControllerTest, TheHostGetsBadMessage) {
  if (GetParam().wine_accepts != nullptr && testing::RunningUnderWine()) {
    GTEST_SKIP() << GetParam().wine_accepts;
  }
  EXPECT_EQ(OutcomeOfCreate(GetParam().document), "error bad message.");
  EXPECT_EQ(OutcomeOfCreate(GetParam().repaired).rfind("result 1001 0 ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Answers, MalformedAnswerControllerTest,
                         ::testing::ValuesIn(testing::MalformedAnswers()),
                         [](const ::testing::TestParamInfo<MalformedAnswer>& info) {
                           return std::string(info.param.name);
                         });


// A few hundred commands in one process, each answered by the body its
// session name picks from a mix of well-formed, malformed and refused ones:
// every command ends in exactly the outcome of its own answer. Refusing a
// document may parse it a second time to find where it went wrong, so this
// also runs many failed and successful parses one after another.
TEST(ManyAnswersTest, EachCommandGetsTheOutcomeOfItsOwnAnswer) {
  std::vector<std::pair<std::string, std::string>> bodies;  // body, expected outcome
  for (const MalformedAnswer& answer : testing::MalformedAnswers()) {
    if (answer.wine_accepts == nullptr || !testing::RunningUnderWine()) {
      bodies.emplace_back(answer.document, "error bad message.");
    }
    bodies.emplace_back(answer.repaired, "result 1001 0");
  }
  bodies.emplace_back("not a document", "error bad message.");
  bodies.emplace_back("", "error bad message.");
  bodies.emplace_back("<html><body>busy</body></html>", "error bad message.");

  TestServer server([&bodies](platform::TcpSocket& connection, const std::string& request) {
    const std::vector<std::string> values = FieldValues(request);
    const size_t index = values.empty() ? 0 : std::stoul(values[0]) % bodies.size();
    const std::string answer = HttpAnswer(bodies[index].first);
    connection.Send(answer.data(), answer.size());
  });
  VoiceController controller(nullptr);
  controller.serverAddress = "127.0.0.1";
  controller.serverPort = server.port();
  OutcomeCommands commands(controller);
  constexpr size_t kCommands = 300, kInFlight = 8;
  std::vector<std::future<Outcome>> outcomes;
  for (size_t i = 0; i < kCommands; ++i) {
    outcomes.push_back(commands.Create(std::to_wstring(i), L"alice", L"topic", L"alice,bob"));
    if (outcomes.size() < kInFlight && i + 1 < kCommands) continue;
    for (size_t done = 0; done < outcomes.size(); ++done) {
      const size_t command = i + 1 - outcomes.size() + done;
      const Outcome outcome = outcomes[done].get();
      const std::string seen =
          outcome.error() ? "error " + testing::Utf8(outcome.error()->text)
          : outcome.result()
              ? "result " + std::to_string(outcome.result()->flowId) + " " +
                    std::to_string(outcome.result()->code)
              : "another kind";
      ASSERT_EQ(seen, bodies[command % bodies.size()].second) << "command " << command;
    }
    outcomes.clear();
  }
}

}  // namespace
}  // namespace voicecontrol
