// A VoiceEventSink that prints every callback on one line, readable or as
// one JSON object, and remembers whether an error text or a failed result
// arrived.
#ifndef VOICECTL_PRINTING_SINK_H_
#define VOICECTL_PRINTING_SINK_H_

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/request_sink.h"

namespace voicectl {

class PrintingSink : public voicecontrol::internal::RequestSink {
 public:
  PrintingSink(std::ostream& out, std::ostream& err, bool json)
      : out_(out), err_(err), json_(json) {}

  void OnError(std::wstring text) override;
  void OnCommandResult(int flowId, int code, std::wstring text) override;
  void OnQAllEmpty() override;

  int errors() const;
  int callbacks() const;
  // OnCommandResult calls with a code other than 0.
  int failedResults() const;

 private:
  void OnEntry(voicecontrol::QAllEntry entry) override;
  void OnValues(voicecontrol::QSingleValues values) override;
  void PrintValues(const char* callback, const std::wstring* values, size_t count);

  mutable std::mutex mutex_;
  std::ostream& out_;
  std::ostream& err_;
  const bool json_;
  int errors_ = 0;
  int callbacks_ = 0;
  int failedResults_ = 0;
};

}  // namespace voicectl

#endif  // VOICECTL_PRINTING_SINK_H_
