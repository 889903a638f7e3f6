// The host's log and event hooks (C interface) over the controller's
// observer: which records reach the hook and whether the files are still
// written, and what each command's timeline tells for each way it ends.
#include <voicecontrol/voicecontrol.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "test_support.h"

namespace voicecontrol {
namespace {

using testing::Answer;
using testing::ClosedPort;
using testing::FreshTempDirectory;
using testing::ReadFileBytes;
using testing::TestServer;

void* Tag(intptr_t number) { return reinterpret_cast<void*>(number); }

// What the hooks and on_done were told.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> records;  // "sent <id> <tag>" / "received <id> <tag>"
  std::vector<std::string> bytes;
  std::vector<vc_request_events> events;
  std::vector<std::string> errorTexts, errorDetails;
  int done = 0;

  static vc_callbacks Callbacks() {
    vc_callbacks callbacks{};
    callbacks.on_done = [](void* user, void*) {
      auto* self = static_cast<Seen*>(user);
      std::lock_guard<std::mutex> lock(self->mutex);
      ++self->done;
      self->changed.notify_all();
    };
    return callbacks;
  }

  static void VC_CALL OnRecord(void* user, const vc_log_record* record) {
    auto* self = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->records.push_back(std::string(record->sent ? "sent " : "received ") +
                            std::to_string(record->request_id) + " " +
                            std::to_string(reinterpret_cast<intptr_t>(record->tag)));
    self->bytes.emplace_back(record->bytes, record->length);
  }

  static void VC_CALL OnEvents(void* user, const vc_request_events* events) {
    auto* self = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->events.push_back(*events);
    self->errorTexts.push_back(events->error_text != nullptr ? events->error_text : "<result>");
    self->errorDetails.push_back(events->error_detail);
  }

  void AwaitDone(int count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return done >= count; });
  }
};

struct HookRow {
  const char* name;
  bool hook;
  int keepFiles;
  bool filesWritten;
};

class LogHookTest : public ::testing::TestWithParam<HookRow> {};

TEST_P(LogHookTest, RecordsGoToTheHookAndTheFilesAsAsked) {
  const HookRow& row = GetParam();
  const std::string answer = Answer(1002, 2, {"0", "kicked"});
  TestServer server(TestServer::Reply(answer));
  const auto directory = FreshTempDirectory("log_hook");
  ASSERT_EQ(vc_set_log_directory(directory.string().c_str()), VC_OK);
  Seen seen;
  const vc_callbacks callbacks = Seen::Callbacks();
  vc_controller* controller = vc_controller_create(&callbacks, &seen);
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", server.port()), VC_OK);
  if (row.hook) {
    ASSERT_EQ(vc_set_log_hook(controller, &Seen::OnRecord, &seen, row.keepFiles), VC_OK);
  }
  ASSERT_EQ(vc_kick(controller, "s1", "m", Tag(7)), VC_OK);
  ASSERT_EQ(vc_kick(controller, "s2", "m", Tag(8)), VC_OK);
  seen.AwaitDone(2);
  vc_controller_destroy(controller);
  ASSERT_EQ(vc_set_log_directory(nullptr), VC_OK);

  const bool written = ReadFileBytes((directory / "SendVoiceMsg.log").string()) != "<missing>";
  EXPECT_EQ(written, row.filesWritten);
  if (!row.hook) {
    EXPECT_TRUE(seen.records.empty());
    return;
  }
  // Both records of each request, numbered in issue order, the request's
  // before its answer's.
  const std::vector<std::string>& records = seen.records;
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], "sent 1 7");
  for (const char* expected : {"received 1 7", "sent 2 8", "received 2 8"}) {
    EXPECT_NE(std::find(records.begin() + 1, records.end(), expected), records.end()) << expected;
  }
  EXPECT_EQ(seen.bytes[0].rfind("KICK ", 0), 0u) << seen.bytes[0];
  EXPECT_EQ(testing::FieldValues(seen.bytes[0]), (std::vector<std::string>{"s1", "m"}));
  const size_t received = std::find(records.begin(), records.end(), "received 1 7") - records.begin();
  EXPECT_EQ(seen.bytes[received], answer);
}

const HookRow kHookRows[] = {
    {"NoHookWritesTheFiles", false, 0, true},
    {"HookAloneReplacesTheFiles", true, 0, false},
    {"HookAndFilesWhenAsked", true, 1, true},
};

INSTANTIATE_TEST_SUITE_P(Choices, LogHookTest, ::testing::ValuesIn(kHookRows),
                         [](const auto& info) { return std::string(info.param.name); });

// How a command ended, and what its timeline must show.
struct EndRow {
  const char* name;
  const char* answer;  // null: the connection is refused
  const char* argument;
  const char* errorText;
  const char* detailPart;
  int32_t status;
  bool connected;
  bool answered;
};

const EndRow kEndRows[] = {
    {"Result", "ok", "s1", "<result>", "", 200, true, true},
    // A well-formed message with an error status is still a result; only
    // the timeline shows its status.
    {"ResultWithErrorStatus", "500", "s1", "<result>", "", 500, true, true},
    {"MalformedAnswer", "garbage", "s1", "bad message.", "", 200, true, true},
    {"Refused", nullptr, "s1", "connect error.", "connect: ", 0, false, false},
    {"RefusedArgument", "ok", "bad\x01", "param error.", "U+0001", 0, false, false},
};

class RequestEventsTest : public ::testing::TestWithParam<EndRow> {};

std::string HttpAnswerFor(const std::string& kind) {
  const std::string body = testing::AnswerDocument(1, 1002, 2, {"0", "kicked"});
  const std::string status = kind == "500" ? "500 Internal Server Error" : "200 OK";
  if (kind == "garbage") {
    return "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n<a><b";
  }
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_P(RequestEventsTest, TimelineTellsHowTheCommandEnded) {
  const EndRow& row = GetParam();
  TestServer server(TestServer::Reply(HttpAnswerFor(row.answer != nullptr ? row.answer : "")));
  Seen seen;
  const vc_callbacks callbacks = Seen::Callbacks();
  vc_controller* controller = vc_controller_create(&callbacks, &seen);
  const uint16_t port = row.answer != nullptr ? server.port() : ClosedPort();
  ASSERT_EQ(vc_set_server(controller, "127.0.0.1", port), VC_OK);
  ASSERT_EQ(vc_set_event_hook(controller, &Seen::OnEvents, &seen), VC_OK);
  ASSERT_EQ(vc_kick(controller, row.argument, "m", Tag(3)), VC_OK);
  seen.AwaitDone(1);
  vc_controller_destroy(controller);

  ASSERT_EQ(seen.events.size(), 1u);
  const vc_request_events& e = seen.events[0];
  EXPECT_EQ(e.request_id, 1u);
  EXPECT_EQ(e.tag, Tag(3));
  EXPECT_EQ(e.flow_id, 1002);
  EXPECT_EQ(e.http_status, row.status);
  EXPECT_EQ(seen.errorTexts[0], row.errorText);
  EXPECT_NE(seen.errorDetails[0].find(row.detailPart), std::string::npos) << seen.errorDetails[0];
  // Each phase reached comes in order; the others stay 0.
  const int64_t phases[] = {e.queued_us,          e.connect_started_us, e.connected_us,
                            e.request_written_us, e.first_answer_byte_us,
                            e.answer_complete_us, e.outcome_delivered_us};
  const bool reached[] = {true,         row.connected || row.answer == nullptr,
                          row.connected, row.connected,
                          row.answered, row.answered,
                          true};
  int64_t last = 0;
  for (size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(phases[i] != 0, reached[i]);
    if (phases[i] == 0) continue;
    EXPECT_GE(phases[i], last);
    last = phases[i];
  }
  EXPECT_EQ(e.bytes_out != 0, row.connected);
  EXPECT_EQ(e.bytes_in != 0, row.answered);
}

INSTANTIATE_TEST_SUITE_P(Ends, RequestEventsTest, ::testing::ValuesIn(kEndRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voicecontrol
