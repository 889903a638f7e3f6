// Escaping and tree output. The output is measured exactly before it is
// written, so the result is allocated once and never grows; the tree is
// walked with an explicit stack, so depth costs no call stack.

#include <cstring>
#include <vector>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {

namespace {

// The reference that replaces c, or null when c is written as itself.
const char* EscapeOf(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '\'':
      return "&apos;";
    case '"':
      return "&quot;";
    default:
      return nullptr;
  }
}

bool NeedsEscape(char c) { return c == '&' || c == '<' || c == '>' || c == '\'' || c == '"'; }

size_t EncodedLength(const char* text) {
  size_t length = 0;
  for (; *text != '\0'; ++text) {
    const char* escape = EscapeOf(*text);
    length += escape != nullptr ? std::strlen(escape) : 1;
  }
  return length;
}

void AppendEncoded(std::string& out, const char* text) {
  const char* run = text;  // start of characters written as themselves
  for (; *text != '\0'; ++text) {
    if (!NeedsEscape(*text)) continue;
    out.append(run, static_cast<size_t>(text - run));
    out.append(EscapeOf(*text));
    run = text + 1;
  }
  out.append(run, static_cast<size_t>(text - run));
}

const char* ValueOrEmpty(const XmlAttr& attr) {
  return attr.GetValue() != nullptr ? attr.GetValue() : "";
}

size_t AttrLength(const XmlAttr& attr) {
  return std::strlen(attr.GetName()) + std::strlen(ValueOrEmpty(attr)) + 3;
}

void WriteAttr(std::string& out, const XmlAttr& attr) {
  out.append(attr.GetName());
  out.append("=\"");
  out.append(ValueOrEmpty(attr));
  out.push_back('"');
}

// Visits the subtree under root in document order: enter(node) before the
// children of node, leave(node) after them. The root's siblings are not
// visited.
template <typename Enter, typename Leave>
void WalkSubtree(const XmlNode& root, Enter enter, Leave leave) {
  std::vector<const XmlNode*> open;  // ancestors of node below root
  const XmlNode* node = &root;
  for (;;) {
    enter(*node);
    if (node->GetFirstChild() != nullptr) {
      open.push_back(node);
      node = node->GetFirstChild();
      continue;
    }
    leave(*node);
    while (node != &root && node->GetNextSibling() == nullptr) {
      node = open.back();
      open.pop_back();
      leave(*node);
    }
    if (node == &root) return;
    node = node->GetNextSibling();
  }
}

}  // namespace

std::string XmlEncode(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  out.reserve(EncodedLength(text));
  AppendEncoded(out, text);
  return out;
}

std::string XmlAttr::ToString() const {
  std::string out;
  out.reserve(AttrLength(*this));
  WriteAttr(out, *this);
  return out;
}

std::string XmlNode::ToString() const {
  size_t size = 0;
  WalkSubtree(
      *this,
      [&size](const XmlNode& node) {
        size += std::strlen(node.GetName()) + 2;  // "<" name ">"
        for (const XmlAttr* attr = node.GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
          size += AttrLength(*attr) + 1;
        }
        if (node.GetText() != nullptr) size += EncodedLength(node.GetText());
      },
      [&size](const XmlNode& node) { size += std::strlen(node.GetName()) + 3; });  // "</" name ">"

  std::string out;
  out.reserve(size);
  WalkSubtree(
      *this,
      [&out](const XmlNode& node) {
        out.push_back('<');
        out.append(node.GetName());
        for (const XmlAttr* attr = node.GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
          out.push_back(' ');
          WriteAttr(out, *attr);
        }
        out.push_back('>');
        if (node.GetText() != nullptr) AppendEncoded(out, node.GetText());
      },
      [&out](const XmlNode& node) {
        out.append("</");
        out.append(node.GetName());
        out.push_back('>');
      });
  return out;
}

}  // namespace voicecontrol
