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
  int32_t number = 0;  // the code, or the QAll entry count
  // UTF-8, as most answers are read. Command result: [0]; QAll: the eight
  // lists; QSingle: all.
  std::string values[18];
  std::string detail;  // kBadMessage, kParamError: why
};

// A sink that takes an answer's texts in UTF-8, as they were read, rather
// than as the wide texts of VoiceEventSink: the C interface hands UTF-8 to
// its host, and two conversions per text were most of what delivering cost.
// Each array holds NUL-terminated texts, valid during the call. Errors and
// "no entries" still come through VoiceEventSink.
class Utf8AnswerSink {
 public:
  virtual void OnCommandResultUtf8(int32_t flowId, int32_t code, const char* text) = 0;
  virtual void OnQAllEntryUtf8(const char* const texts[8]) = 0;
  virtual void OnQSingleUtf8(const char* const values[18]) = 0;

 protected:
  ~Utf8AnswerSink() = default;
};

// Reads what the parsed `response` carries. An answer that is no command's,
// or has too few fields, takes as its detail what the parse and the reading
// of its numbers noted on this thread; the thread's note is taken.
VC_INTERNAL_API Answer ReadAnswer(HttpXmlRsp& response);
// Delivers through Utf8AnswerSink when `sink` is one too.
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
