// The controller's six commands with the outcome going to a sink of the
// request's own instead of the controller's.
//
// The C interface tells the outcomes of commands in flight at once apart by
// giving every command a sink of its own, which carries the caller's tag.
// Such a sink is made for one request: the request holds it until its last
// call has returned (a QAll answer calls it once per entry) and then lets
// it go, so that the sink's destructor marks the end of the request.
//
// Every rule of the public commands holds unchanged: one outcome per
// command, errors of the call itself on the calling thread (unless the
// controller's calls never block), the rest on a receive thread, the same
// texts and time-out. A request issued with a cancel point may also end in
// "cancelled.".
#ifndef VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_
#define VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_

#include <cstdint>
#include <memory>
#include <string>

#include <voicecontrol/controller/VoiceController.h>

namespace voicecontrol {
namespace internal {

class CancelPoint;

// Where a request's outcome goes, and what the request carries for its
// issuer beside its bytes.
struct RequestRoute {
  std::shared_ptr<VoiceEventSink> sink;
  // The host's tag, handed to the observer with the request's records.
  void* tag = nullptr;
  // Set when the issuer may cancel the request. It lives in the sink, so
  // it is valid as long as the request holds that.
  CancelPoint* cancel = nullptr;
};

class RequestIssuer {
 public:
  using Sink = RequestRoute;

  static void Create(VoiceController& controller, const Sink& to, const std::wstring& a,
                     const std::wstring& b, const std::wstring& c, const std::wstring& d);
  static void Kick(VoiceController& controller, const Sink& to, const std::wstring& a,
                   const std::wstring& b);
  static void Change(VoiceController& controller, const Sink& to, const std::wstring& a,
                     const std::wstring& b, uint16_t n);
  static void QAll(VoiceController& controller, const Sink& to);
  static void QSingle(VoiceController& controller, const Sink& to, const std::wstring& a);
  static void DsCall(VoiceController& controller, const Sink& to, const std::wstring& a,
                     const std::wstring& b, uint32_t durationSeconds);

  // The controller's own sink, not owned: what the public commands use.
  static Sink HostSink(VoiceController& controller);

  // Builds one command's request and sends it. `texts` are the wide
  // arguments in field order; `lastValue`, when given, is a narrow ASCII
  // field after them.
  static void Send(VoiceController& controller, const Sink& to, int method, int32_t flowId,
                   const std::wstring* const* texts, int textCount, const char* lastValue);

  // Issues the command `flowId` names with the texts of `args` (Create:
  // four, Kick, Change, DsCall: two, QSingle: one) and `number` (Change's
  // value, DsCall's duration).
  static void ByFlowId(VoiceController& controller, const Sink& to, int32_t flowId,
                       const std::wstring* const* args, uint32_t number);
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_
