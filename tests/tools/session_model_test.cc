#include "session_model.h"

#include <gtest/gtest.h>

namespace voicecontrol {
namespace testing {
namespace {

using Clock = SessionModel::Clock;

class SessionModelTest : public ::testing::Test {
 protected:
  Answer Run(const std::string& method, std::vector<std::wstring> values) {
    return model_.Handle(method, values, now_);
  }
  SessionModel model_;
  Clock::time_point now_ = Clock::now();
};

TEST_F(SessionModelTest, CreateThenCreateAgainReportsExisting) {
  Answer first = Run("CREATE", {L"s1", L"alice", L"topic", L"alice,bob"});
  EXPECT_EQ(first.flowId, 1001);
  EXPECT_EQ(first.values, (std::vector<std::wstring>{L"0", L"created"}));
  Answer again = Run("CREATE", {L"s1", L"x", L"y", L"z"});
  EXPECT_EQ(again.values, (std::vector<std::wstring>{L"1", L"session exists"}));
  EXPECT_EQ(model_.SessionCount(), 1u);
}

TEST_F(SessionModelTest, CommandsOnMissingSessionReportCodeTwo) {
  EXPECT_EQ(Run("KICK", {L"nope", L"bob"}).values[0], L"2");
  EXPECT_EQ(Run("CHANGE", {L"nope", L"bob", L"3"}).values[0], L"2");
  EXPECT_EQ(Run("DSCALL", {L"nope", L"bob", L"2030-01-01 00:00:00"}).values[0], L"2");
  EXPECT_EQ(Run("QSINGLE", {L"nope"}).values[1], L"no such session");
}

TEST_F(SessionModelTest, QAllListsEverySessionAsCommaTerminatedColumns) {
  EXPECT_EQ(Run("QALL", {}).values,
            (std::vector<std::wstring>{L"0", L"", L"", L"", L"", L"", L"", L"", L""}));
  Run("CREATE", {L"a", L"o1", L"t1", L"m1"});
  Run("CREATE", {L"b", L"o2", L"t2", L"m2"});
  Run("KICK", {L"a", L"m1"});
  Answer all = Run("QALL", {});
  EXPECT_EQ(all.flowId, 1004);
  ASSERT_EQ(all.values.size(), 9u);
  EXPECT_EQ(all.values[0], L"2");
  EXPECT_EQ(all.values[1], L"a,b,");
  EXPECT_EQ(all.values[2], L"o1,o2,");
  EXPECT_EQ(all.values[5], L"1,0,");
}

TEST_F(SessionModelTest, CommasInsideQAllItemsCannotSplitThem) {
  Run("CREATE", {L"a", L"o", L"t", L"alice,bob"});
  EXPECT_EQ(Run("QALL", {}).values[4], L"alice;bob,");
}

TEST_F(SessionModelTest, QSingleAnswersEighteenValuesReflectingChanges) {
  Run("CREATE", {L"s", L"o", L"t", L"m"});
  Run("CHANGE", {L"s", L"bob", L"7"});
  Answer one = Run("QSINGLE", {L"s"});
  EXPECT_EQ(one.flowId, 1005);
  ASSERT_EQ(one.values.size(), 18u);
  EXPECT_EQ(one.values[0], L"s");
  EXPECT_EQ(one.values[1], L"found");
  EXPECT_EQ(one.values[7], L"bob");
  EXPECT_EQ(one.values[8], L"7");
}

TEST_F(SessionModelTest, DsCallEndsTheSessionAtItsEndTime) {
  Run("CREATE", {L"s", L"o", L"t", L"m"});
  EXPECT_EQ(Run("DSCALL", {L"s", L"o", L"not a time"}).values[0], L"3");
  EXPECT_EQ(Run("DSCALL", {L"s", L"o", L"2000-01-01 00:00:00"}).values[0], L"0");
  // An end time in the past ends the session at the next request.
  EXPECT_EQ(Run("QALL", {}).values[0], L"0");
}

TEST_F(SessionModelTest, UnknownMethodGetsNoFlowId) { EXPECT_EQ(Run("GET", {}).flowId, 0); }

}  // namespace
}  // namespace testing
}  // namespace voicecontrol
