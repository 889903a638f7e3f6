// An answer as the controller reads it, on any bytes: HttpXmlRsp::Parse and
// then every getter must give a result code or a value, never crash, raise
// or read out of bounds. A refused answer always leaves an error detail,
// and every detail is one short line of printable text, whatever the bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <voicecontrol/interface/HttpXmlReq.h>
#include "interface/error_detail.h"

namespace {

// Stops the run with a crash libFuzzer records when a property fails.
void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  // A copy exactly as long as the text and its NUL, so that AddressSanitizer
  // catches any read past the end.
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size > 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';

  HttpXmlRsp reply;
  Check(reply.CreateBody() == 0);
  const int result = reply.Parse(text.get(), static_cast<int>(size));
  Check(result == 0 || result == -2 || result == -3 || result == -5 || result == -6);
  const std::string detail = internal::TakeErrorDetail();
  Check(result == 0 || !detail.empty());
  Check(detail.size() <= 300);
  for (char c : detail) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  if (result == 0) {
    Check(GetStatusText(reply.GetStatus()) != nullptr);
  } else {
    Check(reply.GetStatus() == 0);
  }
  // The dispatcher reads these whatever Parse said.
  reply.GetFlowID();
  reply.GetSeqNo();
  reply.GetFieldNum();
  // Every Field_Value takes at least 14 bytes ("<Field_Value/>"), so after
  // this many reads the values are exhausted and the reads must give "".
  const size_t most_values = size / 14 + 1;
  for (size_t i = 0; i < most_values; ++i) reply.GetNextFieldValue();
  Check(reply.GetNextFieldValue().empty());
  return 0;
}
