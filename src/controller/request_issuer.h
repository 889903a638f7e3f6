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
// command, errors of the call itself on the calling thread, the rest on a
// receive thread, the same texts and time-out.
#ifndef VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_
#define VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_

#include <cstdint>
#include <memory>
#include <string>

#include <voicecontrol/controller/VoiceController.h>

namespace voicecontrol {
namespace internal {

class RequestIssuer {
 public:
  using Sink = std::shared_ptr<VoiceEventSink>;

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
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_REQUEST_ISSUER_H_
