// Preparation of a wide text before a DOM backend parses it, shared by both
// backends so that they accept the same texts.
#ifndef VOICECONTROL_INTERFACE_DOM_TEXT_H_
#define VOICECONTROL_INTERFACE_DOM_TEXT_H_

#include <string>

#include "platform/export.h"

namespace voicecontrol {

// Returns `text` without the encoding pseudo-attribute of its XML
// declaration (and the white space before it):
//   <?xml version="1.0" encoding="GB2312" ?>  becomes  <?xml version="1.0" ?>
// The text is already Unicode, so a declared byte encoding does not apply to
// it; a parser that honoured it would refuse or misread the text. A text
// without a declaration, or whose declaration is not well formed, is
// returned unchanged for the parser to judge.
VC_API std::wstring StripEncodingDeclaration(const std::wstring& text);

// False when `text` cannot be an XML document for a reason a backend might
// not notice: it holds a NUL character, which XML forbids and which some
// parsers take as the end of the text.
VC_API bool IsAcceptableXmlText(const std::wstring& text);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_TEXT_H_
