// Reporting an error to a sink together with its reason.
//
// The eight error texts a sink receives are fixed, so that hosts can compare
// them; the reason behind each is a short text of its own ("connect:
// Connection refused", "FlowID 2000 is not a command"). It travels beside the
// call: readable through ErrorDetail() on the reporting thread while the
// sink's OnError runs, and nowhere else, so that VoiceEventSink stays as it
// is.
#ifndef VOICECONTROL_CONTROLLER_ERROR_DETAIL_H_
#define VOICECONTROL_CONTROLLER_ERROR_DETAIL_H_

#include <cstdint>
#include <string>

#include "internal_export.h"

namespace voicecontrol {

class VoiceEventSink;

namespace internal {

// Calls sink->OnError(text) with `detail` readable through ErrorDetail()
// for the length of that call (a sink that reports another error from
// inside it, by issuing a command, sees that one's detail meanwhile).
VC_INTERNAL_API void ReportError(VoiceEventSink* sink, const char* text, const std::string& detail);

// A wait of `milliseconds` as people write it: "5 s", or "250 ms" when it
// is not a whole number of seconds.
VC_INTERNAL_API std::string DescribeWait(int64_t milliseconds);

// An error reported while a WitnessErrors watched.
struct WitnessedError {
  const char* text = nullptr;  // one of error_texts.h's
  std::string detail;
};

// While it lives, every error ReportError reports on this thread is noted
// in `into` as well (the last one wins): an observed request learns how it
// ended without its delivery code knowing it is observed.
class VC_INTERNAL_API WitnessErrors {
 public:
  explicit WitnessErrors(WitnessedError* into);
  ~WitnessErrors();
  WitnessErrors(const WitnessErrors&) = delete;
  WitnessErrors& operator=(const WitnessErrors&) = delete;

 private:
  WitnessedError* const previous_;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_ERROR_DETAIL_H_
