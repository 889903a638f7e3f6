// Helpers for the controller tests: a loopback server with scripted
// behaviour, a sink that records what it is told, and answer builders.
#ifndef VOICECONTROL_TESTS_CONTROLLER_TEST_SUPPORT_H_
#define VOICECONTROL_TESTS_CONTROLLER_TEST_SUPPORT_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/request_sink.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace voicecontrol {
namespace testing {

// Accepts connections on 127.0.0.1, one at a time: reads each request
// (header block plus Content-Length body), records it and hands the
// connection to the handler, then closes it.
class TestServer {
 public:
  using Handler = std::function<void(platform::TcpSocket& connection, const std::string& request)>;

  explicit TestServer(Handler handler);
  ~TestServer();

  uint16_t port() const { return port_; }
  std::vector<std::string> requests();
  int connections() const { return connections_; }

  // Handlers for common scripts.
  static Handler Reply(std::string bytes);
  // Keeps the connection open, silent, until the client closes it.
  static Handler Silent();

 private:
  void Run();

  Handler handler_;
  platform::TcpListener listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  platform::Mutex mutex_;
  std::vector<std::string> requests_;  // guarded by mutex_
  platform::Thread thread_;
};

// A listener whose accept queue is full: further connection requests are
// dropped without an answer, as by a host that filters them, and a connect
// stalls until its time-out.
class FullListener {
 public:
  FullListener();
  bool full() const { return full_; }
  uint16_t port() const { return listener_.Port(); }

 private:
  platform::TcpListener listener_;
  std::vector<std::unique_ptr<platform::TcpSocket>> queued_;
  bool full_ = false;
};

// Reads one HTTP message from `connection` (at most `timeoutMs`).
std::string ReadMessage(platform::TcpSocket& connection, int64_t timeoutMs);

// Records every sink call as one line of UTF-8 text:
//   "error <text>", "result <flowId> <code> <text>", "empty",
//   "entry a|b|c|d|e|f|g|h", "single v1|...|v18".
class RecordingSink : public internal::RequestSink {
 public:
  RecordingSink() = default;

  void OnError(std::wstring text) override;
  void OnCommandResult(int32_t flowId, int32_t code, std::wstring text) override;
  void OnQAllEmpty() override;

  // Waits until at least `count` events arrived (at most `timeoutMs`) and
  // returns all events so far.
  std::vector<std::string> WaitFor(size_t count, int64_t timeoutMs = 10000);
  std::vector<std::string> events();

  // Called after each event is recorded (on the calling thread).
  std::function<void(const std::string&)> after;

 protected:
  void OnEntry(QAllEntry entry) override;
  void OnValues(QSingleValues values) override;

 private:
  void Record(std::string event);

  platform::Mutex mutex_;
  std::vector<std::string> events_;  // guarded by mutex_
};

std::string Utf8(const std::wstring& text);

// An interface message answer document and its HTTP response.
std::string AnswerDocument(int seqNo, int flowId, int fieldNum,
                           const std::vector<std::string>& values);
std::string HttpAnswer(const std::string& body);
std::string Answer(int flowId, int fieldNum, const std::vector<std::string>& values);

// The request document and HTTP request a command is expected to send.
std::string RequestDocument(int seqNo, int flowId, int fieldNum,
                            const std::vector<std::string>& values);
std::string HttpRequest(const std::string& method, const std::string& body);

// The field values of a request, in order.
std::vector<std::string> FieldValues(const std::string& request);

// A loopback port on which nothing listens any more: connecting is refused.
uint16_t ClosedPort();

// The bytes of a file, or "<missing>".
std::string ReadFileBytes(const std::string& path);

// A directory under the test temporary directory that this call created, so
// no other test process (ctest runs several at once) can be using it.
std::filesystem::path FreshTempDirectory(const std::string& prefix);

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTS_CONTROLLER_TEST_SUPPORT_H_
