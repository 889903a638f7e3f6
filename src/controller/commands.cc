// The six commands: each becomes one interface message in one HttpXmlReq,
// serialised on the caller's stack and handed to the transport.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/end_time.h"
#include "controller/error_detail.h"
#include "controller/error_texts.h"
#include "controller/request_issuer.h"
#include "controller/text_argument.h"
#include "controller/transport.h"
#include "interface/body_encoding.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include "platform/clock.h"

namespace voicecontrol {

namespace {

constexpr int kMaxFields = 4;
constexpr int kRequestCapacity = 65535;

}  // namespace

bool FormatLocalEndTime(std::time_t start, uint32_t durationSeconds, char* out, size_t capacity) {
  platform::LocalDateTime end;
  if (!platform::ToLocalDateTime(start + static_cast<std::time_t>(durationSeconds), &end)) {
    return false;
  }
  const int written = std::snprintf(out, capacity, "%04d-%02d-%02d %02d:%02d:%02d", end.year,
                                    end.month, end.day, end.hour, end.minute, end.second);
  return written > 0 && static_cast<size_t>(written) < capacity;
}

int32_t VoiceController::NextSeqNo() {
  int32_t current = seqNo.load();
  int32_t next;
  do {
    next = current + 1 >= 65535 ? 1 : current + 1;
  } while (!seqNo.compare_exchange_weak(current, next));
  return next;
}

// Builds and sends one command. `texts` are the wide arguments in field
// order; `lastValue`, when given, is a narrow ASCII field after them.
void VoiceController::SendCommand(const std::shared_ptr<VoiceEventSink>& to, int method,
                                  int32_t flowId, const std::wstring* const* texts, int textCount,
                                  const char* lastValue) {
  internal::RequestRoute route;
  route.sink = to;
  internal::RequestIssuer::Send(*this, route, method, flowId, texts, textCount, lastValue);
}

namespace internal {

void RequestIssuer::Send(VoiceController& controller, const Sink& to, int method, int32_t flowId,
                         const std::wstring* const* texts, int textCount, const char* lastValue) {
  const auto request = Transport::NewRequest(controller, to, flowId);
  const int32_t sequence = controller.NextSeqNo();
  std::wstring fields[kMaxFields];
  int fieldCount = 0;
  for (int i = 0; i < textCount; ++i, ++fieldCount) {
    std::string refusal;
    if (!MakeFieldValue(*texts[i], i + 1, &fields[i], &refusal)) {
      return Transport::Refuse(controller, request, kParamError, refusal);
    }
  }
  if (lastValue != nullptr) {
    fields[fieldCount++].assign(lastValue, lastValue + std::strlen(lastValue));  // ASCII
  }

  // Serialize terminates what it writes; a failure leaves the request empty.
  char buffer[kRequestCapacity];
  buffer[0] = '\0';
  {
    HttpXmlReq message;
    message.CreateBody();
    BodyEncoding::UseUtf8(message);
    message.SetMethod(method);
    message.SetSeqNo(sequence);
    message.SetFlowID(flowId);
    message.SetFieldNum(fieldCount);
    // The body goes out as UTF-8, so each field reaches the wire as exactly
    // the UTF-8 bytes of its argument, whatever the ANSI code page.
    for (int i = 0; i < fieldCount; ++i) message.AddFieldValue(std::move(fields[i]));
    int length = 0;
    message.Serialize(buffer, kRequestCapacity, &length);
  }
  Transport::Send(controller, request, buffer);
}

}  // namespace internal

namespace internal {

RequestIssuer::Sink RequestIssuer::HostSink(VoiceController& controller) {
  Sink route;
  // Shares no ownership: the host owns its sink.
  route.sink = std::shared_ptr<VoiceEventSink>(std::shared_ptr<VoiceEventSink>(), controller.sink);
  return route;
}

void RequestIssuer::Create(VoiceController& controller, const Sink& to, const std::wstring& a,
                           const std::wstring& b, const std::wstring& c, const std::wstring& d) {
  const std::wstring* texts[] = {&a, &b, &c, &d};
  Send(controller, to, kHttpXmlCreate, kCreateFlow, texts, 4, nullptr);
}

void RequestIssuer::Kick(VoiceController& controller, const Sink& to, const std::wstring& a,
                         const std::wstring& b) {
  const std::wstring* texts[] = {&a, &b};
  Send(controller, to, kHttpXmlKick, kKickFlow, texts, 2, nullptr);
}

void RequestIssuer::Change(VoiceController& controller, const Sink& to, const std::wstring& a,
                           const std::wstring& b, uint16_t n) {
  const std::wstring* texts[] = {&a, &b};
  char digits[8];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(n));
  Send(controller, to, kHttpXmlChange, kChangeFlow, texts, 2, digits);
}

void RequestIssuer::QAll(VoiceController& controller, const Sink& to) {
  Send(controller, to, kHttpXmlQall, kQAllFlow, nullptr, 0, nullptr);
}

void RequestIssuer::QSingle(VoiceController& controller, const Sink& to, const std::wstring& a) {
  const std::wstring* texts[] = {&a};
  Send(controller, to, kHttpXmlQsingle, kQSingleFlow, texts, 1, nullptr);
}

void RequestIssuer::DsCall(VoiceController& controller, const Sink& to, const std::wstring& a,
                           const std::wstring& b, uint32_t durationSeconds) {
  const std::wstring* texts[] = {&a, &b};
  char endTime[40];
  if (!FormatLocalEndTime(std::time(nullptr), durationSeconds, endTime, sizeof endTime)) {
    const auto request = Transport::NewRequest(controller, to, kDsCallFlow);
    controller.NextSeqNo();  // every command takes its number, also one that fails
    return Transport::Refuse(controller, request, kParamError, "the end time cannot be represented");
  }
  Send(controller, to, kHttpXmlDscall, kDsCallFlow, texts, 2, endTime);
}

void RequestIssuer::ByFlowId(VoiceController& controller, const Sink& to, int32_t flowId,
                             const std::wstring* const* args, uint32_t number) {
  switch (flowId) {
    case kCreateFlow:
      return Create(controller, to, *args[0], *args[1], *args[2], *args[3]);
    case kKickFlow:
      return Kick(controller, to, *args[0], *args[1]);
    case kChangeFlow:
      return Change(controller, to, *args[0], *args[1], static_cast<uint16_t>(number));
    case kQAllFlow:
      return QAll(controller, to);
    case kQSingleFlow:
      return QSingle(controller, to, *args[0]);
    default:
      return DsCall(controller, to, *args[0], *args[1], number);
  }
}

}  // namespace internal

void VoiceController::Create(std::wstring a, std::wstring b, std::wstring c, std::wstring d) {
  internal::RequestIssuer::Create(*this, internal::RequestIssuer::HostSink(*this), a, b, c, d);
}

void VoiceController::Kick(std::wstring a, std::wstring b) {
  internal::RequestIssuer::Kick(*this, internal::RequestIssuer::HostSink(*this), a, b);
}

void VoiceController::Change(std::wstring a, std::wstring b, uint16_t n) {
  internal::RequestIssuer::Change(*this, internal::RequestIssuer::HostSink(*this), a, b, n);
}

void VoiceController::QAll() {
  internal::RequestIssuer::QAll(*this, internal::RequestIssuer::HostSink(*this));
}

void VoiceController::QSingle(std::wstring a) {
  internal::RequestIssuer::QSingle(*this, internal::RequestIssuer::HostSink(*this), a);
}

void VoiceController::DsCall(std::wstring a, std::wstring b, uint32_t durationSeconds) {
  internal::RequestIssuer::DsCall(*this, internal::RequestIssuer::HostSink(*this), a, b,
                                  durationSeconds);
}

}  // namespace voicecontrol
