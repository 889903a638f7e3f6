// Any body as a server's answer: what the plain reading of the answer takes
// from it must be what libxml2's XPath engine selects, part for part.
//
// Input: the answer's body.

#include <cstdint>
#include <string>

#include "../../tests/interface/plain_answer_check.h"
#include "../http/fuzz_input.h"  // Check

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  bool plain = false;
  const std::string body(reinterpret_cast<const char*>(data), size);
  voicecontrol::Check(voicecontrol::testing::PlainAnswerDisagreement(body, &plain).empty());
  return 0;
}
