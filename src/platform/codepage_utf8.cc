// UTF-8 <-> wide text, the same code on every platform, so that the same
// bytes become the same characters everywhere: an ill-formed sequence gives
// one U+FFFD per maximal subpart (Unicode's recommended practice), which
// the system converters do not all follow. Written out for speed.
//
// Wide text is UTF-32 where wchar_t has 32 bits and UTF-16 where it has 16
// (Windows): there a character beyond U+FFFF is a surrogate pair.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "platform/codepage.h"
#include "platform/utf8.h"

namespace voicecontrol {
namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes one code point at text[*pos] and advances *pos. A maximal
// ill-formed subsequence yields one U+FFFD.
char32_t DecodeOne(const unsigned char* text, size_t length, size_t* pos) {
  char32_t value;
  return DecodeUtf8(text, length, pos, &value) ? value : kReplacement;
}

// Appends `cp`, a Unicode scalar value, to wide text at `out`.
wchar_t* PutWide(char32_t cp, wchar_t* out) {
  if (kWideIsUtf16 && cp > 0xFFFF) {
    cp -= 0x10000;
    *out++ = static_cast<wchar_t>(0xD800 + (cp >> 10));
    *out++ = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    return out;
  }
  *out++ = static_cast<wchar_t>(cp);
  return out;
}

// The code point that starts at text[*i] (a surrogate pair counts as one
// where wide text is UTF-16), advancing *i; what is no Unicode scalar value
// (an unpaired surrogate, a value beyond U+10FFFF) is U+FFFD.
char32_t NextCodePoint(const wchar_t* text, size_t length, size_t* i) {
  const auto unit = static_cast<std::uint32_t>(text[(*i)++]);
  if (kWideIsUtf16 && IsHighSurrogate(unit) && *i < length &&
      IsLowSurrogate(static_cast<std::uint32_t>(text[*i]))) {
    const auto low = static_cast<std::uint32_t>(text[(*i)++]);
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) return kReplacement;
  return unit;
}

size_t Utf8Size(char32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  return 4;
}

// Both directions size the result once and write through a pointer, and
// copy runs of ASCII a block at a time: texts are mostly ASCII, and the
// fixed-size block loops below compile to vector instructions.
constexpr size_t kBlock = 16;

bool IsAsciiBlock(const unsigned char* bytes) {
  // Two words at once; memcpy is how C++ reads unaligned words.
  std::uint64_t words[2];
  std::memcpy(words, bytes, sizeof words);
  return ((words[0] | words[1]) & 0x8080808080808080u) == 0;
}

bool IsAsciiBlock(const wchar_t* text) {
  std::uint32_t any = 0;
  for (size_t i = 0; i < kBlock; ++i) any |= static_cast<std::uint32_t>(text[i]);
  return any < 0x80;
}

// Whether all `length` units at `text` are ASCII, a block at a time.
template <typename Unit>
bool IsAsciiText(const Unit* text, size_t length) {
  size_t i = 0;
  for (; length - i >= kBlock; i += kBlock) {
    if (!IsAsciiBlock(text + i)) return false;
  }
  for (; i < length; ++i) {
    if (static_cast<std::uint32_t>(text[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool IsAscii(const char* text, size_t length) {
  return IsAsciiText(reinterpret_cast<const unsigned char*>(text), length);
}

std::wstring Utf8ToWideString(const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr || length == 0) return out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  // Pure ASCII, the usual case, widens with one allocation.
  if (IsAsciiText(bytes, length)) return std::wstring(bytes, bytes + length);
  // Never more wide units than bytes: a surrogate pair comes from 4 bytes.
  out.resize(length);
  wchar_t* const begin = &out[0];
  wchar_t* end = begin;
  size_t pos = 0;
  while (pos < length) {
    if (length - pos >= kBlock && IsAsciiBlock(bytes + pos)) {
      // Through a local copy: the output may not alias the input, so the
      // widening loop is free to use vector instructions.
      unsigned char block[kBlock];
      std::memcpy(block, bytes + pos, kBlock);
      for (size_t i = 0; i < kBlock; ++i) end[i] = static_cast<wchar_t>(block[i]);
      end += kBlock;
      pos += kBlock;
    } else if (bytes[pos] < 0x80) {
      *end++ = static_cast<wchar_t>(bytes[pos++]);
    } else {
      end = PutWide(DecodeOne(bytes, length, &pos), end);
    }
  }
  out.resize(static_cast<size_t>(end - begin));
  return out;
}

std::string WideToUtf8String(const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr || length == 0) return out;
  if (IsAsciiText(text, length)) {
    out.resize(length);
    std::transform(text, text + length, &out[0], [](wchar_t c) { return static_cast<char>(c); });
    return out;
  }
  size_t size = 0;
  size_t i = 0;
  while (i < length) {
    if (length - i >= kBlock && IsAsciiBlock(text + i)) {
      size += kBlock;
      i += kBlock;
    } else {
      size += Utf8Size(NextCodePoint(text, length, &i));
    }
  }
  out.resize(size);
  char* end = &out[0];
  i = 0;
  while (i < length) {
    if (length - i >= kBlock && IsAsciiBlock(text + i)) {
      char block[kBlock];  // local, for the same reason as above
      for (size_t k = 0; k < kBlock; ++k) block[k] = static_cast<char>(text[i + k]);
      std::memcpy(end, block, kBlock);
      end += kBlock;
      i += kBlock;
    } else {
      end = EncodeUtf8(NextCodePoint(text, length, &i), end);
    }
  }
  return out;
}

}  // namespace platform
}  // namespace voicecontrol
