// The fast way through a parse: one pass over the text, building the tree as
// it goes. It accepts exactly what the token-by-token way accepts and builds
// the same tree, but it leaves every doubtful case to that way: Build returns
// null as soon as the text stops looking like a well-formed document within
// the parser's limits, and XmlParser::Parse starts over with the scanner.
//
// What makes it fast: names, values and texts are copied once, from the text
// into the tree; line feeds are counted while the bytes go by anyway; and the
// character data of an element, which nearly always comes in one run, is
// trimmed and decoded straight from the text instead of being gathered first.

#include "xml/xml_fast_parser.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <voicecontrol/xml/xml.h>
#include "xml/xml_arena.h"

namespace voicecontrol {

namespace {

constexpr char kCDataOpener[] = "<![CDATA[";
constexpr size_t kCDataOpenerLength = 9;

// What a byte means to the scanning loops, looked up once per byte.
enum ByteClass : unsigned char {
  kOther = 0,
  kNameChar = 1,  // ASCII letters, digits, '_' and '-'
  kColon = 2,     // also a name character, allowed once in a name
  kBlank = 3,     // space, tab, carriage return
  kLineFeed = 4,
};

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

struct ByteTables {
  ByteClass byteClass[256] = {};
  // Bytes that end or interrupt a run of character data: NUL, '<', '&', LF.
  bool stopsText[256] = {};
  // Bytes a quoted string must look at: NUL, both quotes, '&', LF.
  bool stopsString[256] = {};

  constexpr ByteTables() {
    for (int c = 0; c < 256; ++c) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-') {
        byteClass[c] = kNameChar;
      }
    }
    byteClass[Byte(':')] = kColon;
    byteClass[Byte(' ')] = kBlank;
    byteClass[Byte('\t')] = kBlank;
    byteClass[Byte('\r')] = kBlank;
    byteClass[Byte('\n')] = kLineFeed;
    stopsText[0] = stopsText[Byte('<')] = stopsText[Byte('&')] = stopsText[Byte('\n')] = true;
    stopsString[0] = stopsString[Byte('"')] = stopsString[Byte('\'')] = stopsString[Byte('&')] =
        true;
    stopsString[Byte('\n')] = true;
  }
};
constexpr ByteTables kTables;

ByteClass ClassOf(const char* p) { return kTables.byteClass[static_cast<unsigned char>(*p)]; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The bytes the parser trims from both ends of an element's text.
bool IsTrimmable(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// Most names, values and texts are a few bytes long: a loop is cheaper than
// a call then.
char* CopyPlain(char* out, const char* begin, const char* end) {
  const size_t length = static_cast<size_t>(end - begin);
  if (length > 32) {
    std::memcpy(out, begin, length);
    return out + length;
  }
  while (begin < end) *out++ = *begin++;
  return out;
}

size_t CountLineFeeds(const char* begin, const char* end) {
  size_t count = 0;
  for (const char* p = begin; p < end; ++p) count += *p == '\n';
  return count;
}

// Copies [in, end) to out, replacing the five predefined entity references
// as XmlDecode does (a reference must lie wholly inside the range); returns
// the end of what was written. Writes no terminator.
char* CopyDecoded(char* out, const char* in, const char* end) {
  for (;;) {
    const char* amp = static_cast<const char*>(std::memchr(in, '&', static_cast<size_t>(end - in)));
    if (amp == nullptr) {
      std::memcpy(out, in, static_cast<size_t>(end - in));
      return out + (end - in);
    }
    std::memcpy(out, in, static_cast<size_t>(amp - in));
    out += amp - in;
    in = amp + 1;
    const size_t left = static_cast<size_t>(end - in);
    char replacement = '&';
    size_t length = 0;
    if (left >= 4 && std::memcmp(in, "amp;", 4) == 0) {
      replacement = '&';
      length = 4;
    } else if (left >= 3 && std::memcmp(in, "lt;", 3) == 0) {
      replacement = '<';
      length = 3;
    } else if (left >= 3 && std::memcmp(in, "gt;", 3) == 0) {
      replacement = '>';
      length = 3;
    } else if (left >= 5 && std::memcmp(in, "apos;", 5) == 0) {
      replacement = '\'';
      length = 5;
    } else if (left >= 5 && std::memcmp(in, "quot;", 5) == 0) {
      replacement = '"';
      length = 5;
    }
    *out++ = replacement;
    in += length;
  }
}

}  // namespace

class XmlParsePaths::Builder {
 public:
  explicit Builder(const char* text) : p_(text) {}

  // The root (owning the arena that holds the tree), or null when the text
  // is left to the token-by-token way.
  XmlNode* Build(XmlRootEnd* end);

 private:
  // An element whose content is being read.
  struct Open {
    XmlNode* node;
    XmlNode* lastChild;
    size_t nameLength;
    // The element's only run of character data so far (raw, as written),
    // or null.
    const char* run;
    const char* runEnd;
    bool runHasReference;
    // Set from the second run on: the decoded runs are then gathered at
    // gathered_[gatherStart...], as the token-by-token way does.
    bool gathering;
    size_t gatherStart;
  };
  enum class TagEnd { kDeclined, kEmpty, kOpen };

  int Line() const {
    return lineFeeds_ >= size_t{INT_MAX} - 1 ? INT_MAX : 1 + static_cast<int>(lineFeeds_);
  }
  void SkipBlanks();
  bool SkipPast(const char* terminator, size_t length);
  size_t ScanName(int* colons);
  TagEnd ReadStartTag(XmlNode* node, size_t* nameLength);
  bool ReadAttr(XmlNode* node, XmlAttr*& lastAttr);
  bool ReadEndTag(const Open& open);
  bool ReadRun(Open& open);
  bool ReadCData(Open& open);
  bool Gather(Open& open, const char* begin, const char* end);
  void FinishText(Open& open);
  char* CopyToArena(const char* begin, const char* end, bool hasReference);
  static void Link(Open& open, XmlNode* child);

  // What `new (arena) T` does, without the call into the tree's module.
  template <typename T>
  T* NewInArena() {
    T* object = ::new (xml_memory::AllocateInArena(*arena_, sizeof(T), false)) T;
    object->inArena = true;
    return object;
  }

  const char* p_;
  size_t lineFeeds_ = 0;  // before p_
  XmlArena* arena_ = nullptr;
  std::string gathered_;
  Open open_[kXmlMaxDepth];
};

void XmlParsePaths::Builder::SkipBlanks() {
  // Locals, not the members: stores through p_ could alias the text as far
  // as the compiler knows, and would be redone on every byte.
  const char* p = p_;
  size_t lineFeeds = lineFeeds_;
  for (;;) {
    const ByteClass byteClass = ClassOf(p);
    if (byteClass < kBlank) break;
    lineFeeds += byteClass == kLineFeed;
    ++p;
  }
  p_ = p;
  lineFeeds_ = lineFeeds;
}

// From p_ (the opener itself), moves past the next terminator; false when
// there is none.
bool XmlParsePaths::Builder::SkipPast(const char* terminator, size_t length) {
  const char* found = std::strstr(p_, terminator);
  if (found == nullptr) return false;
  lineFeeds_ += CountLineFeeds(p_, found);
  p_ = found + length;
  return true;
}

// The length of the name at p_ (which the caller has seen to start with a
// letter); p_ moves past it.
size_t XmlParsePaths::Builder::ScanName(int* colons) {
  const char* start = p_;
  const char* p = start;
  int count = 0;
  for (;;) {
    const ByteClass byteClass = ClassOf(p);
    if (byteClass == kNameChar) {
      ++p;
    } else if (byteClass == kColon) {
      ++count;
      ++p;
    } else {
      break;
    }
  }
  p_ = p;
  *colons = count;
  return static_cast<size_t>(p - start);
}

char* XmlParsePaths::Builder::CopyToArena(const char* begin, const char* end, bool hasReference) {
  char* copy = static_cast<char*>(arena_->Allocate(static_cast<size_t>(end - begin) + 1, 1));
  char* copyEnd;
  if (hasReference) {
    copyEnd = CopyDecoded(copy, begin, end);
  } else {
    copyEnd = CopyPlain(copy, begin, end);
  }
  *copyEnd = '\0';
  return copy;
}

void XmlParsePaths::Builder::Link(Open& open, XmlNode* child) {
  child->parent = open.node;
  if (open.lastChild == nullptr) {
    open.node->firstChild = child;
  } else {
    open.lastChild->nextSibling = child;
  }
  open.lastChild = child;
}

// p_ is at the "<" of a start tag.
XmlParsePaths::Builder::TagEnd XmlParsePaths::Builder::ReadStartTag(XmlNode* node,
                                                                    size_t* nameLength) {
  node->line = Line();
  ++p_;
  SkipBlanks();
  if (!IsAsciiLetter(*p_)) return TagEnd::kDeclined;
  const char* name = p_;
  int colons;
  const size_t length = ScanName(&colons);
  if (length > size_t{kXmlMaxNameLength} || colons > 1) return TagEnd::kDeclined;
  *CopyPlain(node->name, name, name + length) = '\0';
  *nameLength = length;
  XmlAttr* lastAttr = nullptr;
  for (;;) {
    SkipBlanks();
    const char c = *p_;
    if (c == '>') {
      ++p_;
      return TagEnd::kOpen;
    }
    if (c == '/') {
      if (p_[1] != '>') return TagEnd::kDeclined;
      p_ += 2;
      return TagEnd::kEmpty;
    }
    if (!ReadAttr(node, lastAttr)) return TagEnd::kDeclined;
  }
}

// name = "value" (or 'value'), from p_ after the blanks before it.
bool XmlParsePaths::Builder::ReadAttr(XmlNode* node, XmlAttr*& lastAttr) {
  if (!IsAsciiLetter(*p_)) return false;
  const char* name = p_;
  int colons;
  const size_t length = ScanName(&colons);
  if (length > size_t{kXmlMaxNameLength} || colons > 1) return false;
  XmlAttr* attr = NewInArena<XmlAttr>();
  *CopyPlain(attr->name, name, name + length) = '\0';
  attr->line = Line();
  if (lastAttr == nullptr) {
    node->firstAttr = attr;
  } else {
    lastAttr->next = attr;
  }
  lastAttr = attr;

  SkipBlanks();
  if (*p_ != '=') return false;
  ++p_;
  SkipBlanks();
  const char quote = *p_;
  if (quote != '"' && quote != '\'') return false;
  const char* value = p_ + 1;
  const char* p = value;
  bool hasReference = false;
  for (;;) {
    while (!kTables.stopsString[static_cast<unsigned char>(*p)]) ++p;
    const char c = *p;
    if (c == quote) break;
    if (c == '\0') return false;
    if (c == '\n') ++lineFeeds_;
    if (c == '&') hasReference = true;
    ++p;
  }
  if (p - value > kXmlMaxTokenLength) return false;
  attr->value = CopyToArena(value, p, hasReference);
  attr->valueInArena = true;
  p_ = p + 1;
  return true;
}

// p_ is at the "</"; the name must be the open element's.
bool XmlParsePaths::Builder::ReadEndTag(const Open& open) {
  p_ += 2;
  SkipBlanks();
  // The element's own name, and no name character after it. (A plain loop:
  // names are short, and it stops at the text's terminator by itself.)
  const char* name = open.node->name;
  const size_t length = open.nameLength;
  for (size_t i = 0; i < length; ++i) {
    if (p_[i] != name[i]) return false;
  }
  p_ += length;
  const ByteClass after = ClassOf(p_);
  if (after == kNameChar || after == kColon) return false;
  SkipBlanks();
  if (*p_ != '>') return false;
  ++p_;
  return true;
}

// One run of character data, from p_ (not a blank) to the next "<" or the
// end of the text.
bool XmlParsePaths::Builder::ReadRun(Open& open) {
  const char* begin = p_;
  const char* p = begin;
  bool hasReference = false;
  for (;;) {
    while (!kTables.stopsText[static_cast<unsigned char>(*p)]) ++p;
    const char c = *p;
    if (c == '<' || c == '\0') break;
    if (c == '\n') ++lineFeeds_;
    if (c == '&') hasReference = true;
    ++p;
  }
  p_ = p;
  if (p_ - begin > kXmlMaxTextRun) return false;
  if (!open.gathering && open.run == nullptr) {
    open.run = begin;
    open.runEnd = p_;
    open.runHasReference = hasReference;
    return true;
  }
  if (!open.gathering) {
    open.gathering = true;
    open.gatherStart = gathered_.size();
    if (!Gather(open, open.run, open.runEnd)) return false;
  }
  return Gather(open, begin, p_);
}

// Appends the decoded run to the element's gathered text, within the limit
// on an element's text.
bool XmlParsePaths::Builder::Gather(Open& open, const char* begin, const char* end) {
  const size_t before = gathered_.size();
  gathered_.resize(before + static_cast<size_t>(end - begin));
  char* written = CopyDecoded(&gathered_[before], begin, end);
  gathered_.resize(static_cast<size_t>(written - gathered_.data()));
  return gathered_.size() - open.gatherStart <= size_t{kXmlMaxElementText};
}

// p_ is at "<![CDATA[": the section becomes a child named CDATA.
bool XmlParsePaths::Builder::ReadCData(Open& open) {
  const char* content = p_ + kCDataOpenerLength;
  const char* end = std::strstr(content, "]]>");
  if (end == nullptr || end - content > kXmlMaxCDataLength) return false;
  XmlNode* child = NewInArena<XmlNode>();
  Link(open, child);
  std::memcpy(child->name, "CDATA", 6);
  child->text = CopyToArena(content, end, false);
  child->textInArena = true;
  lineFeeds_ += CountLineFeeds(p_, end);
  p_ = end + 3;
  return true;
}

// The element's text: its runs of character data joined, trimmed; "" when
// there were none.
void XmlParsePaths::Builder::FinishText(Open& open) {
  const char* begin;
  const char* end;
  bool hasReference = false;
  if (open.gathering) {
    begin = gathered_.data() + open.gatherStart;
    end = gathered_.data() + gathered_.size();
  } else if (open.run != nullptr) {
    // Trimming the raw run and decoding it gives what decoding and trimming
    // gives: references neither hold nor produce trimmable bytes.
    begin = open.run;
    end = open.runEnd;
    hasReference = open.runHasReference;
  } else {
    begin = end = "";
  }
  while (end > begin && IsTrimmable(end[-1])) --end;
  while (begin < end && IsTrimmable(*begin)) ++begin;
  open.node->text = CopyToArena(begin, end, hasReference);
  open.node->textInArena = true;
  if (open.gathering) gathered_.resize(open.gatherStart);
}

XmlNode* XmlParsePaths::Builder::Build(XmlRootEnd* rootEnd) {
  // Before the root: blanks, comments and instructions only.
  for (;;) {
    SkipBlanks();
    if (p_[0] != '<') return nullptr;
    if (p_[1] == '!' && p_[2] == '-' && p_[3] == '-') {
      if (!SkipPast("-->", 3)) return nullptr;
    } else if (p_[1] == '?') {
      if (!SkipPast("?>", 2)) return nullptr;
    } else {
      break;
    }
  }

  std::unique_ptr<XmlArena> arena(new XmlArena);
  std::unique_ptr<XmlNode> root(new (*arena, true) XmlNode);
  root->inArena = true;
  arena_ = arena.release();

  Open* top = open_;
  *top = Open{root.get(), nullptr, 0, nullptr, nullptr, false, false, 0};
  TagEnd tagEnd = ReadStartTag(root.get(), &top->nameLength);
  if (tagEnd == TagEnd::kDeclined) return nullptr;
  if (tagEnd == TagEnd::kEmpty) {
    rootEnd->after = p_;
    rootEnd->line = Line();
    return root.release();
  }

  for (;;) {
    SkipBlanks();
    if (*p_ != '<') {
      if (*p_ == '\0' || !ReadRun(*top)) return nullptr;
      continue;
    }
    const char next = p_[1];
    if (next == '/') {
      if (!ReadEndTag(*top)) return nullptr;
      FinishText(*top);
      if (top == open_) break;
      --top;
      continue;
    }
    if (next == '!') {
      if (p_[2] == '-' && p_[3] == '-') {
        if (!SkipPast("-->", 3)) return nullptr;
        continue;
      }
      if (std::strncmp(p_, kCDataOpener, kCDataOpenerLength) == 0) {
        if (!ReadCData(*top)) return nullptr;
        continue;
      }
      return nullptr;  // a declaration: the token-by-token way rejects it
    }
    if (next == '?') {
      if (!SkipPast("?>", 2)) return nullptr;
      continue;
    }
    if (top + 1 == open_ + kXmlMaxDepth) return nullptr;  // nested too deep
    XmlNode* child = NewInArena<XmlNode>();
    Link(*top, child);
    size_t nameLength;
    tagEnd = ReadStartTag(child, &nameLength);
    if (tagEnd == TagEnd::kDeclined) return nullptr;
    if (tagEnd == TagEnd::kOpen) {
      *++top = Open{child, nullptr, nameLength, nullptr, nullptr, false, false, 0};
    }
  }
  rootEnd->after = p_;
  rootEnd->line = Line();
  return root.release();
}

XmlNode* XmlParsePaths::Fast(const char* text, XmlRootEnd* end) {
  if (text == nullptr) return nullptr;
  Builder builder(text);
  return builder.Build(end);
}

XmlNode* XmlParsePaths::TokenByToken(const char* text) { return XmlParser::ParseWithScanner(text); }

}  // namespace voicecontrol
