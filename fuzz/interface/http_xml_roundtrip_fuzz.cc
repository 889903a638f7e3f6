// Field values through the wire and back: whatever text the host passes,
// markup included, the server must read exactly that one value back; and a
// text XML cannot carry must be refused before it is sent, never reach the
// wire.
#include <cstdint>
#include <string>
#include <vector>

#include <voicecontrol/interface/HttpXmlReq.h>
#include "controller/text_argument.h"
#include "platform/codepage.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// XML 1.0's Char production, written out here again so that the command
// path's own check is held against an independent reading of it.
bool IsXmlChar(uint32_t c) {
  if (c == 0x9 || c == 0xA || c == 0xD) return true;
  if (c < 0x20) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c == 0xFFFE || c == 0xFFFF) return false;
  return c <= 0x10FFFF;
}

// The characters of a wide text; a UTF-16 text pairs its surrogates.
std::vector<uint32_t> CodePoints(const std::wstring& text) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      const uint32_t next = i + 1 < text.size() ? static_cast<uint32_t>(text[i + 1]) & 0xFFFF : 0;
      if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    points.push_back(c);
  }
  return points;
}

bool XmlCarriesAll(const std::wstring& text) {
  for (uint32_t c : CodePoints(text)) {
    if (!IsXmlChar(c)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  // The input is UTF-8 text; byte 0x1F separates values. Carriage returns
  // are left out: XML itself reads CR LF and CR as LF, so they would not
  // come back as they went.
  const std::wstring wide = platform::Utf8ToWideString(reinterpret_cast<const char*>(data), size);
  std::vector<std::wstring> texts(1);
  for (wchar_t c : wide) {
    if (c == L'\x1F') {
      texts.emplace_back();
    } else if (c != L'\r') {
      texts.back() += c;
    }
  }

  // Each text as a command's argument: it ends at its first U+0000, and is
  // refused exactly when XML cannot carry it or it is too long.
  std::vector<std::wstring> values;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::wstring kept = texts[i].substr(0, texts[i].find(L'\0'));
    const bool carriable = XmlCarriesAll(kept);
    const bool fits =
        platform::WideToUtf8String(kept).size() <= static_cast<size_t>(internal::kMaxFieldBytes);
    std::wstring field;
    std::string refusal;
    const int position = static_cast<int>(i) + 1;
    const bool accepted = internal::MakeFieldValue(texts[i], position, &field, &refusal);
    Check(accepted == (carriable && fits));
    if (accepted) {
      Check(field == kept);
    } else {
      Check(field.empty());
      Check(refusal.rfind("argument " + std::to_string(position) + " ", 0) == 0);
    }
    // What XML carries goes through the wire below, however long (the
    // HTTP and document layers have no limit of their own).
    if (carriable) values.push_back(kept);
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
