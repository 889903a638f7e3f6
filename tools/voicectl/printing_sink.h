// A VoiceEventSink that prints every callback on one line, readable or as
// one JSON object, and remembers whether an error text or a failed result
// arrived.
#ifndef VOICECTL_PRINTING_SINK_H_
#define VOICECTL_PRINTING_SINK_H_

#include <mutex>
#include <ostream>
#include <string>

#include <voicecontrol/controller/VoiceController.h>

namespace voicectl {

class PrintingSink : public voicecontrol::VoiceEventSink {
 public:
  PrintingSink(std::ostream& out, std::ostream& err, bool json)
      : out_(out), err_(err), json_(json) {}

  void OnError(std::wstring text) override;
  void OnCommandResult(int flowId, int code, std::wstring text) override;
  void OnQAllEmpty() override;
  void OnQAllEntry(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                   std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8) override;
  void OnQSingleResult(std::wstring v1, std::wstring v2, std::wstring v3, std::wstring v4,
                       std::wstring v5, std::wstring v6, std::wstring v7, std::wstring v8,
                       std::wstring v9, std::wstring v10, std::wstring v11, std::wstring v12,
                       std::wstring v13, std::wstring v14, std::wstring v15, std::wstring v16,
                       std::wstring v17, std::wstring v18) override;

  int errors() const;
  int callbacks() const;
  // OnCommandResult calls with a code other than 0.
  int failedResults() const;

 private:
  void PrintValues(const char* callback, const std::wstring* values, int count);

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
