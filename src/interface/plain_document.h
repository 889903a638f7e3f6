// A one-pass reader for documents of the plain shape that interface servers
// answer with: elements without attributes or namespace prefixes, character
// data with the predefined entities and character references, an optional
// XML declaration and white space around the root element.
//
// For a text of that shape it decides well-formedness as an XML 1.0 parser
// does and records every element with the character data it holds, at a
// fraction of the cost of building a general DOM tree. Anything outside the
// shape (comments, processing instructions, CDATA sections, a document type,
// attributes, prefixed or non-ASCII names, deep nesting) and every text that
// is not well formed it declines: the caller then gives the text to a full
// parser, which decides and builds the tree. So the reader never has to
// agree with a full parser on a refusal, only on what it accepts.
#ifndef VOICECONTROL_INTERFACE_PLAIN_DOCUMENT_H_
#define VOICECONTROL_INTERFACE_PLAIN_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "internal_export.h"

namespace voicecontrol {

class VC_INTERNAL_API PlainDocument {
 public:
  // One element. Elements are numbered in document order (of their start
  // tags), the root first.
  struct Element {
    uint32_t nameBegin;   // in source()
    uint32_t nameLength;
    int32_t parent;       // index of the parent element; -1 for the root
    uint32_t textBegin;   // its character data and its descendants' is
    uint32_t textEnd;     // text()[textBegin, textEnd)
  };

  // Reads `utf8`, which it keeps as source(). False when the text is not of
  // the plain shape or not well formed; the elements are then meaningless.
  bool Parse(std::string utf8);

  const std::string& source() const { return source_; }
  const std::vector<Element>& elements() const { return elements_; }

  std::string_view Name(const Element& element) const {
    return std::string_view(source_).substr(element.nameBegin, element.nameLength);
  }
  // All character data inside the element, in document order, with
  // references replaced and line ends normalised to LF.
  std::string_view Text(const Element& element) const {
    return std::string_view(text_).substr(element.textBegin, element.textEnd - element.textBegin);
  }

 private:
  class Reader;

  std::string source_;
  std::string text_;  // the character data of the whole document, in order
  std::vector<Element> elements_;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_PLAIN_DOCUMENT_H_
