// XmlParser::Parse (which takes the fast way when it can) against the
// token-by-token reference on the same bytes: both must build the same tree
// (names, texts, attributes, lines, ToString) or throw the same message, and
// leave the scanner state the same. Aborts on the first difference.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <voicecontrol/xml/xml.h>
#include "xml/xml_fast_parser.h"

using voicecontrol::TXMLExcept;
using voicecontrol::XmlAttr;
using voicecontrol::XmlNode;
using voicecontrol::XmlParsePaths;
using voicecontrol::XmlParser;
using voicecontrol::XmlRootEnd;

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "xml_diff_fuzz: %s differs\n", what);
  std::abort();
}

bool SameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

void CheckSameTree(const XmlNode& a, const XmlNode& b) {
  Check(std::strcmp(a.GetName(), b.GetName()) == 0, "name");
  Check(SameText(a.GetText(), b.GetText()), "text");
  Check(a.GetLine() == b.GetLine(), "element line");
  const XmlAttr* attr_a = a.GetFirstAttr();
  const XmlAttr* attr_b = b.GetFirstAttr();
  for (; attr_a && attr_b; attr_a = attr_a->GetNext(), attr_b = attr_b->GetNext()) {
    Check(std::strcmp(attr_a->GetName(), attr_b->GetName()) == 0, "attribute name");
    Check(SameText(attr_a->GetValue(), attr_b->GetValue()), "attribute value");
    Check(attr_a->GetLine() == attr_b->GetLine(), "attribute line");
  }
  Check(!attr_a && !attr_b, "attribute count");
  const XmlNode* child_a = a.GetFirstChild();
  const XmlNode* child_b = b.GetFirstChild();
  for (; child_a && child_b;
       child_a = child_a->GetNextSibling(), child_b = child_b->GetNextSibling()) {
    Check(child_a->GetParent() == &a && child_b->GetParent() == &b, "parent");
    CheckSameTree(*child_a, *child_b);
  }
  Check(!child_a && !child_b, "child count");
}

// The public fields of the scanner, positions as offsets into the text.
struct ScannerState {
  std::ptrdiff_t position, countedTo;
  int inTag, line, column;
  voicecontrol::XmlTokenKind kind;
  std::string tokenText, dataText;

  bool operator==(const ScannerState& other) const {
    return position == other.position && countedTo == other.countedTo && inTag == other.inTag &&
           line == other.line && column == other.column && kind == other.kind &&
           tokenText == other.tokenText && dataText == other.dataText;
  }
};

ScannerState StateAfter(const char* text) {
  const XmlParser& scanner = XmlParser::Current();
  return ScannerState{scanner.position - text, scanner.countedTo - text,
                      scanner.inTag,           scanner.line,
                      scanner.column,          scanner.kind,
                      scanner.tokenText,       scanner.dataText};
}

template <typename ParseFunction>
std::unique_ptr<XmlNode> Run(ParseFunction parse, const char* text, std::string* error) {
  try {
    return std::unique_ptr<XmlNode>(parse(text));
  } catch (const TXMLExcept& failure) {
    *error = failure.what();
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Sized exactly, so ASan sees any read past the terminator.
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';

  std::string reference_error;
  std::unique_ptr<XmlNode> reference =
      Run(XmlParsePaths::TokenByToken, text.get(), &reference_error);
  const ScannerState reference_state = StateAfter(text.get());

  std::string error;
  std::unique_ptr<XmlNode> root = Run(XmlParser::Parse, text.get(), &error);
  const ScannerState state = StateAfter(text.get());

  Check(state == reference_state, "scanner state");
  Check((root == nullptr) == (reference == nullptr), "outcome");
  if (root == nullptr) {
    Check(error == reference_error, "message");
    // The fast way must decline every text the reference rejects.
    XmlRootEnd end;
    Check(XmlParsePaths::Fast(text.get(), &end) == nullptr, "fast way's acceptance");
    return 0;
  }
  CheckSameTree(*root, *reference);
  Check(root->ToString() == reference->ToString(), "ToString");
  return 0;
}
