// UTF-8 <-> UTF-32 wide text for systems whose code page is UTF-8.
#include <cstdint>

#include "platform/codepage.h"

namespace voicecontrol {
namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one code point at text[*pos] and advances *pos. A maximal
// ill-formed subsequence yields one U+FFFD, as the Windows decoder does.
char32_t DecodeOne(const unsigned char* text, size_t length, size_t* pos) {
  const unsigned char lead = text[(*pos)++];
  if (lead < 0x80) return lead;
  int trailing;
  char32_t value;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the first trailing byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 0; i < trailing; ++i) {
    if (*pos >= length) return kReplacement;
    const unsigned char byte = text[*pos];
    const bool in_range = i == 0 ? (byte >= low && byte <= high) : IsContinuation(byte);
    if (!in_range) return kReplacement;
    value = (value << 6) | (byte & 0x3F);
    ++*pos;
  }
  return value;
}

void EncodeOne(char32_t cp, std::string* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::wstring Utf8ToWideString(const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr) return out;
  out.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t pos = 0;
  while (pos < length) out.push_back(static_cast<wchar_t>(DecodeOne(bytes, length, &pos)));
  return out;
}

std::string WideToUtf8String(const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr) return out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    EncodeOne(static_cast<char32_t>(static_cast<std::uint32_t>(text[i])), &out);
  }
  return out;
}

std::wstring AnsiToWideString(const char* text, size_t length) {
  return Utf8ToWideString(text, length);
}

std::string WideToAnsiString(const wchar_t* text, size_t length) {
  return WideToUtf8String(text, length);
}

}  // namespace platform
}  // namespace voicecontrol
