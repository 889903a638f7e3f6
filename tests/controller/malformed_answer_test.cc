// An answer that is no well-formed document reaches the host as
// "bad message.", on both platforms; the same answer repaired is delivered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "../interface/answer_documents.h"
#include "test_support.h"

namespace voicecontrol {
namespace {

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

}  // namespace
}  // namespace voicecontrol
