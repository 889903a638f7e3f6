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
#include "controller/receive_threads.h"
#include "controller/request_issuer.h"
#include "http/decimal.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace voicecontrol {

// One request in flight, owned by its receive thread once sent.
struct VoiceController::Request {
  platform::TcpSocket socket;
  // Held until the request's last call to it has returned.
  std::shared_ptr<VoiceEventSink> sink;
  // The monotonic time by which the answer must be complete: the time-out
  // counts from the moment the request has been sent.
  int64_t deadlineMs = 0;
};

namespace {

// The whole answer must fit, with a terminator, into this many bytes.
constexpr int kResponseCapacity = 81920;
// At most this much is read at once.
constexpr int kReadChunk = 8192;

constexpr char kSendLogPath[] = "../SendVoiceMsg.log";
constexpr char kReceiveLogPath[] = "../RecvVoiceMsg.log";
constexpr char16_t kSendMarker[] = u"---> \r\n";
constexpr char16_t kReceiveMarker[] = u"<--- \r\n";

void ReportTo(VoiceEventSink* sink, const char* text) {
  sink->OnError(std::wstring(text, text + std::strlen(text)));
}

// Each log file is shared by every controller of the process; records in
// it must never interleave. The two files have a lock each, so that a
// request being logged never waits for an answer being logged.
platform::Mutex& SendLogMutex() {
  static platform::Mutex mutex;
  return mutex;
}

platform::Mutex& ReceiveLogMutex() {
  static platform::Mutex mutex;
  return mutex;
}

// Replaces the file's content with the marker as UTF-16LE, then the
// message up to its first zero byte. The caller holds the file's lock. Failures
// are ignored: no request depends on its log.
void WriteLogRecordLocked(const char* path, const char16_t* marker, const char* message,
                          size_t length) {
  // Small records (nearly all) go out in one write.
  char record[4096];
  size_t markerLength = 0;
  for (const char16_t* unit = marker; *unit != 0; ++unit) {
    record[markerLength++] = static_cast<char>(*unit & 0xFF);
    record[markerLength++] = static_cast<char>(*unit >> 8);
  }
  const void* const zero = std::memchr(message, '\0', length);
  const size_t messageLength =
      zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - message) : length;
  platform::OutputFile file;
  if (!file.Create(path)) return;
  if (markerLength + messageLength <= sizeof record) {
    std::memcpy(record + markerLength, message, messageLength);
    file.Write(record, markerLength + messageLength);
  } else if (file.Write(record, markerLength)) {
    file.Write(message, messageLength);
  }
}

bool StartsWithContentLength(const char* text, const char* end) {
  static constexpr char kName[] = "content-length:";
  constexpr size_t kNameLength = sizeof kName - 1;
  if (end - text < static_cast<std::ptrdiff_t>(kNameLength)) return false;
  for (size_t i = 0; i < kNameLength; ++i) {
    // ASCII case folding: the header name is ASCII, and the C locale's
    // tolower costs a call per byte.
    const char c = text[i];
    const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    if (folded != kName[i]) return false;
  }
  return true;
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
  // filled the whole capacity, or the memory for a larger one is not to be
  // had (an answer that cannot be held is as undecodable as one too long).
  bool MakeRoom() {
    if (size_ < capacity_ - 1) return true;
    if (capacity_ == kResponseCapacity) return false;
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
  // A Content-Length header begins right after a line end; the status line
  // is never taken for one.
  for (size_t cr = text.find('\r'); cr < headerEnd; cr = text.find('\r', cr + 1)) {
    const char* name = data + cr + 2;
    if (name > end || !StartsWithContentLength(name, end)) continue;
    const long long declared = ReadDecimalPrefix(name + 15, end);
    return declared <= bodyAtHand ? 1 : 0;
  }
  return 1;
}

void VoiceController::ReportError(VoiceEventSink* to, const char* text) { ReportTo(to, text); }

VoiceController::VoiceController(VoiceEventSink* sink)
    : sink(sink), receiveThreads(std::make_unique<internal::ReceiveThreads>()) {}

// Waits for the answers still in flight (at most their time-out).
VoiceController::~VoiceController() = default;

int VoiceController::SendRequest(const char* request) {
  return SendRequestTo(internal::RequestIssuer::HostSink(*this), request);
}

int VoiceController::SendRequestTo(const std::shared_ptr<VoiceEventSink>& to,
                                   const char* request) {
  auto pending = std::make_shared<Request>();
  pending->sink = to;
  platform::TcpSocket& socket = pending->socket;
  if (!socket.Create()) {
    ReportError(to.get(), "socket error.");
    return -1;
  }
  if (!socket.Connect(serverAddress.c_str(), serverPort)) {
    socket.Close();
    ReportError(to.get(), "connect error.");
    return -1;
  }
  const size_t length = request == nullptr ? 0 : std::strlen(request);
  if (socket.Send(request, length) < 1) {
    socket.Close();
    ReportError(to.get(), "send error.");
    return -1;
  }
  pending->deadlineMs = platform::MonotonicMilliseconds() + receiveTimeoutMs;

  {
    // Sent, logged, then the receive thread: every outcome of the request,
    // an early "timeout." too, comes after its record.
    platform::MutexLock logLock(&SendLogMutex());
    WriteLogRecordLocked(kSendLogPath, kSendMarker, request, length);
  }
  const bool started = !failThreadStarts && receiveThreads->Run([pending] {
    try {
      ReceiveResponse(pending.get());
    } catch (...) {
      // Only a host callback throws here. Its exception has nowhere to go
      // on this thread, and the outcome has been delivered already.
    }
  }, socket, pending->deadlineMs);
  if (!started) {
    // The request went out, but nobody can wait for its answer.
    socket.Close();
    ReportError(to.get(), "timeout.");
    return -1;
  }
  return 0;
}

// Runs on the receive thread.
void VoiceController::ReceiveResponse(Request* request) {
  VoiceEventSink* const sink = request->sink.get();
  platform::TcpSocket& socket = request->socket;
  AnswerBuffer response;
  const int64_t deadline = request->deadlineMs;
  for (;;) {
    if (!response.MakeRoom()) {
      // Not complete within the buffer: it never will be.
      socket.Close();
      ReportTo(sink, "decode.");
      return;
    }
    const int64_t left = deadline - platform::MonotonicMilliseconds();
    if (left <= 0) {
      socket.Close();
      ReportTo(sink, "timeout.");
      return;
    }
    // A thread handed this request while waiting wakes when the answer has
    // arrived: read first, and wait only when nothing is there yet.
    char* const into = response.room();
    const int room = response.roomSize();
    long got = socket.ReceiveNow(into, static_cast<size_t>(room));
    if (got == platform::TcpSocket::kNothingYet) {
      if (socket.WaitReadable(left) != platform::WaitResult::kReady) {
        socket.Close();
        ReportTo(sink, "timeout.");
        return;
      }
      got = socket.Receive(into, static_cast<size_t>(room));
    }
    if (got <= 0) {
      // The server closed (or broke) the connection before the answer was
      // complete; waiting longer cannot complete it.
      socket.Close();
      ReportTo(sink, "timeout.");
      return;
    }
    response.Received(static_cast<int>(got));
    if (IsResponseComplete(response.data(), response.size())) break;
  }
  socket.Close();
  {
    platform::MutexLock logLock(&ReceiveLogMutex());
    WriteLogRecordLocked(kReceiveLogPath, kReceiveMarker, response.data(),
                         static_cast<size_t>(response.size()));
  }

  internal::Answer answer;
  internal::ParseAndDeliver(response.data(), response.size(), sink, &answer);
}

}  // namespace voicecontrol
