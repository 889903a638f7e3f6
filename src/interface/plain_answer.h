// An answer's parts read straight from the plain reading of its document.
//
// Read through the DOM calls, a QSingle answer costs four path queries and
// a wide text made for each value, more than it cost to load the document.
// When the document was loaded by the plain reader (plain_document.h), one
// pass over its elements finds what the four paths of the answer variant
// select, and the values stay UTF-8 views into that reading. The paths are
// the DOM road's own, matched by the same functions (plain_paths.h), so
// both roads read the same parts of every document; what a document is
// (and whether it is one at all) the load decides as before.
#ifndef VOICECONTROL_INTERFACE_PLAIN_ANSWER_H_
#define VOICECONTROL_INTERFACE_PLAIN_ANSWER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "internal_export.h"

namespace voicecontrol {

class DomNode;
class HttpXmlRsp;
class PlainDocument;

namespace internal {

struct AnswerParts {
  // The text of the first element each path selects; none when none does.
  std::optional<std::string_view> seqNo, flowId, fieldNum;
  // The texts of the Field_Value elements, in document order.
  std::vector<std::string_view> values;
};

struct AnswerDocument {
  // Reads the parts of the document `response` parsed, when the plain
  // reader loaded it. False otherwise (no document, a text of another
  // shape, a DOM without the plain reading): the DOM calls read it then.
  // The views live as long as `response`'s document.
  VC_INTERNAL_API static bool ReadPlain(const HttpXmlRsp& response, AnswerParts* parts);
};

// The number in the text of an answer's element `name` (null: there is no
// such element), noting why it reads as 0 where the text holds no number or
// there is no text; nothing is noted when `name` is null.
int32_t NumberFromText(const std::wstring* text, const char* name);

}  // namespace internal

// The plain reading behind the document whose root is `root`; null when
// that document was loaded another way, and on a DOM backend without it.
const PlainDocument* PlainReadingOf(const DomNode& root);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_PLAIN_ANSWER_H_
