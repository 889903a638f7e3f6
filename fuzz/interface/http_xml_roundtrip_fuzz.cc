// Field values through the wire and back: whatever text the host passes,
// markup included, the server must read exactly that one value back.
#include <cstdint>
#include <string>
#include <vector>

#include <voicecontrol/interface/HttpXmlReq.h>
#include "platform/codepage.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// XML itself normalises line ends (CR LF and CR read as LF) and cannot
// carry NUL; the values the fuzzer builds avoid exactly those two.
bool IsTransportable(wchar_t c) { return c != L'\r' && c != L'\0'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  // The input is UTF-8 text; byte 0x1F separates values.
  const std::wstring wide = platform::Utf8ToWideString(reinterpret_cast<const char*>(data), size);
  std::vector<std::wstring> values(1);
  for (wchar_t c : wide) {
    if (c == L'\x1F') {
      values.emplace_back();
    } else if (IsTransportable(c)) {
      values.back() += c;
    }
  }

  HttpXmlReq request;
  Check(request.CreateBody() == 0);
  request.SetMethod(kHttpXmlCreate);
  request.SetSeqNo(1);
  request.SetFlowID(1001);
  request.SetFieldNum(static_cast<int>(values.size()));
  for (const std::wstring& value : values) request.AddFieldValue(value);
  std::string wire;
  Check(request.Serialize(&wire) == 0);

  HttpXmlReq received;
  Check(received.CreateBody() == 0);
  Check(received.Parse(wire.c_str(), static_cast<int>(wire.size())) == 0);
  Check(received.GetFlowID() == 1001);
  Check(received.GetFieldNum() == static_cast<int>(values.size()));
  for (const std::wstring& value : values) Check(received.GetNextFieldValue() == value);
  Check(received.GetNextFieldValue().empty());
  return 0;
}
