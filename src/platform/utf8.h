// One code point to and from UTF-8, strictly: the decoder takes only
// well-formed sequences (no overlong forms, no surrogates, nothing beyond
// U+10FFFF). Shared by the code-page layer and the answer reader, which
// must agree on what well-formed UTF-8 is.
#ifndef VOICECONTROL_PLATFORM_UTF8_H_
#define VOICECONTROL_PLATFORM_UTF8_H_

#include <cstddef>

namespace voicecontrol {
namespace platform {

// Decodes the code point at text[*pos] (with *pos < length) into *out and
// advances *pos past it. False for an ill-formed sequence; *pos is then past
// its maximal ill-formed subsequence, the part a decoder replaces by one
// U+FFFD.
inline bool DecodeUtf8(const unsigned char* text, size_t length, size_t* pos, char32_t* out) {
  const unsigned char lead = text[(*pos)++];
  if (lead < 0x80) {
    *out = lead;
    return true;
  }
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
    return false;
  }
  for (int i = 0; i < trailing; ++i) {
    if (*pos >= length) return false;
    const unsigned char byte = text[*pos];
    const bool inRange = i == 0 ? (byte >= low && byte <= high) : (byte & 0xC0) == 0x80;
    if (!inRange) return false;
    value = (value << 6) | (byte & 0x3F);
    ++*pos;
  }
  *out = value;
  return true;
}

// Writes the UTF-8 form of `cp`, a Unicode scalar value, at `out` (room for
// 4 bytes) and returns the end of what was written.
inline char* EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace platform
}  // namespace voicecontrol

#endif  // VOICECONTROL_PLATFORM_UTF8_H_
