#include "controller/text_argument.h"

#include <cstdio>
#include <cwchar>

namespace voicecontrol {
namespace internal {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The first code point among `length` wide characters that XML cannot
// carry, or kNone. A wchar_t is one code point where it is 32 bits wide; a
// UTF-16 text (16-bit wchar_t) pairs its surrogates, and a surrogate
// without its partner is refused as itself.
uint32_t FirstUncarriable(const wchar_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (IsHighSurrogate(c) && i + 1 < length &&
          IsLowSurrogate(static_cast<uint32_t>(text[i + 1]) & 0xFFFF)) {
        ++i;  // a pair: a code point beyond U+FFFF, which XML carries
        continue;
      }
    }
    if (!XmlCanCarry(c)) return c;
  }
  return kNone;
}

// The length of the UTF-8 form of `length` wide characters that XML can
// carry (so a 16-bit text's surrogates come in pairs).
size_t Utf8Length(const wchar_t* text, size_t length) {
  size_t bytes = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFF : ~0u);
    if (c < 0x80) {
      bytes += 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (IsHighSurrogate(c)) {
      bytes += 4;  // with its partner, which adds nothing
    } else if (IsLowSurrogate(c)) {
      continue;
    } else {
      bytes += c < 0x10000 ? 3 : 4;
    }
  }
  return bytes;
}

std::string CodePointName(uint32_t c) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04lX", static_cast<unsigned long>(c));
  return name;
}

}  // namespace

bool MakeFieldValue(const std::wstring& text, int position, std::wstring* out,
                    std::string* refusal) {
  out->clear();
  // The text ends at its first U+0000, as a terminated wide string does.
  const size_t length = std::wcslen(text.c_str());
  auto argument = [position] { return "argument " + std::to_string(position); };
  const uint32_t uncarriable = FirstUncarriable(text.c_str(), length);
  if (uncarriable != kNone) {
    *refusal = argument() + " holds " + CodePointName(uncarriable) + ", which XML cannot carry";
    return false;
  }
  // Too long a text is refused rather than cut: a cut name or number
  // would reach the server as a different one.
  const size_t utf8Length = Utf8Length(text.c_str(), length);
  if (utf8Length > static_cast<size_t>(kMaxFieldBytes)) {
    *refusal = argument() + " is " + std::to_string(utf8Length) + " bytes in UTF-8, more than " +
               std::to_string(kMaxFieldBytes);
    return false;
  }
  out->assign(text, 0, length);
  return true;
}

}  // namespace internal
}  // namespace voicecontrol
