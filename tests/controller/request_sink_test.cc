// RequestSink: the long callbacks arrive as arrays, in order, and a sink
// made for one request sees its end once, last, and only if it was issued.
#include "controller/request_sink.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace voicecontrol {
namespace {

// Writes every hook call into a log that outlives the sink.
class LoggingSink final : public internal::RequestSink {
 public:
  explicit LoggingSink(std::vector<std::wstring>* log) : log_(log) {}
  void OnError(std::wstring text) override { log_->push_back(L"error " + text); }
  void OnCommandResult(int32_t, int32_t, std::wstring) override {}
  void OnQAllEmpty() override {}

 private:
  void OnEntry(QAllEntry entry) override {
    log_->push_back(std::accumulate(entry.begin(), entry.end(), std::wstring(L"entry ")));
  }
  void OnValues(QSingleValues values) override {
    log_->push_back(std::accumulate(values.begin(), values.end(), std::wstring(L"values ")));
  }
  void OnEnded() override { log_->push_back(L"ended"); }

  std::vector<std::wstring>* const log_;
};

struct Row {
  const char* name;
  bool issued;
  // What the request tells its sink; it keeps its own copy of the pointer.
  void (*request)(const std::shared_ptr<VoiceEventSink>&);
  std::vector<std::wstring> expected;
};

TEST(RequestSinkTest, HandsOnArraysAndEndsOnce) {
  const Row rows[] = {
      {"an issued request ends after its calls", true,
       [](const std::shared_ptr<VoiceEventSink>& sink) {
         sink->OnQAllEntry(L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h");
         sink->OnQAllEntry(L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8");
       },
       {L"entry abcdefgh", L"entry 12345678", L"ended"}},
      {"eighteen values in order", true,
       [](const std::shared_ptr<VoiceEventSink>& sink) {
         sink->OnQSingleResult(L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i", L"j", L"k",
                               L"l", L"m", L"n", L"o", L"p", L"q", L"r");
       },
       {L"values abcdefghijklmnopqr", L"ended"}},
      {"a request not issued has no end", false,
       [](const std::shared_ptr<VoiceEventSink>& sink) { sink->OnError(L"timeout."); },
       {L"error timeout."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::wstring> log;
    std::shared_ptr<VoiceEventSink> held;
    {
      auto sink = internal::RequestSink::ForOneRequest<LoggingSink>(&log);
      held = sink;  // the request outlives its issuer's pointer
      if (row.issued) sink->Issued();
    }
    row.request(held);
    held.reset();
    EXPECT_EQ(log, row.expected);
  }
}

}  // namespace
}  // namespace voicecontrol
