// The two ways through XmlParser::Parse (internal to the XML parser; the
// tests and the differential fuzzer call both and compare them).
//
// The token-by-token way drives the public scanner (XmlParser::NextToken) and
// the parse steps of XmlNode: it is the reference, and the only one that
// makes error messages. The fast way reads the text once, straight into the
// tree, keeping a running line count instead of copying every token into the
// scanner's buffers. It makes no messages: whenever it meets something it is
// not sure about (every error among them) it gives up, and Parse hands the
// whole text to the token-by-token way, which throws the exact message or,
// for a valid text the fast way declines, builds the tree.
#ifndef VOICECONTROL_XML_XML_FAST_PARSER_H_
#define VOICECONTROL_XML_XML_FAST_PARSER_H_

#include <voicecontrol/xml/xml.h>
#include "internal_export.h"

namespace voicecontrol {

// Where the fast way stopped: just past the ">" or "/>" that closed the
// root, and the line that closing bracket is on.
struct XmlRootEnd {
  const char* after = nullptr;
  int line = 1;
};

class VC_INTERNAL_API XmlParsePaths {
 public:
  // The tree of text, or null when the fast way declines it. Throws only
  // std::bad_alloc. Leaves the scanner state alone.
  static XmlNode* Fast(const char* text, XmlRootEnd* end);
  // The reference: the scanner-driven parse. Throws TXMLExcept, in the
  // caller's module as XmlParser::Parse does (see there).
  static XmlNode* TokenByToken(const char* text) {
    char message[kXmlMessageSize] = {};
    XmlNode* root = TokenByTokenOrFail(text, message);
    if (root == nullptr) XmlParser::ThrowReported(message);
    return root;
  }
  // TokenByToken reporting as XmlParser::ParseOrFail does.
  static XmlNode* TokenByTokenOrFail(const char* text,
                                     char (&message)[kXmlMessageSize]) noexcept;

 private:
  class Builder;  // the fast way's state
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_XML_XML_FAST_PARSER_H_
