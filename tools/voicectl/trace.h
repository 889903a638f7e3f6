// voicectl --trace: a RequestObserver that prints, on the tool's stderr,
// each log record of the command and then its timeline.
#ifndef VOICECTL_TRACE_H_
#define VOICECTL_TRACE_H_

#include <mutex>
#include <ostream>
#include <string>

#include <voicecontrol/controller/RequestObserver.h>

namespace voicectl {

class TracePrinter final : public voicecontrol::RequestObserver {
 public:
  explicit TracePrinter(std::ostream& err) : err_(err) {}

  void OnLogRecord(const voicecontrol::LogRecord& record) override;
  void OnRequestEvents(const voicecontrol::RequestEvents& events) override;

 private:
  // Each call prints one block at once: records and the sink's lines come
  // from several threads.
  void Print(const std::string& block);

  std::mutex mutex_;
  std::ostream& err_;
};

// The message's bytes as lines after `marker` ("  > "): a line ends at LF
// (a CR before it dropped), other control bytes show as \xNN.
std::string MarkedLines(const char* bytes, size_t length, const char* marker);

}  // namespace voicectl

#endif  // VOICECTL_TRACE_H_
