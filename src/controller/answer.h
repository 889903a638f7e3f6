// The dispatcher in two halves: reading what an answer carries (which may
// throw whatever the document layer throws) and delivering it to the sink.
// The receive thread keeps the halves apart so that a failing read becomes
// "decode." without ever following a delivery.
#ifndef VOICECONTROL_CONTROLLER_ANSWER_H_
#define VOICECONTROL_CONTROLLER_ANSWER_H_

#include <cstdint>
#include <string>

#include "internal_export.h"

namespace voicecontrol {

class HttpXmlRsp;
class VoiceEventSink;

namespace internal {

// The FlowID of each command, by which its answer is recognised.
constexpr int32_t kCreateFlow = 1001;
constexpr int32_t kKickFlow = 1002;
constexpr int32_t kChangeFlow = 1003;
constexpr int32_t kQAllFlow = 1004;
constexpr int32_t kQSingleFlow = 1005;
constexpr int32_t kDsCallFlow = 1006;

struct Answer {
  enum class Kind { kBadMessage, kParamError, kCommandResult, kQAll, kQSingle };
  Kind kind = Kind::kBadMessage;
  int32_t flowId = 0;
  int32_t number = 0;       // the code, or the QAll entry count
  std::wstring values[18];  // command result: [0]; QAll: the eight lists; QSingle: all
  std::string detail;       // kBadMessage, kParamError: why
};

// Reads what the parsed `response` carries. An answer that is no command's,
// or has too few fields, takes as its detail what the parse and the reading
// of its numbers noted on this thread; the thread's note is taken.
VC_INTERNAL_API Answer ReadAnswer(HttpXmlRsp& response);
VC_INTERNAL_API void DeliverAnswer(VoiceEventSink* sink, const Answer& answer);
VC_INTERNAL_API void DeliverQAllEntries(VoiceEventSink* sink, int32_t count, const std::wstring* lists);

// What the receive thread does with a complete response of `length` bytes:
// sets it up and parses it, reads the answer and delivers it, or reports
// why it cannot ("init http parse.", "decode."; a failing read makes the
// answer undecodable), with the reason the HTTP and document layers noted
// (or a plain one of its own) as the error's detail. True when an answer
// was delivered; `answer` then holds what was read.
VC_INTERNAL_API bool ParseAndDeliver(const char* response, int length, VoiceEventSink* sink,
                                     Answer* answer);

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_ANSWER_H_
