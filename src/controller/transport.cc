// Carrying one request to the server and its answer back: a connection of
// its own per request, a thread of the library that owns that connection,
// the two log files, and the request's observer. A controller driven by
// its host's loop carries the same request through host_loop.cc instead of
// a thread, with the steps and texts of this file.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/answer_buffer.h"
#include "controller/cancel.h"
#include "controller/error_detail.h"
#include "controller/error_texts.h"
#include "controller/forced_unwind.h"
#include "controller/host_loop.h"
#include "controller/logs.h"
#include "controller/receive_threads.h"
#include "controller/request_issuer.h"
#include "controller/transport.h"
#include "http/decimal.h"
#include "http/text_scan.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include "platform/clock.h"
#include "platform/socket.h"

namespace voicecontrol {

namespace {

// Why a socket call failed, in the words of the system.
std::string SystemReason(const platform::TcpSocket& socket) {
  return platform::SocketErrorText(socket.lastError().code);
}

std::string ConnectTimedOut(int64_t timeoutMs) {
  return "connect: no answer within " + internal::DescribeWait(timeoutMs);
}

// `timeoutMs`: the connect time-out the attempt had.
std::string ConnectFailure(const platform::TcpSocket& socket, const std::string& address,
                           int64_t timeoutMs) {
  switch (socket.lastError().kind) {
    case platform::SocketError::Kind::kTimedOut:
      return ConnectTimedOut(timeoutMs);
    case platform::SocketError::Kind::kBadAddress:
      return "connect: \"" + address + "\" is not a dotted IPv4 address";
    default:
      return "connect: " + SystemReason(socket);
  }
}

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
  receiveThreads->options.connectTimeoutMs = connectMs;
  receiveThreads->options.answerTimeoutMs = answerMs;
  return true;
}

void VoiceController::SetNonblockingCalls(bool on) { receiveThreads->options.nonblockingCalls = on; }

void VoiceController::SetObserver(RequestObserver* observer, unsigned what) {
  internal::ControllerOptions& options = receiveThreads->options;
  options.observer = what == 0 ? nullptr : observer;
  options.observe = options.observer == nullptr ? 0 : what;
}

int VoiceController::SendRequest(const char* request) {
  return SendRequestTo(internal::RequestIssuer::HostSink(*this).sink, request);
}

int VoiceController::SendRequestTo(const std::shared_ptr<VoiceEventSink>& to,
                                   const char* request) {
  internal::RequestRoute route;
  route.sink = to;
  using internal::Transport;
  return Transport::Send(*this, Transport::NewRequest(*this, route, 0), request);
}

// The receive thread's job.
VC_CATCHES_FORCED_UNWIND void VoiceController::ReceiveOnThisThread(Request* request) {
  try {
    internal::Transport::Receive(*request);
  } VC_RETHROW_FORCED_UNWIND catch (...) {
    // Only a host callback throws here. Its exception has nowhere to go on
    // this thread, and the outcome has been delivered already.
  }
}

void VoiceController::ReceiveResponse(Request* request) { internal::Transport::Receive(*request); }

namespace internal {

namespace {

constexpr char kCancelledDetail[] = "cancelled by the host";

// The status code of an HTTP response's status line; 0 without one.
int32_t StatusOf(const char* data, int size) {
  const char* const end = data + size;
  const char* space = static_cast<const char*>(std::memchr(data, ' ', static_cast<size_t>(size)));
  if (space == nullptr || std::memchr(data, '\n', static_cast<size_t>(space - data)) != nullptr) {
    return 0;
  }
  return ReadDecimalPrefix(space + 1, end);
}

// Runs a call of the host's observer: it must return, and an exception
// leaving it has nowhere to go (the request's outcome is not its concern).
template <typename Call>
VC_CATCHES_FORCED_UNWIND void CallObserver(Call call) {
  try {
    call();
  } VC_RETHROW_FORCED_UNWIND catch (...) {
  }
}

}  // namespace

std::shared_ptr<Transport::Request> Transport::NewRequest(VoiceController& controller,
                                                          const RequestRoute& route,
                                                          int32_t flowId) {
  auto request = std::make_shared<Request>();
  request->sink = route.sink;
  request->cancel = route.cancel;
  ControllerOptions& options = controller.receiveThreads->options;
  request->connectTimeoutMs = options.connectTimeoutMs;
  request->timeoutMs = options.answerTimeoutMs;
  request->logFiles = options.WritesLogFiles();
  if (options.observer != nullptr) {
    request->observer = options.observer;
    request->logRecords = options.ObservesLogs();
    request->timed = options.ObservesEvents();
    RequestEvents& timeline = request->timeline;
    timeline.requestId = ++options.lastRequestId;
    timeline.tag = route.tag;
    timeline.flowId = flowId;
    Stamp(*request, &RequestEvents::queuedUs);
  }
  return request;
}

int Transport::Send(VoiceController& controller, const std::shared_ptr<Request>& request,
                    const char* bytes) {
  const size_t length = bytes == nullptr ? 0 : std::strlen(bytes);
  if (HostLoop* loop = controller.receiveThreads->options.hostLoop.get()) {
    loop->Start(request, controller.serverAddress.c_str(), controller.serverPort, bytes, length);
    return 0;
  }
  if (controller.receiveThreads->options.nonblockingCalls) {
    // Everything from the connect on happens on a library thread, which
    // must not read the controller: keep what it needs.
    if (length > 0) request->bytes.assign(bytes, length);
    request->address = controller.serverAddress;
    request->port = controller.serverPort;
    return Start(controller, request, [request] {
      Request& queued = *request;
      if (ConnectAndSend(queued, queued.address.c_str(), queued.port, queued.bytes.c_str(),
                         queued.bytes.size())) {
        Receive(queued);
      }
    });
  }
  if (!ConnectAndSend(*request, controller.serverAddress.c_str(), controller.serverPort, bytes,
                      length)) {
    return -1;
  }
  return Start(controller, request, [request] { Receive(*request); });
}

void Transport::Refuse(VoiceController& controller, const std::shared_ptr<Request>& request,
                       const char* text, const std::string& detail) {
  if (HostLoop* loop = controller.receiveThreads->options.hostLoop.get()) {
    return loop->Refuse(request, text, detail);
  }
  if (!controller.receiveThreads->options.nonblockingCalls) return Fail(*request, text, detail);
  Start(controller, request, [request, text, detail] { Fail(*request, text, detail); });
}

template <typename Work>
int Transport::Start(VoiceController& controller, const std::shared_ptr<Request>& request,
                     Work work) {
  // A request that has been sent is awaited on its socket; any other job
  // starts at once.
  const bool sent = request->socket.IsOpen();
  auto job = [work = std::move(work)]() mutable { Guarded(work); };
  const bool started = !controller.receiveThreads->options.failThreadStarts &&
                       controller.receiveThreads->Run(std::move(job),
                                                      sent ? &request->socket : nullptr,
                                                      request->deadlineMs);
  if (started) return 0;
  // The request went out, or was queued, but nobody can carry it on.
  Fail(*request, kTimeout,
       sent ? "no receive thread could be started" : "no library thread could be started");
  return -1;
}

template <typename Work>
VC_CATCHES_FORCED_UNWIND void Transport::Guarded(Work& work) {
  try {
    work();
  } VC_RETHROW_FORCED_UNWIND catch (...) {
    // Only a host callback throws here. Its exception has nowhere to go on
    // this thread, and the outcome has been delivered already.
  }
}

bool Transport::ConnectAndSend(Request& request, const char* address, uint16_t port,
                               const char* bytes, size_t length) {
  platform::TcpSocket& socket = request.socket;
  if (!socket.Create(/*nonBlocking=*/true)) {
    Fail(request, kSocketError, "socket: " + SystemReason(socket));
    return false;
  }
  // A cancel from now on shuts the socket down, which ends the connect and
  // any wait for the answer at once.
  if (request.cancel != nullptr && !request.cancel->Attach(&socket)) {
    Fail(request, kCancelled, kCancelledDetail);
    return false;
  }
  // The connection must be made within the connect time-out, as the
  // answer must come within the answer time-out: a command never blocks
  // its caller longer. Where the system allows, the request goes out with
  // the connection's first chance, so that "connected" and "written" may
  // be stamped at one moment.
  Stamp(request, &RequestEvents::connectStartedUs);
  long sent = 0;
  switch (socket.ConnectAndSend(address, port, request.connectTimeoutMs, bytes, length, &sent)) {
    case platform::TcpSocket::Sending::kConnectFailed:
      Fail(request, kConnectError, ConnectFailed(request, address));
      return false;
    case platform::TcpSocket::Sending::kSendFailed:
      Stamp(request, &RequestEvents::connectedUs);
      Fail(request, kSendError,
           SendFailure(request, socket.lastError().kind == platform::SocketError::Kind::kNone
                                    ? sent
                                    : -1,
                       length));
      return false;
    case platform::TcpSocket::Sending::kSent:
      Stamp(request, &RequestEvents::connectedUs);
      break;
  }
  Stamp(request, &RequestEvents::requestWrittenUs);
  request.timeline.bytesOut = static_cast<uint64_t>(sent);
  request.deadlineMs = platform::MonotonicMilliseconds() + request.timeoutMs;
  // Sent, logged, then the receive thread: every outcome of the request,
  // an early "timeout." too, comes after its record.
  Log(request, true, bytes, length);
  return true;
}

void Transport::Receive(Request& request) {
  platform::TcpSocket& socket = request.socket;
  AnswerBuffer response;
  const int64_t deadline = request.deadlineMs;
  std::string detail;
  for (;;) {
    if (const char* text = MakeRoom(response, &detail)) return Fail(request, text, detail);
    const int64_t left = deadline - platform::MonotonicMilliseconds();
    if (left <= 0) return Fail(request, kTimeout, NoAnswer(request));
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
          return Fail(request, kTimeout, NoAnswer(request));
        case platform::WaitResult::kFailed:
          return Fail(request, kTimeout, "receive: the wait for the answer failed");
      }
      // Readable now; a wake-up without data (rare) just waits again.
      got = socket.ReceiveNow(into, static_cast<size_t>(room));
      if (got == platform::TcpSocket::kNothingYet) continue;
    }
    if (const char* text = Absorb(request, response, got, &detail)) {
      return Fail(request, text, detail);
    }
    if (IsResponseComplete(response.data(), response.size())) break;
  }
  Stamp(request, &RequestEvents::answerCompleteUs);
  Deliver(request, response.data(), response.size());
}

const char* Transport::MakeRoom(AnswerBuffer& response, std::string* detail) {
  if (response.MakeRoom()) return nullptr;
  // Not complete within the buffer: it never will be.
  *detail = response.Full()
                ? "answer longer than " + std::to_string(kResponseCapacity - 1) + " bytes"
                : "no memory for the answer";
  return kDecode;
}

const char* Transport::Absorb(Request& request, AnswerBuffer& response, long got,
                              std::string* detail) {
  // The server closed (or broke) the connection before the answer was
  // complete; waiting longer cannot complete it.
  if (got == 0) return *detail = "peer closed before a complete answer", kTimeout;
  if (got < 0) return *detail = "receive: " + SystemReason(request.socket), kTimeout;
  if (response.size() == 0) Stamp(request, &RequestEvents::firstAnswerByteUs);
  response.Received(static_cast<int>(got));
  return nullptr;
}

// Made only when needed: the common path allocates nothing for it.
std::string Transport::NoAnswer(const Request& request) {
  return "no answer within " + DescribeWait(request.timeoutMs);
}

std::string Transport::ConnectFailed(const Request& request, const char* address) {
  return ConnectFailure(request.socket, address, request.connectTimeoutMs);
}

std::string Transport::ConnectTimedOut(const Request& request) {
  return voicecontrol::ConnectTimedOut(request.connectTimeoutMs);
}

HostLoop* Transport::LoopOf(VoiceController& controller) {
  return controller.receiveThreads->options.hostLoop.get();
}

std::string Transport::SendFailure(const Request& request, long sent, size_t length) {
  return sent < 0       ? "send: " + SystemReason(request.socket)
         : length == 0 ? "send: the request is empty"
                       : "send: nothing was sent";
}

void Transport::Fail(Request& request, const char* text, const std::string& detail) {
  CloseSocket(request);
  if (!Claim(request)) return Report(request, kCancelled, kCancelledDetail);
  Report(request, text, detail);
}

void Transport::Report(Request& request, const char* text, const std::string& detail) {
  {
    // Another request's delivery may be running around this one (a sink
    // call that issued or cancelled, or destroyed a host-driven
    // controller): its witness must not take this request's error.
    WitnessErrors alone(nullptr);
    ReportError(request.sink.get(), text, detail);
  }
  if (request.timed) Ended(request, text, detail);
}

void Transport::Deliver(Request& request, const char* data, int size) {
  CloseSocket(request);
  if (!Claim(request)) return Fail(request, kCancelled, kCancelledDetail);
  Log(request, false, data, static_cast<size_t>(size));
  internal::Answer answer;
  if (!request.timed) {
    WitnessErrors alone(nullptr);  // as in Report
    ParseAndDeliver(data, size, request.sink.get(), &answer);
    return;
  }
  request.timeline.bytesIn = static_cast<uint64_t>(size);
  request.timeline.httpStatus = StatusOf(data, size);
  WitnessedError error;
  {
    WitnessErrors witness(&error);
    ParseAndDeliver(data, size, request.sink.get(), &answer);
  }
  Ended(request, error.text, error.detail);
}

void Transport::CloseSocket(Request& request) {
  if (request.cancel != nullptr) request.cancel->Detach();
  request.socket.Close();
}

bool Transport::Claim(Request& request) {
  return request.cancel == nullptr || request.cancel->Settle();
}

void Transport::Log(Request& request, bool sent, const char* bytes, size_t length) {
  if (request.logFiles) {
    if (sent) {
      LogRequest(bytes, length);
    } else {
      LogAnswer(bytes, length);
    }
  }
  if (!request.logRecords) return;
  LogRecord record;
  record.sent = sent;
  record.bytes = bytes;
  // As the files have it: up to the first zero byte.
  const void* zero = bytes == nullptr ? nullptr : std::memchr(bytes, '\0', length);
  record.length = zero == nullptr ? length : static_cast<size_t>(static_cast<const char*>(zero) - bytes);
  record.tag = request.timeline.tag;
  record.requestId = request.timeline.requestId;
  CallObserver([&] { request.observer->OnLogRecord(record); });
}

void Transport::Stamp(Request& request, int64_t RequestEvents::*at) {
  if (request.timed) request.timeline.*at = platform::MonotonicMicroseconds();
}

void Transport::Ended(Request& request, const char* errorText, const std::string& detail) {
  Stamp(request, &RequestEvents::outcomeDeliveredUs);
  request.timeline.errorText = errorText;
  request.timeline.errorDetail = detail.c_str();
  CallObserver([&] { request.observer->OnRequestEvents(request.timeline); });
}

}  // namespace internal
}  // namespace voicecontrol
