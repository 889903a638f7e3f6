#include "trace.h"

#include <cstdint>
#include <cstdio>

namespace voicectl {

namespace {

// "request 7: " for every header line, so that the records and the
// timeline of one request can be told apart from others and found again.
std::string Head(uint64_t requestId) {
  return "trace: request " + std::to_string(requestId) + ": ";
}

// One phase: its milliseconds after `queued`, or that it never came.
std::string Phase(const char* name, int64_t at, int64_t queued) {
  char line[96];
  if (at == 0) {
    std::snprintf(line, sizeof line, "  %-18s not reached\n", name);
  } else {
    std::snprintf(line, sizeof line, "  %-18s %10.3f ms\n", name,
                  static_cast<double>(at - queued) / 1000.0);
  }
  return line;
}

}  // namespace

std::string MarkedLines(const char* bytes, size_t length, const char* marker) {
  std::string out = marker;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '\r' && i + 1 < length && bytes[i + 1] == '\n') continue;
    if (byte == '\n') {
      out += '\n';
      if (i + 1 < length) out += marker;
    } else if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
  }
  // A message not ending in a line break still ends its last line here.
  if (out.back() != '\n') out += '\n';
  return out;
}

void TracePrinter::OnLogRecord(const voicecontrol::LogRecord& record) {
  Print(Head(record.requestId) + (record.sent ? "sent " : "received ") +
        std::to_string(record.length) + " bytes\n" +
        MarkedLines(record.bytes, record.length, record.sent ? "  > " : "  < "));
}

void TracePrinter::OnRequestEvents(const voicecontrol::RequestEvents& e) {
  std::string block = Head(e.requestId) + "FlowID " + std::to_string(e.flowId) +
                      ", HTTP status " + std::to_string(e.httpStatus) + ", " +
                      std::to_string(e.bytesOut) + " bytes out, " + std::to_string(e.bytesIn) +
                      " bytes in; ms after queued:\n";
  block += Phase("connect started", e.connectStartedUs, e.queuedUs);
  block += Phase("connected", e.connectedUs, e.queuedUs);
  block += Phase("request written", e.requestWrittenUs, e.queuedUs);
  block += Phase("first answer byte", e.firstAnswerByteUs, e.queuedUs);
  block += Phase("answer complete", e.answerCompleteUs, e.queuedUs);
  block += Phase("outcome delivered", e.outcomeDeliveredUs, e.queuedUs);
  if (e.errorText != nullptr) {
    const std::string detail = e.errorDetail != nullptr ? e.errorDetail : "";
    block += Head(e.requestId) + "ended in error: " + e.errorText +
             (detail.empty() ? "" : " (" + detail + ")") + "\n";
  }
  Print(block);
}

void TracePrinter::Print(const std::string& block) {
  std::lock_guard<std::mutex> lock(mutex_);
  err_ << block << std::flush;
}

}  // namespace voicectl
