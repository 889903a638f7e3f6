// A command's text argument on its way to becoming a field value.
//
// A field value is written into an XML document, so it may hold only what
// XML 1.0 can carry (its Char production): tab, line feed, carriage return,
// and every code point from U+0020 on, except the surrogates, U+FFFE and
// U+FFFF. A text holding anything else would make a request that no XML
// parser accepts; the server would refuse it after it went out. Such a
// text, like one too long for a field, is refused before anything is sent.
#ifndef VOICECONTROL_CONTROLLER_TEXT_ARGUMENT_H_
#define VOICECONTROL_CONTROLLER_TEXT_ARGUMENT_H_

#include <cstdint>
#include <string>

#include "internal_export.h"

namespace voicecontrol {
namespace internal {

// The longest field value, in bytes of UTF-8.
constexpr int kMaxFieldBytes = 255;

// True when XML 1.0 can carry code point `c`.
constexpr bool XmlCanCarry(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Makes the field value of text argument number `position` (1 for the
// command's first argument): `text` up to its first U+0000, into `out`.
// False when the text holds a character XML cannot carry (an unpaired
// surrogate of a UTF-16 text included) or its UTF-8 form is longer than
// kMaxFieldBytes; `*refusal` then says which argument and why ("argument 2
// holds U+0001, which XML cannot carry"), and `out` is left empty. The
// text stays wide: the request is made of wide field values, and its
// UTF-8 length is counted, not converted for.
VC_INTERNAL_API bool MakeFieldValue(const std::wstring& text, int position, std::wstring* out,
                                    std::string* refusal);

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_TEXT_ARGUMENT_H_
