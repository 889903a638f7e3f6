// Any byte sequence either parses into a tree within the parser's limits or
// throws TXMLExcept with a positioned message: no crash, no leak, no read
// past the text (the copy below is sized exactly, so ASan sees any overread).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <voicecontrol/xml/xml.h>

using voicecontrol::TXMLExcept;
using voicecontrol::XmlAttr;
using voicecontrol::XmlNode;
using voicecontrol::XmlParser;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckTree(const XmlNode& node, int depth) {
  Check(depth <= voicecontrol::kXmlMaxDepth);
  Check(std::strlen(node.GetName()) >= 1 &&
        std::strlen(node.GetName()) <= voicecontrol::kXmlMaxNameLength);
  if (node.GetText() != nullptr) {
    Check(std::strlen(node.GetText()) <= voicecontrol::kXmlMaxElementText);
  }
  for (const XmlAttr* attr = node.GetFirstAttr(); attr; attr = attr->GetNext()) {
    Check(attr->GetValue() != nullptr);
    Check(std::strlen(attr->GetValue()) <= voicecontrol::kXmlMaxTokenLength);
  }
  for (const XmlNode* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    Check(child->GetParent() == &node);
    CheckTree(*child, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  try {
    std::unique_ptr<XmlNode> root(XmlParser::Parse(text.get()));
    CheckTree(*root, 1);
    std::unique_ptr<XmlNode> copy(root->Clone(nullptr));
    Check(copy->ToString() == root->ToString());
  } catch (const TXMLExcept& error) {
    Check(std::strncmp(error.what(), "line ", 5) == 0);
    Check(std::strlen(error.what()) < voicecontrol::kXmlMessageSize);
  }
  return 0;
}
