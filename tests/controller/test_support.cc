#include "test_support.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/codepage.h"

namespace voicecontrol {
namespace testing {

TestServer::TestServer(Handler handler) : handler_(std::move(handler)) {
  if (!listener_.Listen()) return;
  port_ = listener_.Port();
  thread_.Start([this] { Run(); });
}

TestServer::~TestServer() {
  stop_ = true;
  thread_.Join();
}

std::vector<std::string> TestServer::requests() {
  platform::MutexLock lock(&mutex_);
  return requests_;
}

void TestServer::Run() {
  while (!stop_) {
    platform::TcpSocket connection = listener_.Accept(20);
    if (!connection.IsOpen()) continue;
    ++connections_;
    const std::string request = ReadMessage(connection, 5000);
    {
      platform::MutexLock lock(&mutex_);
      requests_.push_back(request);
    }
    if (handler_) handler_(connection, request);
  }
}

TestServer::Handler TestServer::Reply(std::string bytes) {
  return [bytes](platform::TcpSocket& connection, const std::string&) {
    connection.Send(bytes.data(), bytes.size());
  };
}

TestServer::Handler TestServer::Silent() {
  return [](platform::TcpSocket& connection, const std::string&) {
    char byte;
    while (connection.WaitReadable(30000) == platform::WaitResult::kReady &&
           connection.Receive(&byte, 1) > 0) {
    }
  };
}

FullListener::FullListener() {
  if (!listener_.Listen(0, 0)) return;
  while (queued_.size() < 64) {
    auto filler = std::make_unique<platform::TcpSocket>();
    if (!filler->Create()) return;
    if (!filler->Connect("127.0.0.1", listener_.Port(), 300)) {
      full_ = filler->lastError().kind == platform::SocketError::Kind::kTimedOut;
      return;
    }
    queued_.push_back(std::move(filler));
  }
}

std::string ReadMessage(platform::TcpSocket& connection, int64_t timeoutMs) {
  std::string message;
  const int64_t deadline = platform::MonotonicMilliseconds() + timeoutMs;
  char chunk[8192];
  while (!IsResponseComplete(message.data(), static_cast<int>(message.size()))) {
    const int64_t left = deadline - platform::MonotonicMilliseconds();
    if (left <= 0 || connection.WaitReadable(left) != platform::WaitResult::kReady) break;
    const long got = connection.Receive(chunk, sizeof chunk);
    if (got <= 0) break;
    message.append(chunk, static_cast<size_t>(got));
  }
  return message;
}

std::string Utf8(const std::wstring& text) { return platform::WideToUtf8String(text); }

void RecordingSink::Record(std::string event) {
  {
    platform::MutexLock lock(&mutex_);
    events_.push_back(event);
  }
  if (after) after(event);
}

void RecordingSink::OnError(std::wstring text) { Record("error " + Utf8(text)); }

void RecordingSink::OnCommandResult(int32_t flowId, int32_t code, std::wstring text) {
  Record("result " + std::to_string(flowId) + " " + std::to_string(code) + " " + Utf8(text));
}

void RecordingSink::OnQAllEmpty() { Record("empty"); }

namespace {

// The texts in order, each but the first after a "|".
template <size_t Count>
std::string Join(const std::array<std::wstring, Count>& texts) {
  std::string joined;
  for (size_t i = 0; i < Count; ++i) joined += (i == 0 ? "" : "|") + Utf8(texts[i]);
  return joined;
}

}  // namespace

void RecordingSink::OnEntry(QAllEntry entry) { Record("entry " + Join(entry)); }

void RecordingSink::OnValues(QSingleValues values) { Record("single " + Join(values)); }

std::vector<std::string> RecordingSink::WaitFor(size_t count, int64_t timeoutMs) {
  const int64_t deadline = platform::MonotonicMilliseconds() + timeoutMs;
  for (;;) {
    {
      platform::MutexLock lock(&mutex_);
      if (events_.size() >= count || platform::MonotonicMilliseconds() >= deadline) {
        return events_;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<std::string> RecordingSink::events() {
  platform::MutexLock lock(&mutex_);
  return events_;
}

namespace {

std::string Document(const char* body, int seqNo, int flowId, int fieldNum,
                     const std::vector<std::string>& values) {
  std::string text = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<";
  text += body;
  text += ">\n<Seq_No>" + std::to_string(seqNo) + "</Seq_No>\n";
  text += "<FlowID>" + std::to_string(flowId) + "</FlowID>\n";
  text += "<FieldNum>" + std::to_string(fieldNum) + "</FieldNum>\n<Field>\n";
  for (const std::string& value : values) text += "<Field_Value>" + value + "</Field_Value>\n";
  text += "</Field>\n</";
  text += body;
  text += ">\n</Interface>";
  return text;
}

}  // namespace

std::string AnswerDocument(int seqNo, int flowId, int fieldNum,
                           const std::vector<std::string>& values) {
  return Document("Response", seqNo, flowId, fieldNum, values);
}

std::string HttpAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

std::vector<std::string> FieldValues(const std::string& request) {
  std::vector<std::string> values;
  const std::string open = "<Field_Value>", close = "</Field_Value>";
  for (size_t at = request.find(open); at != std::string::npos; at = request.find(open, at)) {
    at += open.size();
    values.push_back(request.substr(at, request.find(close, at) - at));
  }
  return values;
}

uint16_t ClosedPort() {
  platform::TcpListener listener;
  EXPECT_TRUE(listener.Listen());
  return listener.Port();
}

std::string Answer(int flowId, int fieldNum, const std::vector<std::string>& values) {
  return HttpAnswer(AnswerDocument(1, flowId, fieldNum, values));
}

std::string RequestDocument(int seqNo, int flowId, int fieldNum,
                            const std::vector<std::string>& values) {
  return Document("Request", seqNo, flowId, fieldNum, values);
}

std::string HttpRequest(const std::string& method, const std::string& body) {
  return method + " /MyURL/ HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\n\r\n" + body;
}

std::string ReadFileBytes(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "<missing>";
  std::string content;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
  std::fclose(file);
  return content;
}

std::filesystem::path FreshTempDirectory(const std::string& prefix) {
  // create_directory says whether it made the directory, so a name another
  // process took at the same moment is simply passed over.
  std::random_device seed;
  std::mt19937 pick(seed());
  const std::filesystem::path base(::testing::TempDir());
  for (;;) {
    const std::filesystem::path candidate = base / (prefix + std::to_string(pick()));
    if (std::filesystem::create_directory(candidate)) return candidate;
  }
}

}  // namespace testing
}  // namespace voicecontrol
