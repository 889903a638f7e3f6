#include "controller/error_detail.h"

#include <cstring>

#include <voicecontrol/controller/VoiceController.h>

namespace voicecontrol {

namespace {

// The detail of the error being reported on this thread, or null.
thread_local const char* current = nullptr;
// Where errors reported on this thread are noted, or null.
thread_local internal::WitnessedError* witness = nullptr;

// Makes `detail` the current one for its lifetime, and the previous one
// current again afterwards, also when the sink throws or the thread ends
// inside the call.
class CurrentDetail {
 public:
  explicit CurrentDetail(const std::string& detail) : previous_(current) {
    current = detail.c_str();
  }
  ~CurrentDetail() { current = previous_; }
  CurrentDetail(const CurrentDetail&) = delete;
  CurrentDetail& operator=(const CurrentDetail&) = delete;

 private:
  const char* const previous_;
};

}  // namespace

const char* ErrorDetail() { return current != nullptr ? current : ""; }

namespace internal {

void ReportError(VoiceEventSink* sink, const char* text, const std::string& detail) {
  if (witness != nullptr) {
    witness->text = text;
    witness->detail = detail;
  }
  std::wstring wide(text, text + std::strlen(text));  // the texts are ASCII
  CurrentDetail scope(detail);
  sink->OnError(std::move(wide));
}

WitnessErrors::WitnessErrors(WitnessedError* into) : previous_(witness) { witness = into; }

WitnessErrors::~WitnessErrors() { witness = previous_; }

std::string DescribeWait(int64_t milliseconds) {
  if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
  return std::to_string(milliseconds) + " ms";
}

}  // namespace internal
}  // namespace voicecontrol
