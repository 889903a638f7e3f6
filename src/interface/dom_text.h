// Preparation of a text before a DOM backend parses it, shared by both
// backends so that they accept the same texts.
#ifndef VOICECONTROL_INTERFACE_DOM_TEXT_H_
#define VOICECONTROL_INTERFACE_DOM_TEXT_H_

#include <string>
#include <string_view>

#include "internal_export.h"

namespace voicecontrol {

// A stretch of a text: `length` characters from `begin`.
struct VC_INTERNAL_API TextSpan {
  size_t begin = 0;
  size_t length = 0;
};

// The encoding pseudo-attribute of the XML declaration at the start of a
// text, with the white space before it:
//   <?xml version="1.0" encoding="GB2312" ?>  loses  ` encoding="GB2312"`
// The texts the DOM receives are already decoded (wide text) or UTF-8, so a
// declared byte encoding does not apply to them; a parser that honoured it
// would refuse or misread the text. Empty (length 0) when the text has no
// declaration or its declaration is not well formed: the parser judges it.
// The UTF-8 form accepts a leading byte-order mark as the wide form does.
VC_INTERNAL_API TextSpan FindEncodingDeclaration(std::wstring_view text);
VC_INTERNAL_API TextSpan FindEncodingDeclaration(std::string_view utf8);

// `text` without that pseudo-attribute.
VC_INTERNAL_API std::wstring StripEncodingDeclaration(const std::wstring& text);

// The same pseudo-attribute overwritten with spaces, in place: what a parser
// reports about the text then has the line and column of the text received.
VC_INTERNAL_API void BlankEncodingDeclaration(std::wstring* text);
VC_INTERNAL_API void BlankEncodingDeclaration(std::string* utf8);

// Whether the prolog of `text` (after a byte-order mark, the XML
// declaration, comments, processing instructions and white space, before
// the first element) holds a document type declaration. The markup
// searched for is ASCII, so the narrow form serves UTF-8 and the ASCII-based
// code pages alike.
VC_INTERNAL_API bool HasDocumentTypeDeclaration(std::wstring_view text);
VC_INTERNAL_API bool HasDocumentTypeDeclaration(std::string_view text);

// The error detail of a text that is no XML document: "document is not
// well-formed XML (line 3, column 7): <message>", the message of the parser
// made one short printable line without the parser's advice to its caller
// ("use XML_PARSE_HUGE option"); without position when `line` is not
// positive, without message when it is empty. The same on every backend.
VC_INTERNAL_API std::string NotWellFormedDetail(int line, int column, const std::string& message);

// False when a text cannot be an XML document for a reason a backend might
// not notice: it holds a NUL character, which XML forbids and which some
// parsers take as the end of the text.
VC_INTERNAL_API bool IsAcceptableXmlText(std::wstring_view text);
VC_INTERNAL_API bool IsAcceptableXmlText(std::string_view utf8);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_TEXT_H_
