// Escaping and tree output. The output is measured exactly before it is
// written, so the result is allocated once and never grows; the tree is
// walked with an explicit stack, so depth costs no call stack.
//
// The writing pass fills the string's buffer through a plain pointer rather
// than appending piece by piece: an append checks the capacity and calls
// into the library for every name, quote and bracket, which cost more than
// the copying itself.

#include <cstdint>
#include <cstring>
#include <vector>

#include <voicecontrol/xml/xml.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace voicecontrol {

namespace {

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// What escaping does to each byte: how many bytes the reference adds beyond
// the character it replaces, 0 for characters written as themselves.
struct EscapeTable {
  unsigned char extra[256] = {};

  constexpr EscapeTable() {
    extra[Byte('&')] = 4;   // &amp;
    extra[Byte('<')] = 3;   // &lt;
    extra[Byte('>')] = 3;   // &gt;
    extra[Byte('\'')] = 5;  // &apos;
    extra[Byte('"')] = 5;   // &quot;
  }
};
constexpr EscapeTable kEscape;

// The reference that replaces c, which is one of the five.
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
    default:
      return "&quot;";
  }
}

// The first of the five characters in [p, end), or end. Texts can be long
// (a parsed one up to 2048 bytes, one set by hand any length), so they go
// sixteen bytes at a time where the processor allows; the length is known,
// so no read passes the text.
const char* FindEscapable(const char* p, const char* end) {
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<'))),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('>')),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\'')))),
        _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && kEscape.extra[Byte(*p)] == 0) ++p;
  return p;
}

// The bytes that escaping adds to the length bytes of text.
size_t EscapeExtra(const char* text, size_t length) {
  const char* end = text + length;
  size_t extra = 0;
  for (const char* p = FindEscapable(text, end); p != end; p = FindEscapable(p + 1, end)) {
    extra += kEscape.extra[Byte(*p)];
  }
  return extra;
}

// Writes the escaped length bytes of text at out; returns the end of what
// was written.
char* WriteEncoded(char* out, const char* text, size_t length) {
  const char* end = text + length;
  for (;;) {
    const char* special = FindEscapable(text, end);
    std::memcpy(out, text, static_cast<size_t>(special - text));
    out += special - text;
    if (special == end) return out;
    const size_t referenceLength = size_t{kEscape.extra[Byte(*special)]} + 1;
    std::memcpy(out, EscapeOf(*special), referenceLength);
    out += referenceLength;
    text = special + 1;
  }
}

char* WriteBytes(char* out, const char* text, size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

// A name from the tree's inline buffer, which holds 65 bytes: short names
// (nearly all) are copied as one block of sixteen, whose surplus the next
// write covers. The output keeps room for that surplus past its end.
constexpr size_t kNameBlock = 16;

// The length of a name in an inline buffer of 65 bytes.
size_t NameLength(const char* name) {
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
  const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  if (zeros != 0) return static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros)));
#endif
  return std::strlen(name);
}

char* WriteName(char* out, const char* name) {
  const size_t length = NameLength(name);
  std::memcpy(out, name, length <= kNameBlock ? kNameBlock : length);
  return out + length;
}

const char* ValueOrEmpty(const XmlAttr& attr) {
  return attr.GetValue() != nullptr ? attr.GetValue() : "";
}

// name="value"
size_t AttrLength(const XmlAttr& attr) {
  return std::strlen(attr.GetName()) + std::strlen(ValueOrEmpty(attr)) + 3;
}

char* WriteAttr(char* out, const XmlAttr& attr) {
  out = WriteName(out, attr.GetName());
  *out++ = '=';
  *out++ = '"';
  const char* value = ValueOrEmpty(attr);
  out = WriteBytes(out, value, std::strlen(value));
  *out++ = '"';
  return out;
}

// Visits the subtree under root in document order: enter(node) before the
// children of node, leave(node) after them. The root's siblings are not
// visited.
template <typename Enter, typename Leave>
void WalkSubtree(const XmlNode& root, std::vector<const XmlNode*>& open, Enter enter, Leave leave) {
  open.clear();  // ancestors of node below root
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
  const size_t length = std::strlen(text);
  out.resize(length + EscapeExtra(text, length));
  WriteEncoded(&out[0], text, length);
  return out;
}

std::string XmlAttr::ToString() const {
  std::string out;
  out.resize(AttrLength(*this) + kNameBlock);
  out.resize(static_cast<size_t>(WriteAttr(&out[0], *this) - out.data()));
  return out;
}

std::string XmlNode::ToString() const {
  // The measuring pass notes, in the order the writing pass needs them, the
  // length of every attribute value and text, so that the writing pass need
  // not measure them again; a text's length is doubled and one is added
  // when it needs escaping, so that one that does not (nearly all) is
  // copied in one piece.
  std::vector<const XmlNode*> open;
  std::vector<size_t> lengths;
  size_t size = 0;
  WalkSubtree(
      *this, open,
      [&size, &lengths](const XmlNode& node) {
        size += NameLength(node.GetName()) + 2;  // "<" name ">"
        for (const XmlAttr* attr = node.GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
          const size_t valueLength = std::strlen(ValueOrEmpty(*attr));
          lengths.push_back(valueLength);
          size += NameLength(attr->GetName()) + valueLength + 4;  // ' ' name '="' value '"'
        }
        if (node.GetText() != nullptr) {
          const size_t length = std::strlen(node.GetText());
          const size_t extra = EscapeExtra(node.GetText(), length);
          lengths.push_back(length * 2 + (extra != 0 ? 1 : 0));
          size += length + extra;
        }
      },
      [&size](const XmlNode& node) { size += NameLength(node.GetName()) + 3; });  // "</" name ">"

  std::string out;
  out.resize(size + kNameBlock);
  char* end = &out[0];
  const size_t* length = lengths.data();
  WalkSubtree(
      *this, open,
      [&end, &length](const XmlNode& node) {
        char* out = end;
        *out++ = '<';
        out = WriteName(out, node.GetName());
        for (const XmlAttr* attr = node.GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
          *out++ = ' ';
          out = WriteName(out, attr->GetName());
          *out++ = '=';
          *out++ = '"';
          out = WriteBytes(out, ValueOrEmpty(*attr), *length++);
          *out++ = '"';
        }
        *out++ = '>';
        if (node.GetText() != nullptr) {
          const size_t noted = *length++;
          out = (noted & 1) != 0 ? WriteEncoded(out, node.GetText(), noted / 2)
                                 : WriteBytes(out, node.GetText(), noted / 2);
        }
        end = out;
      },
      [&end](const XmlNode& node) {
        char* out = end;
        *out++ = '<';
        *out++ = '/';
        out = WriteName(out, node.GetName());
        *out++ = '>';
        end = out;
      });
  out.resize(size);
  return out;
}

}  // namespace voicecontrol
