// Any bytes as a server's answer, taken the way the receive thread takes
// them once they are read: HttpXmlRsp::Parse, reading the answer, then
// delivering it to the sink. Whatever the bytes, the sink must see exactly
// one outcome: one error, one command result, one QSingle result, one
// "no entries", or n >= 1 QAll entries, and never more entries than the
// longest of the answer's eight lists holds items.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include "controller/answer.h"

namespace {

using namespace voicecontrol;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class CountingSink : public VoiceEventSink {
 public:
  void OnError(std::wstring) override { ++errors; }
  void OnCommandResult(int32_t, int32_t, std::wstring) override { ++results; }
  void OnQAllEmpty() override { ++empties; }
  void OnQAllEntry(std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                   std::wstring, std::wstring, std::wstring) override {
    ++entries;
  }
  void OnQSingleResult(std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                       std::wstring, std::wstring, std::wstring) override {
    ++qsingles;
  }

  int errors = 0, results = 0, empties = 0, entries = 0, qsingles = 0;
};


// Items in the longest of a QAll answer's eight comma-terminated lists.
size_t LongestList(const internal::Answer& answer) {
  size_t longest = 0;
  for (int k = 0; k < 8; ++k) {
    const std::string& list = answer.values[k];
    longest = std::max(longest, static_cast<size_t>(std::count(list.begin(), list.end(), ',')));
  }
  return longest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The receive buffer holds at most 81,919 bytes and a terminator.
  if (size > 81919) return 0;
  // Exactly as long as the text and its NUL, so that AddressSanitizer
  // catches any read past the end.
  std::unique_ptr<char[]> response(new char[size + 1]);
  if (size > 0) std::memcpy(response.get(), data, size);
  response[size] = '\0';

  CountingSink sink;
  internal::Answer answer;
  const bool read =
      internal::ParseAndDeliver(response.get(), static_cast<int>(size), &sink, &answer);

  const int single_outcomes = sink.errors + sink.results + sink.empties + sink.qsingles;
  if (sink.entries == 0) {
    Check(single_outcomes == 1);
  } else {
    Check(single_outcomes == 0);
    Check(read && answer.kind == internal::Answer::Kind::kQAll);
    // A count of 1 delivers its one entry unsplit; more are cut from the
    // lists and never outnumber the longest one.
    if (answer.number == 1) {
      Check(sink.entries == 1);
    } else {
      Check(static_cast<size_t>(sink.entries) <= LongestList(answer));
      Check(sink.entries <= answer.number);
    }
  }
  // The outcome matches what was read.
  if (read) {
    switch (answer.kind) {
      case internal::Answer::Kind::kBadMessage:
      case internal::Answer::Kind::kParamError:
        Check(sink.errors == 1);
        break;
      case internal::Answer::Kind::kCommandResult:
        Check(sink.results == 1);
        break;
      case internal::Answer::Kind::kQSingle:
        Check(sink.qsingles == 1);
        break;
      case internal::Answer::Kind::kQAll:
        Check(sink.errors == 0 && sink.results == 0 && sink.qsingles == 0);
        break;
    }
  } else {
    Check(sink.errors == 1);
  }
  return 0;
}
