// Carrying one request to the server and its answer back.
//
// A request is made when its command is called (NewRequest) and from then
// on ends in exactly one outcome, delivered by whichever thread ends it:
//
//   Send      connects and sends on the calling thread, then hands the
//             request to a receive thread that awaits the answer; or, when
//             the controller's calls never block, hands the whole of that
//             to a library thread at once.
//   Refuse    ends a request before anything is sent ("param error."), on
//             the calling thread or a library thread by the same rule.
//
// A controller driven by its host's loop hands both to its HostLoop
// (host_loop.h), which takes the request through the same steps without a
// thread: its outcome comes inside the host's drive call.
//
// Every failure goes through Fail, and the answer through Deliver: they
// close the connection first, let a cancel that came earlier turn the
// outcome into "cancelled.", and tell the observer, if any, how the request
// ended.
#ifndef VOICECONTROL_CONTROLLER_TRANSPORT_H_
#define VOICECONTROL_CONTROLLER_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <voicecontrol/controller/RequestObserver.h>
#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer_buffer.h"
#include "controller/error_detail.h"
#include "controller/request_issuer.h"
#include "platform/socket.h"

namespace voicecontrol {

// One request, from its command's call to its outcome.
struct VoiceController::Request {
  platform::TcpSocket socket;
  // Held until the request's last call to it has returned.
  std::shared_ptr<VoiceEventSink> sink;
  internal::CancelPoint* cancel = nullptr;  // null: it cannot be cancelled
  // The controller's observer and what it watches, when it watches this
  // request; the timeline is filled in only when it watches events.
  RequestObserver* observer = nullptr;
  bool logRecords = false;
  bool logFiles = true;
  bool timed = false;
  RequestEvents timeline;
  int64_t connectTimeoutMs = 0;
  // The answer must be complete by the monotonic time deadlineMs: the
  // time-out (timeoutMs) counts from the moment the request was sent.
  int64_t timeoutMs = 0;
  int64_t deadlineMs = 0;
  // A queued request (calls that never block) keeps what it sends, and to
  // whom, until a library thread sends it.
  std::string bytes;
  std::string address;
  uint16_t port = 0;
};

namespace internal {

class HostLoop;

class Transport {
 public:
  using Request = VoiceController::Request;

  static std::shared_ptr<Request> NewRequest(VoiceController& controller,
                                             const RequestRoute& route, int32_t flowId);
  // 0 when sent (or queued); -1 once its failure has been reported.
  static int Send(VoiceController& controller, const std::shared_ptr<Request>& request,
                  const char* bytes);
  static void Refuse(VoiceController& controller, const std::shared_ptr<Request>& request,
                     const char* text, const std::string& detail);

  // The loop that carries the controller's requests; null unless its host
  // drives it (VoiceController::UseHostLoop).
  static HostLoop* LoopOf(VoiceController& controller);

  // The receive thread's work; touches only the request, never the
  // controller, which may be gone once the sink has been called.
  static void Receive(Request& request);

 private:
  friend class HostLoop;
  // Hands `work` to a thread of the library: the receive thread of a
  // request that has been sent, or any for one that has not. 0 when
  // started; otherwise -1 once the failure has been reported.
  template <typename Work>
  static int Start(VoiceController& controller, const std::shared_ptr<Request>& request,
                   Work work);
  template <typename Work>
  static void Guarded(Work& work);
  static bool ConnectAndSend(Request& request, const char* address, uint16_t port,
                             const char* bytes, size_t length);
  static void Fail(Request& request, const char* text, const std::string& detail);
  // Room for the next read; else the error text ("decode."), `detail` set.
  static const char* MakeRoom(AnswerBuffer& response, std::string* detail);
  // Takes one read's result `got` (ReceiveNow's, not kNothingYet) into
  // `response`. Null when the answer may go on; else the error text, with
  // `detail` set.
  static const char* Absorb(Request& request, AnswerBuffer& response, long got,
                            std::string* detail);
  // The details of a time-out, a failed connect and a failed send.
  static std::string NoAnswer(const Request& request);
  static std::string ConnectFailed(const Request& request, const char* address);
  static std::string ConnectTimedOut(const Request& request);
  static std::string SendFailure(const Request& request, long sent, size_t length);
  static void Report(Request& request, const char* text, const std::string& detail);
  static void Deliver(Request& request, const char* data, int size);
  // The socket is of no more use: it stops being cancellable and closes.
  static void CloseSocket(Request& request);
  // False when a cancel came first; the outcome is then "cancelled.".
  static bool Claim(Request& request);
  static void Log(Request& request, bool sent, const char* bytes, size_t length);
  static void Stamp(Request& request, int64_t RequestEvents::*at);
  // Tells the observer the timeline; `errorText` null: a result.
  static void Ended(Request& request, const char* errorText, const std::string& detail);
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_TRANSPORT_H_
