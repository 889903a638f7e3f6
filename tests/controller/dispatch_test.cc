// The dispatcher on its own: SplitList, the entry list, and parsed answers
// of every FlowID.
#include <gtest/gtest.h>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::RecordingSink;

std::vector<std::wstring> Split(const std::wstring& text) {
  std::vector<std::wstring> list;
  SplitList(text, L",", &list);
  return list;
}

TEST(SplitListTest, EveryItemIsTerminatedBySeparator) {
  EXPECT_EQ(Split(L"a,b,c,"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(Split(L"a,b,c"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(Split(L",,"), (std::vector<std::wstring>{L"", L""}));
  EXPECT_TRUE(Split(L"").empty());
  EXPECT_TRUE(Split(L"abc").empty());
  std::vector<std::wstring> list = {L"kept"};
  SplitList(L"x::y::", L"::", &list);
  EXPECT_EQ(list, (std::vector<std::wstring>{L"kept", L"x", L"y"}));
  SplitList(L"x,", L"", &list);  // an empty separator terminates nothing
  EXPECT_EQ(list.size(), 3u);
}

class DeliverQAllTest : public ::testing::Test {
 protected:
  RecordingSink sink;
  VoiceController controller{&sink};
};

TEST_F(DeliverQAllTest, NoEntriesForZeroNegativeCounts) {
  controller.DeliverQAllResult(0, L"a,", L"", L"", L"", L"", L"", L"", L"");
  controller.DeliverQAllResult(-3, L"a,", L"", L"", L"", L"", L"", L"", L"");
  EXPECT_EQ(sink.events(), (std::vector<std::string>{"empty", "empty"}));
}

TEST_F(DeliverQAllTest, OneEntryTravelsUnsplit) {
  controller.DeliverQAllResult(1, L"x,", L"b", L"c,d", L"", L"e", L"f", L"g", L"h");
  EXPECT_EQ(sink.events(), (std::vector<std::string>{"entry x,|b|c,d||e|f|g|h"}));
}

TEST_F(DeliverQAllTest, SeveralEntriesAreTakenItemByItem) {
  controller.DeliverQAllResult(2, L"x1,y1,", L"x2,y2,", L"x3,y3,", L"x4,y4,", L"x5,y5,", L"x6,y6,",
                               L"x7,y7,", L"x8,y8,");
  EXPECT_EQ(sink.events(), (std::vector<std::string>{"entry x1|x2|x3|x4|x5|x6|x7|x8",
                                                     "entry y1|y2|y3|y4|y5|y6|y7|y8"}));
}

TEST_F(DeliverQAllTest, MissingItemsAreEmptyButTheCountIsBoundedByTheLongestList) {
  controller.DeliverQAllResult(2000000000, L"a,b,c,", L"d,", L"", L"", L"", L"", L"", L"e,f,");
  EXPECT_EQ(sink.events(),
            (std::vector<std::string>{"entry a|d||||||e", "entry b|||||||f", "entry c|||||||"}));
}

TEST_F(DeliverQAllTest, CountWithoutAnyItemMeansNoEntries) {
  controller.DeliverQAllResult(5, L"a", L"", L"", L"", L"", L"", L"", L"");
  EXPECT_EQ(sink.events(), (std::vector<std::string>{"empty"}));
}

// Parses `bytes` as an answer and dispatches it.
std::vector<std::string> Dispatch(const std::string& bytes) {
  RecordingSink sink;
  VoiceController controller(&sink);
  HttpXmlRsp response;
  EXPECT_EQ(response.CreateBody(), 0);
  EXPECT_EQ(response.Parse(bytes.c_str(), static_cast<int>(bytes.size())), 0);
  controller.DispatchResponse(response);
  return sink.events();
}

using Events = std::vector<std::string>;

TEST(DispatchResponseTest, CommandResultsCarryCodeAndText) {
  for (int flow : {1001, 1002, 1003, 1006}) {
    EXPECT_EQ(Dispatch(Answer(flow, 2, {"7", "done"})),
              Events{"result " + std::to_string(flow) + " 7 done"});
  }
  EXPECT_EQ(Dispatch(Answer(1001, 1, {"0"})), Events{"result 1001 0 "});
  EXPECT_EQ(Dispatch(Answer(1002, 2, {"  -12abc", "x"})), Events{"result 1002 -12 x"});
  EXPECT_EQ(Dispatch(Answer(1003, 2, {"none", "x"})), Events{"result 1003 0 x"});
  EXPECT_EQ(Dispatch(Answer(1006, 1, {})), Events{"result 1006 0 "});
}

TEST(DispatchResponseTest, TooFewFieldsIsAParamError) {
  EXPECT_EQ(Dispatch(Answer(1001, 0, {"1", "x"})), Events{"error param error."});
  EXPECT_EQ(Dispatch(Answer(1004, 8, {"1", "a", "b", "c", "d", "e", "f", "g", "h"})),
            Events{"error param error."});
  std::vector<std::string> eighteen(18, "v");
  EXPECT_EQ(Dispatch(Answer(1005, 8, eighteen)), Events{"error param error."});
}

TEST(DispatchResponseTest, UnknownOrMissingFlowIsABadMessage) {
  EXPECT_EQ(Dispatch(Answer(2000, 2, {"1", "x"})), Events{"error bad message."});
  EXPECT_EQ(Dispatch(Answer(0, 2, {"1", "x"})), Events{"error bad message."});
  EXPECT_EQ(Dispatch("HTTP/1.1 200 OK\r\n\r\n"), Events{"error bad message."});
  EXPECT_EQ(Dispatch(testing::HttpAnswer("<Interface><Response><FieldNum>2</FieldNum>"
                                         "</Response></Interface>")),
            Events{"error bad message."});
}

TEST(DispatchResponseTest, QSingleDeliversEighteenValuesMissingOnesEmpty) {
  std::vector<std::string> values;
  std::string expected = "single ";
  for (int i = 1; i <= 18; ++i) {
    values.push_back("v" + std::to_string(i));
    expected += (i > 1 ? "|v" : "v") + std::to_string(i);
  }
  EXPECT_EQ(Dispatch(Answer(1005, 18, values)), Events{expected});
  values.resize(9);
  EXPECT_EQ(Dispatch(Answer(1005, 9, values)),
            Events{"single v1|v2|v3|v4|v5|v6|v7|v8|v9|||||||||"});
}

TEST(DispatchResponseTest, QAllAnswersBecomeEntries) {
  EXPECT_EQ(Dispatch(Answer(1004, 9, {"0", "", "", "", "", "", "", "", ""})), Events{"empty"});
  EXPECT_EQ(Dispatch(Answer(1004, 9, {"-1", "a,", "", "", "", "", "", "", ""})), Events{"empty"});
  EXPECT_EQ(Dispatch(Answer(1004, 9, {"x", "a,", "", "", "", "", "", "", ""})), Events{"empty"});
  EXPECT_EQ(Dispatch(Answer(1004, 9, {"1", "x,", "b", "c", "d", "e", "f", "g", "h"})),
            Events{"entry x,|b|c|d|e|f|g|h"});
  EXPECT_EQ(Dispatch(Answer(1004, 9,
                            {"2", "a,b,", "c,d,", "e,f,", "g,h,", "i,j,", "k,l,", "m,n,", "o,p,"})),
            (Events{"entry a|c|e|g|i|k|m|o", "entry b|d|f|h|j|l|n|p"}));
}

TEST(DispatchResponseTest, SequenceNumbersDoNotMatter) {
  const std::string a = testing::HttpAnswer(testing::AnswerDocument(5, 1001, 2, {"1", "a"}));
  const std::string b = testing::HttpAnswer(testing::AnswerDocument(5, 1002, 2, {"2", "b"}));
  EXPECT_EQ(Dispatch(a), Events{"result 1001 1 a"});
  EXPECT_EQ(Dispatch(b), Events{"result 1002 2 b"});
}

}  // namespace
}  // namespace voicecontrol
