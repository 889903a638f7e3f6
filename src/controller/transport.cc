// Carrying one request to the server and its answer back: a connection of
// its own per request, a receive thread that owns that connection, and the
// two log files.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/error_detail.h"
#include "controller/error_texts.h"
#include "controller/forced_unwind.h"
#include "controller/logs.h"
#include "controller/receive_threads.h"
#include "controller/request_issuer.h"
#include "controller/timeouts.h"
#include "http/decimal.h"
#include "http/text_scan.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include "platform/clock.h"
#include "platform/socket.h"

namespace voicecontrol {

// One request in flight, owned by its receive thread once sent.
struct VoiceController::Request {
  platform::TcpSocket socket;
  // Held until the request's last call to it has returned.
  std::shared_ptr<VoiceEventSink> sink;
  // The monotonic time by which the answer must be complete: the time-out
  // (timeoutMs) counts from the moment the request has been sent.
  int64_t deadlineMs = 0;
  int64_t timeoutMs = 0;
};

namespace {

// The whole answer must fit, with a terminator, into this many bytes.
constexpr int kResponseCapacity = 81920;
// At most this much is read at once.
constexpr int kReadChunk = 8192;

// Why a socket call failed, in the words of the system.
std::string SystemReason(const platform::TcpSocket& socket) {
  return platform::SocketErrorText(socket.lastError().code);
}

// `timeoutMs`: the connect time-out the attempt had.
std::string ConnectFailure(const platform::TcpSocket& socket, const std::string& address,
                           int64_t timeoutMs) {
  switch (socket.lastError().kind) {
    case platform::SocketError::Kind::kTimedOut:
      return "connect: no answer within " + internal::DescribeWait(timeoutMs);
    case platform::SocketError::Kind::kBadAddress:
      return "connect: \"" + address + "\" is not a dotted IPv4 address";
    default:
      return "connect: " + SystemReason(socket);
  }
}

// Where an answer is read into. Nearly every answer arrives whole within
// the first read, into room on the thread's stack; one that outgrows it
// moves to the heap and is freed with the request, so that no long-lived
// receive thread keeps resident the stack pages of its largest answer.
class AnswerBuffer {
 public:
  AnswerBuffer() { first_[0] = '\0'; }
  // It points into itself.
  AnswerBuffer(const AnswerBuffer&) = delete;
  AnswerBuffer& operator=(const AnswerBuffer&) = delete;

  char* data() { return data_; }
  int size() const { return size_; }

  // Makes room for the next read. False when there is none: the answer has
  // filled the whole capacity (Full()), or the memory for a larger one is
  // not to be had (an answer that cannot be held is as undecodable as one
  // too long).
  bool MakeRoom() {
    if (size_ < capacity_ - 1) return true;
    if (Full()) return false;
    // The whole capacity at once and not zero-filled: only the pages an
    // answer fills are ever touched.
    char* const grown = new (std::nothrow) char[kResponseCapacity];
    if (grown == nullptr) return false;
    std::memcpy(grown, first_, static_cast<size_t>(size_) + 1);
    grown_.reset(grown);
    data_ = grown;
    capacity_ = kResponseCapacity;
    return true;
  }

  // Where the next read goes and how much it may take: never more than one
  // read's worth, and always a byte left for the terminator.
  char* room() { return data_ + size_; }
  bool Full() const { return size_ >= kResponseCapacity - 1; }
  int roomSize() const { return std::min(kReadChunk, capacity_ - 1 - size_); }

  void Received(int count) {
    size_ += count;
    data_[size_] = '\0';
  }

 private:
  char first_[kReadChunk + 1];
  std::unique_ptr<char[]> grown_;
  char* data_ = first_;
  int capacity_ = kReadChunk + 1;
  int size_ = 0;
};

}  // namespace

int IsResponseComplete(const char* data, int length) {
  if (data == nullptr || length <= 0) return 0;
  const std::string_view text(data, static_cast<size_t>(length));
  const size_t headerEnd = text.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) return 0;
  const long long bodyAtHand = static_cast<long long>(length) - (headerEnd + 4);
  const char* end = data + length;
  constexpr std::string_view kContentLength = "content-length:";
  // A Content-Length header begins right after a line end; the status line
  // is never taken for one.
  for (size_t cr = text.find('\r'); cr < headerEnd; cr = text.find('\r', cr + 1)) {
    const char* name = data + cr + 2;
    if (name > end || !StartsWithNoCase(name, static_cast<size_t>(end - name), kContentLength)) {
      continue;
    }
    const long long declared = ReadDecimalPrefix(name + kContentLength.size(), end);
    return declared <= bodyAtHand ? 1 : 0;
  }
  return 1;
}

VoiceController::VoiceController(VoiceEventSink* sink)
    : sink(sink), receiveThreads(std::make_unique<internal::ReceiveThreads>()) {}

// Waits for the answers still in flight (at most their time-out).
VoiceController::~VoiceController() = default;

bool VoiceController::SetTimeoutsMs(long long connectMs, long long answerMs) {
  if (!internal::IsTimeoutInRange(connectMs) || !internal::IsTimeoutInRange(answerMs)) {
    return false;
  }
  receiveThreads->connectTimeoutMs = connectMs;
  receiveTimeoutMs = answerMs;
  return true;
}

int VoiceController::SendRequest(const char* request) {
  return SendRequestTo(internal::RequestIssuer::HostSink(*this), request);
}

int VoiceController::SendRequestTo(const std::shared_ptr<VoiceEventSink>& to,
                                   const char* request) {
  auto pending = std::make_shared<Request>();
  pending->sink = to;
  platform::TcpSocket& socket = pending->socket;
  if (!socket.Create()) {
    internal::ReportError(to.get(), internal::kSocketError, "socket: " + SystemReason(socket));
    return -1;
  }
  // The connection must be made within the connect time-out, as the
  // answer must come within the answer time-out: a command never blocks
  // its caller longer.
  const int64_t connectTimeoutMs = receiveThreads->connectTimeoutMs;
  if (!socket.Connect(serverAddress.c_str(), serverPort, connectTimeoutMs)) {
    const std::string reason = ConnectFailure(socket, serverAddress, connectTimeoutMs);
    socket.Close();
    internal::ReportError(to.get(), internal::kConnectError, reason);
    return -1;
  }
  const size_t length = request == nullptr ? 0 : std::strlen(request);
  const long sent = socket.Send(request, length);
  if (sent < 1) {
    const std::string reason = sent < 0       ? "send: " + SystemReason(socket)
                               : length == 0 ? "send: the request is empty"
                                             : "send: nothing was sent";
    socket.Close();
    internal::ReportError(to.get(), internal::kSendError, reason);
    return -1;
  }
  pending->timeoutMs = receiveTimeoutMs;
  pending->deadlineMs = platform::MonotonicMilliseconds() + receiveTimeoutMs;

  // Sent, logged, then the receive thread: every outcome of the request,
  // an early "timeout." too, comes after its record.
  internal::LogRequest(request, length);
  const bool started =
      !failThreadStarts &&
      receiveThreads->Run([pending] { ReceiveOnThisThread(pending.get()); }, socket,
                          pending->deadlineMs);
  if (!started) {
    // The request went out, but nobody can wait for its answer.
    socket.Close();
    internal::ReportError(to.get(), internal::kTimeout, "no receive thread could be started");
    return -1;
  }
  return 0;
}

// The receive thread's job.
VC_CATCHES_FORCED_UNWIND void VoiceController::ReceiveOnThisThread(Request* request) {
  try {
    ReceiveResponse(request);
  } VC_RETHROW_FORCED_UNWIND catch (...) {
    // Only a host callback throws here. Its exception has nowhere to go on
    // this thread, and the outcome has been delivered already.
  }
}

// Runs on the receive thread.
void VoiceController::ReceiveResponse(Request* request) {
  VoiceEventSink* const sink = request->sink.get();
  platform::TcpSocket& socket = request->socket;
  AnswerBuffer response;
  const int64_t deadline = request->deadlineMs;
  // Every way to fail closes the socket before the report.
  auto fail = [&](const char* text, const std::string& detail) {
    socket.Close();
    internal::ReportError(sink, text, detail);
  };
  // Made only when needed: the common path allocates nothing for it.
  auto noAnswer = [request] {
    return "no answer within " + internal::DescribeWait(request->timeoutMs);
  };
  for (;;) {
    if (!response.MakeRoom()) {
      // Not complete within the buffer: it never will be.
      return fail(internal::kDecode,
                  response.Full()
                      ? "answer longer than " + std::to_string(kResponseCapacity - 1) + " bytes"
                      : "no memory for the answer");
    }
    const int64_t left = deadline - platform::MonotonicMilliseconds();
    if (left <= 0) return fail(internal::kTimeout, noAnswer());
    // A thread handed this request while waiting wakes when the answer has
    // arrived: read first, and wait only when nothing is there yet.
    char* const into = response.room();
    const int room = response.roomSize();
    long got = socket.ReceiveNow(into, static_cast<size_t>(room));
    if (got == platform::TcpSocket::kNothingYet) {
      switch (socket.WaitReadable(left)) {
        case platform::WaitResult::kReady:
          break;
        case platform::WaitResult::kTimedOut:
          return fail(internal::kTimeout, noAnswer());
        case platform::WaitResult::kFailed:
          return fail(internal::kTimeout, "receive: the wait for the answer failed");
      }
      got = socket.Receive(into, static_cast<size_t>(room));
    }
    // The server closed (or broke) the connection before the answer was
    // complete; waiting longer cannot complete it.
    if (got == 0) return fail(internal::kTimeout, "peer closed before a complete answer");
    if (got < 0) return fail(internal::kTimeout, "receive: " + SystemReason(socket));
    response.Received(static_cast<int>(got));
    if (IsResponseComplete(response.data(), response.size())) break;
  }
  socket.Close();
  internal::LogAnswer(response.data(), static_cast<size_t>(response.size()));

  internal::Answer answer;
  internal::ParseAndDeliver(response.data(), response.size(), sink, &answer);
}

}  // namespace voicecontrol
