// Printing a parsed tree and parsing the print gives an equal tree, for every
// tree the printed form can represent: attribute values free of '"', '&' and
// '<' (they are written unescaped), escaped texts that fit one run of
// character data, and CDATA contents without blanks at either end (a CDATA
// section is printed as an element, whose text the parser trims). A null text
// (from <e/>) and an empty one both print as <e></e> and count as equal.
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

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32;
}

bool Representable(const XmlNode& node) {
  for (const XmlAttr* attr = node.GetFirstAttr(); attr; attr = attr->GetNext()) {
    if (std::strpbrk(attr->GetValue(), "\"&<") != nullptr) return false;
  }
  if (const char* text = node.GetText()) {
    const size_t length = std::strlen(text);
    if (length > 0 && (IsBlank(text[0]) || IsBlank(text[length - 1]))) return false;
    if (voicecontrol::XmlEncode(text).size() > voicecontrol::kXmlMaxTextRun) return false;
  }
  for (const XmlNode* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    if (!Representable(*child)) return false;
  }
  return true;
}

bool Equal(const XmlNode& a, const XmlNode& b) {
  if (std::strcmp(a.GetName(), b.GetName()) != 0) return false;
  const char* text_a = a.GetText() ? a.GetText() : "";
  const char* text_b = b.GetText() ? b.GetText() : "";
  if (std::strcmp(text_a, text_b) != 0) return false;
  const XmlAttr* attr_a = a.GetFirstAttr();
  const XmlAttr* attr_b = b.GetFirstAttr();
  for (; attr_a && attr_b; attr_a = attr_a->GetNext(), attr_b = attr_b->GetNext()) {
    if (std::strcmp(attr_a->GetName(), attr_b->GetName()) != 0) return false;
    if (std::strcmp(attr_a->GetValue(), attr_b->GetValue()) != 0) return false;
  }
  if (attr_a || attr_b) return false;
  const XmlNode* child_a = a.GetFirstChild();
  const XmlNode* child_b = b.GetFirstChild();
  for (; child_a && child_b;
       child_a = child_a->GetNextSibling(), child_b = child_b->GetNextSibling()) {
    if (!Equal(*child_a, *child_b)) return false;
  }
  return !child_a && !child_b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<XmlNode> root;
  try {
    root.reset(XmlParser::Parse(text.c_str()));
  } catch (const TXMLExcept&) {
    return 0;
  }
  if (!Representable(*root)) return 0;
  const std::string printed = root->ToString();
  try {
    std::unique_ptr<XmlNode> again(XmlParser::Parse(printed.c_str()));
    if (!Equal(*root, *again)) std::abort();
    if (again->ToString() != printed) std::abort();
  } catch (const TXMLExcept&) {
    std::abort();
  }
  return 0;
}
