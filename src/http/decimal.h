// Numbers as decimal text, both ways.
//
// Reading a number the way the C runtime's atoi (and _wtoi) reads one,
// which is how every number on the wire has always been read: white space
// (space, tab, CR, LF, VT, FF) skipped, an optional sign, then decimal digits
// up to the first other character; no digits give 0. Unlike atoi, values
// beyond the 32-bit range saturate instead of being undefined, so a huge
// number can never wrap around onto a small one.
#ifndef VOICECONTROL_HTTP_DECIMAL_H_
#define VOICECONTROL_HTTP_DECIMAL_H_

#include <algorithm>
#include <cstdint>
#include <limits>

namespace voicecontrol {

template <typename Char>
constexpr bool IsAtoiSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads from `p`, never at or past `end`.
template <typename Char>
std::int32_t ReadDecimalPrefix(const Char* p, const Char* end) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  while (p < end && IsAtoiSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::int64_t magnitude = 0;  // capped just past any 32-bit value
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (*p - '0'), kMax + 1);
  }
  const std::int64_t value = negative ? -magnitude : std::min(magnitude, kMax);
  return static_cast<std::int32_t>(value);  // -(kMax + 1) is the int32 minimum
}

// Whether ReadDecimalPrefix finds a number in [p, end): white space, a
// sign, then at least one digit; anything else reads as 0 without being one.
template <typename Char>
bool HoldsDecimal(const Char* p, const Char* end) {
  while (p < end && IsAtoiSpace(*p)) ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  return p < end && *p >= '0' && *p <= '9';
}

// Writes `value` as %d would, followed by a terminator, into `out`, which
// holds at least kDecimalCapacity characters; returns the digits' count.
// printf's locale and format machinery cost more than the message around it.
constexpr int kDecimalCapacity = 12;  // "-2147483648" and the terminator

template <typename Char>
int WriteDecimal(std::int32_t value, Char* out) {
  Char reversed[kDecimalCapacity];
  int count = 0;
  // In unsigned arithmetic the minimum has a magnitude too.
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  do {
    reversed[count++] = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int length = 0;
  if (value < 0) out[length++] = '-';
  while (count > 0) out[length++] = reversed[--count];
  out[length] = 0;
  return length;
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_HTTP_DECIMAL_H_
