// Reading HTTP text in place: the few scans that the message parser, the
// command answer reader and the transport's completeness check all make.
//
// Nothing here copies, allocates or keeps state, and nothing reads at or
// past the end it is given: every function takes the text as a pointer and
// a length (or an end), so a caller can scan a line inside a larger buffer.
#ifndef VOICECONTROL_HTTP_TEXT_SCAN_H_
#define VOICECONTROL_HTTP_TEXT_SCAN_H_

#include <cstddef>
#include <cstring>
#include <string_view>

#include "http/decimal.h"

namespace voicecontrol {

// ASCII letter case folding: header names and the words compared with them
// are ASCII, and the C locale's tolower would cost a call per byte to fold
// nothing more. Other bytes, those of UTF-8 included, stay as they are.
constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the `length` bytes at `text` begin with `prefix`, ASCII letter
// case aside on both sides.
inline bool StartsWithNoCase(const char* text, size_t length, std::string_view prefix) {
  if (length < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

// One word of a start line as "%s" reads it. It points into the text it
// was read from; an empty word is a valid one (`length` 0).
struct Word {
  const char* begin = "";
  size_t length = 0;

  // Exact, letter case included.
  bool Equals(const char* text) const {
    return std::strlen(text) == length && std::memcmp(begin, text, length) == 0;
  }
};

// Reads the word at or after `p` into `word` and returns where it ends.
// White space before it is skipped, line ends included (the same white
// space as atoi skips, IsAtoiSpace), then the word runs to the next white
// space or to `end`.
inline const char* ReadWord(const char* p, const char* end, Word* word) {
  while (p < end && IsAtoiSpace(*p)) ++p;
  word->begin = p;
  while (p < end && !IsAtoiSpace(*p)) ++p;
  word->length = static_cast<size_t>(p - word->begin);
  return p;
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_HTTP_TEXT_SCAN_H_
