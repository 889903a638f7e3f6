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
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <voicecontrol/xml/xml.h>
#include "xml/xml_arena.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace voicecontrol {

namespace {

constexpr char kCDataOpener[] = "<![CDATA[";
constexpr size_t kCDataOpenerLength = 9;

// The scanning helpers are called once or more per element; they must be
// inlined into the loops that call them whatever the compiler's heuristics
// say.
#if defined(__GNUC__) || defined(__clang__)
#define VC_XML_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define VC_XML_ALWAYS_INLINE inline
#endif

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// What a byte means to the scanning loops, looked up once per byte.
struct ByteTables {
  // Names: 1 for ASCII letters, digits, '_' and '-', 2 for ':' (allowed once
  // in a name), 0 for everything else.
  unsigned char name[256] = {};
  // Blanks: 1 for space, tab and CR, 257 for LF, 0 for everything else. The
  // sum over a run of blanks is its length plus 256 times its line feeds, so
  // skipping blanks counts lines with one addition per byte.
  unsigned short blank[256] = {};
  // Bytes that end or interrupt a run of character data: NUL, '<', '&', LF.
  bool stopsText[256] = {};
  // Bytes a quoted string must look at: NUL, both quotes, '&', LF.
  bool stopsString[256] = {};

  constexpr ByteTables() {
    for (int c = 0; c < 256; ++c) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-') {
        name[c] = 1;
      }
    }
    name[Byte(':')] = 2;
    blank[Byte(' ')] = blank[Byte('\t')] = blank[Byte('\r')] = 1;
    blank[Byte('\n')] = 257;
    stopsText[0] = stopsText[Byte('<')] = stopsText[Byte('&')] = stopsText[Byte('\n')] = true;
    stopsString[0] = stopsString[Byte('"')] = stopsString[Byte('\'')] = stopsString[Byte('&')] =
        true;
    stopsString[Byte('\n')] = true;
  }
};
constexpr ByteTables kTables;

bool IsNameByte(char c) { return kTables.name[Byte(c)] != 0; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The bytes the parser trims from both ends of an element's text.
bool IsTrimmable(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// The loops below test four bytes per round, as pugixml's do. Each byte is
// still tested before the next one is read, and NUL stops every one of them,
// so none reads past the text's terminator.

// The end of the blanks at p; adds their line feeds to *lineFeeds.
VC_XML_ALWAYS_INLINE const char* SkipBlanksAt(const char* p, size_t* lineFeeds) {
  const char* start = p;
  size_t sum = 0;
  for (;;) {
    unsigned weight;
    if ((weight = kTables.blank[Byte(p[0])]) == 0) break;
    sum += weight;
    if ((weight = kTables.blank[Byte(p[1])]) == 0) {
      p += 1;
      break;
    }
    sum += weight;
    if ((weight = kTables.blank[Byte(p[2])]) == 0) {
      p += 2;
      break;
    }
    sum += weight;
    if ((weight = kTables.blank[Byte(p[3])]) == 0) {
      p += 3;
      break;
    }
    sum += weight;
    p += 4;
  }
  *lineFeeds += (sum - static_cast<size_t>(p - start)) >> 8;
  return p;
}

// The end of the name characters at p; *sum gets the sum of their table
// values, which is the name's length plus the number of its colons.
VC_XML_ALWAYS_INLINE const char* ScanNameAt(const char* p, size_t* sum) {
  size_t seen = 0;
  for (;;) {
    unsigned c;
    if ((c = kTables.name[Byte(p[0])]) == 0) break;
    seen += c;
    if ((c = kTables.name[Byte(p[1])]) == 0) {
      p += 1;
      break;
    }
    seen += c;
    if ((c = kTables.name[Byte(p[2])]) == 0) {
      p += 2;
      break;
    }
    seen += c;
    if ((c = kTables.name[Byte(p[3])]) == 0) {
      p += 3;
      break;
    }
    seen += c;
    p += 4;
  }
  *sum = seen;
  return p;
}

// The first byte at or after p that is in the table (NUL always is).
VC_XML_ALWAYS_INLINE const char* FindInTable(const char* p, const bool (&stops)[256]) {
  for (;;) {
    if (stops[Byte(p[0])]) return p;
    if (stops[Byte(p[1])]) return p + 1;
    if (stops[Byte(p[2])]) return p + 2;
    if (stops[Byte(p[3])]) return p + 3;
    p += 4;
  }
}

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define VC_XML_SSE2 1
// The first byte in [p, p + 16) equal to a, b or c, or null. The caller
// makes sure the 16 bytes are all inside the text.
VC_XML_ALWAYS_INLINE const char* FindAnyOf3In16(const char* p, __m128i a, __m128i b, __m128i c) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hits = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, a), _mm_cmpeq_epi8(bytes, b)), _mm_cmpeq_epi8(bytes, c));
  const int mask = _mm_movemask_epi8(hits);
  return mask == 0 ? nullptr : p + __builtin_ctz(static_cast<unsigned>(mask));
}
#endif

// The first '<', '&', LF or NUL at or after p; end is the text's terminator.
// Runs of character data can be long (up to 2047 bytes): they go sixteen
// bytes at a time where the processor allows.
VC_XML_ALWAYS_INLINE const char* FindTextStop(const char* p, const char* end) {
#if defined(VC_XML_SSE2)
  while (end - p >= 16) {
    if (const char* stop = FindAnyOf3In16(p, _mm_set1_epi8('<'), _mm_set1_epi8('&'),
                                          _mm_set1_epi8('\n'))) {
      return stop;
    }
    p += 16;
  }
#else
  (void)end;
#endif
  return FindInTable(p, kTables.stopsText);
}

// The first quote, '&', LF or NUL at or after p, for the string that quote
// opened (the other quote is found only by the table, and skipped by the
// caller).
VC_XML_ALWAYS_INLINE const char* FindStringStop(const char* p, const char* end, char quote) {
#if defined(VC_XML_SSE2)
  const __m128i quotes = _mm_set1_epi8(quote);
  while (end - p >= 16) {
    if (const char* stop =
            FindAnyOf3In16(p, quotes, _mm_set1_epi8('&'), _mm_set1_epi8('\n'))) {
      return stop;
    }
    p += 16;
  }
#else
  (void)end;
  (void)quote;
#endif
  return FindInTable(p, kTables.stopsString);
}

// Whether the n bytes at a and b are equal, for n <= 16, reading 16 bytes
// from each (the caller makes sure both have that many).
VC_XML_ALWAYS_INLINE bool SameShort(const char* a, const char* b, size_t n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, a, 8);
  std::memcpy(&a1, a + 8, 8);
  std::memcpy(&b0, b, 8);
  std::memcpy(&b1, b + 8, 8);
  // Little-endian: the first bytes in memory are the low bytes of a word.
  const uint64_t mask0 = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
  const uint64_t mask1 = n >= 16 ? ~uint64_t{0} : n <= 8 ? 0 : (uint64_t{1} << (8 * (n - 8))) - 1;
  return ((a0 ^ b0) & mask0) == 0 && ((a1 ^ b1) & mask1) == 0;
#else
  return std::memcmp(a, b, n) == 0;
#endif
}

// Copies of a few dozen bytes go in blocks of sixteen. A plain memcpy whose
// length the compiler can bound (a name is at most 64 bytes, a value 255)
// may be expanded into "rep movs", which takes tens of cycles to start on
// current x86 processors; sixteen-byte moves do not.
VC_XML_ALWAYS_INLINE void Copy16(char* to, const char* from) { std::memcpy(to, from, 16); }

// Copies length bytes, length >= 16: whole blocks, the last one
// overlapping the one before it, so nothing outside either range is read
// or written.
VC_XML_ALWAYS_INLINE void CopyBlocks(char* to, const char* from, size_t length) {
  for (size_t done = 0; done + 16 < length; done += 16) Copy16(to + done, from + done);
  Copy16(to + length - 16, from + length - 16);
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
  explicit Builder(const char* text) : text_(text) {}

  // The root (owning the arena that holds the tree), or null when the text
  // is left to the token-by-token way.
  XmlNode* Build(XmlRootEnd* end);

 private:
  // Where the reading stands. Build keeps it in a local variable and hands
  // it to the steps below, which are all inlined into Build: so it stays in
  // registers, where a member would be reloaded after every byte written to
  // the tree (a char store may alias anything, as far as the compiler knows).
  struct Cursor {
    const char* p;
    const char* end;   // the text's terminator
    size_t lineFeeds;  // before p

    int Line() const {
      return lineFeeds >= size_t{INT_MAX} - 1 ? INT_MAX : 1 + static_cast<int>(lineFeeds);
    }
    VC_XML_ALWAYS_INLINE void SkipBlanks() {
      // Where blanks may stand there are mostly none, or one space between
      // attributes: both are told by plain comparisons (every blank is at
      // most a space in ASCII), before the table's loop.
      if (Byte(p[0]) > ' ') return;
      if (p[0] == ' ' && Byte(p[1]) > ' ') {
        ++p;
        return;
      }
      p = SkipBlanksAt(p, &lineFeeds);
    }
  };
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

  static bool SkipPast(Cursor& at, const char* terminator, size_t length);
  static size_t ScanName(Cursor& at, bool* manyColons);
  static void CopyName(const Cursor& at, char* name, const char* begin, size_t length);
  TagEnd ReadStartTag(Cursor& at, XmlNode* node, size_t* nameLength);
  bool ReadAttr(Cursor& at, XmlNode* node, XmlAttr*& lastAttr);
  static bool ReadEndTag(Cursor& at, const Open& open);
  bool ReadRun(Cursor& at, Open& open);
  bool ReadCData(Cursor& at, Open& open);
  bool Gather(Open& open, const char* begin, const char* end);
  void FinishText(const Cursor& at, Open& open);
  char* EmptyText() {
    if (emptyText_ == nullptr) emptyText_ = arena_->CopyText("", 0);
    return emptyText_;
  }
  // A copy of [begin, end), a range of the text, decoded when it holds a
  // reference.
  char* CopyToArena(const Cursor& at, const char* begin, const char* end, bool hasReference);
  static void Link(Open& open, XmlNode* child);

  // What `new (arena) T` does, without the call into the tree's module and
  // without clearing the name, which the caller writes at once.
  template <typename T>
  T* NewInArena() {
    T* object =
        ::new (xml_memory::AllocateInArena(*arena_, sizeof(T), false)) T(typename T::NameFollows{});
    object->inArena = true;
    return object;
  }

  const char* const text_;
  XmlArena* arena_ = nullptr;
  // One "" in the arena for every element whose text is empty: nothing ever
  // writes through a text, and most elements that hold children have none.
  char* emptyText_ = nullptr;
  std::string gathered_;
  Open open_[kXmlMaxDepth];
};

// From the opener itself, moves past the next terminator; false when there
// is none.
VC_XML_ALWAYS_INLINE bool XmlParsePaths::Builder::SkipPast(Cursor& at, const char* terminator,
                                                           size_t length) {
  const char* found = std::strstr(at.p, terminator);
  if (found == nullptr) return false;
  at.lineFeeds += CountLineFeeds(at.p, found);
  at.p = found + length;
  return true;
}

// The length of the name at the cursor (which the caller has seen to start
// with a letter), and whether it holds more than one colon; the cursor
// moves past it.
VC_XML_ALWAYS_INLINE size_t XmlParsePaths::Builder::ScanName(Cursor& at, bool* manyColons) {
  const char* start = at.p;
  size_t sum;
  at.p = ScanNameAt(start, &sum);
  const size_t length = static_cast<size_t>(at.p - start);
  *manyColons = sum - length > 1;
  return length;
}

// A name of at most 64 characters into the tree's inline buffer (which has
// room for 65), terminated.
VC_XML_ALWAYS_INLINE void XmlParsePaths::Builder::CopyName(const Cursor& at, char* name,
                                                           const char* begin, size_t length) {
  // Most names are short: one block of sixteen, whose surplus the
  // terminator then cuts off, is the cheapest copy.
  if (length >= 16) {
    CopyBlocks(name, begin, length);
  } else if (at.end - begin >= 16) {
    Copy16(name, begin);
  } else {
    // Near the end of the text. The buffer was not cleared (see
    // NewInArena): its first sixteen bytes, which the output reads as one
    // block, are always written.
    std::memset(name, 0, 16);
    for (size_t i = 0; i < length; ++i) name[i] = begin[i];
  }
  name[length] = '\0';
}

VC_XML_ALWAYS_INLINE char* XmlParsePaths::Builder::CopyToArena(const Cursor& at, const char* begin,
                                                               const char* end,
                                                               bool hasReference) {
  const size_t length = static_cast<size_t>(end - begin);
  if (length == 0) return EmptyText();
  if (hasReference) {
    char* copy = static_cast<char*>(arena_->Allocate(length + 1, 1));
    *CopyDecoded(copy, begin, end) = '\0';
    return copy;
  }
  // A short copy takes one block of sixteen, as CopyName does; the room
  // is taken for it even when the text is shorter.
  if (length < 16 && at.end - begin >= 16) {
    char* copy = static_cast<char*>(arena_->Allocate(16, 1));
    Copy16(copy, begin);
    copy[length] = '\0';
    return copy;
  }
  char* copy = static_cast<char*>(arena_->Allocate(length + 1, 1));
  if (length >= 16) {
    CopyBlocks(copy, begin, length);
  } else {
    for (size_t i = 0; i < length; ++i) copy[i] = begin[i];
  }
  copy[length] = '\0';
  return copy;
}

VC_XML_ALWAYS_INLINE void XmlParsePaths::Builder::Link(Open& open, XmlNode* child) {
  child->parent = open.node;
  if (open.lastChild == nullptr) {
    open.node->firstChild = child;
  } else {
    open.lastChild->nextSibling = child;
  }
  open.lastChild = child;
}

// The cursor is at the "<" of a start tag.
VC_XML_ALWAYS_INLINE XmlParsePaths::Builder::TagEnd XmlParsePaths::Builder::ReadStartTag(
    Cursor& at, XmlNode* node, size_t* nameLength) {
  node->line = at.Line();
  ++at.p;
  if (!IsAsciiLetter(*at.p)) {
    at.SkipBlanks();
    if (!IsAsciiLetter(*at.p)) return TagEnd::kDeclined;
  }
  const char* name = at.p;
  bool manyColons;
  const size_t length = ScanName(at, &manyColons);
  if (length > size_t{kXmlMaxNameLength} || manyColons) return TagEnd::kDeclined;
  CopyName(at, node->name, name, length);
  *nameLength = length;
  XmlAttr* lastAttr = nullptr;
  for (;;) {
    at.SkipBlanks();
    const char c = *at.p;
    if (c == '>') {
      ++at.p;
      return TagEnd::kOpen;
    }
    if (c == '/') {
      if (at.p[1] != '>') return TagEnd::kDeclined;
      at.p += 2;
      return TagEnd::kEmpty;
    }
    if (!ReadAttr(at, node, lastAttr)) return TagEnd::kDeclined;
  }
}

// name = "value" (or 'value'), from the cursor after the blanks before it.
VC_XML_ALWAYS_INLINE bool XmlParsePaths::Builder::ReadAttr(Cursor& at, XmlNode* node,
                                                           XmlAttr*& lastAttr) {
  if (!IsAsciiLetter(*at.p)) return false;
  const char* name = at.p;
  bool manyColons;
  const size_t length = ScanName(at, &manyColons);
  if (length > size_t{kXmlMaxNameLength} || manyColons) return false;
  XmlAttr* attr = NewInArena<XmlAttr>();
  CopyName(at, attr->name, name, length);
  attr->line = at.Line();
  if (lastAttr == nullptr) {
    node->firstAttr = attr;
  } else {
    lastAttr->next = attr;
  }
  lastAttr = attr;

  if (*at.p != '=') {
    at.SkipBlanks();
    if (*at.p != '=') return false;
  }
  ++at.p;
  if (*at.p != '"' && *at.p != '\'') at.SkipBlanks();
  const char quote = *at.p;
  if (quote != '"' && quote != '\'') return false;
  const char* value = at.p + 1;
  const char* p = value;
  bool hasReference = false;
  for (;;) {
    p = FindStringStop(p, at.end, quote);
    const char c = *p;
    if (c == quote) break;
    if (c == '\0') return false;
    if (c == '\n') ++at.lineFeeds;
    if (c == '&') hasReference = true;
    ++p;
  }
  if (p - value > kXmlMaxTokenLength) return false;
  attr->value = CopyToArena(at, value, p, hasReference);
  attr->valueInArena = true;
  at.p = p + 1;
  return true;
}

// The cursor is at the "</"; the name must be the open element's.
VC_XML_ALWAYS_INLINE bool XmlParsePaths::Builder::ReadEndTag(Cursor& at, const Open& open) {
  at.p += 2;
  at.SkipBlanks();
  // The element's own name, and no name character after it. The inline
  // name has room for 65 bytes, so a short one can be compared in blocks
  // of sixteen.
  const char* name = open.node->name;
  const size_t length = open.nameLength;
  const size_t left = static_cast<size_t>(at.end - at.p);
  if (length <= 16 && left >= 16) {
    if (!SameShort(at.p, name, length)) return false;
  } else if (length <= 32 && left >= 32) {
    if (!SameShort(at.p, name, 16) || !SameShort(at.p + 16, name + 16, length - 16)) return false;
  } else if (length > left || std::memcmp(at.p, name, length) != 0) {
    return false;
  }
  at.p += length;
  if (IsNameByte(*at.p)) return false;
  if (*at.p != '>') {
    at.SkipBlanks();
    if (*at.p != '>') return false;
  }
  ++at.p;
  return true;
}

// One run of character data, from the cursor (not a blank) to the next "<"
// or the end of the text.
VC_XML_ALWAYS_INLINE bool XmlParsePaths::Builder::ReadRun(Cursor& at, Open& open) {
  const char* begin = at.p;
  const char* p = begin;
  bool hasReference = false;
  for (;;) {
    p = FindTextStop(p, at.end);
    const char c = *p;
    if (c == '<' || c == '\0') break;
    if (c == '\n') ++at.lineFeeds;
    if (c == '&') hasReference = true;
    ++p;
  }
  at.p = p;
  if (p - begin > kXmlMaxTextRun) return false;
  if (!open.gathering && open.run == nullptr) {
    open.run = begin;
    open.runEnd = p;
    open.runHasReference = hasReference;
    return true;
  }
  if (!open.gathering) {
    open.gathering = true;
    open.gatherStart = gathered_.size();
    if (!Gather(open, open.run, open.runEnd)) return false;
  }
  return Gather(open, begin, p);
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

// The cursor is at "<![CDATA[": the section becomes a child named CDATA.
VC_XML_ALWAYS_INLINE bool XmlParsePaths::Builder::ReadCData(Cursor& at, Open& open) {
  const char* content = at.p + kCDataOpenerLength;
  const char* end = std::strstr(content, "]]>");
  if (end == nullptr || end - content > kXmlMaxCDataLength) return false;
  XmlNode* child = NewInArena<XmlNode>();
  Link(open, child);
  static constexpr char kCDataName[16] = "CDATA";  // padded: see CopyName
  Copy16(child->name, kCDataName);
  child->text = CopyToArena(at, content, end, false);
  child->textInArena = true;
  at.lineFeeds += CountLineFeeds(at.p, end);
  at.p = end + 3;
  return true;
}

// The element's text: its runs of character data joined, trimmed; "" when
// there were none.
VC_XML_ALWAYS_INLINE void XmlParsePaths::Builder::FinishText(const Cursor& at, Open& open) {
  if (open.gathering) {
    const char* begin = gathered_.data() + open.gatherStart;
    const char* end = gathered_.data() + gathered_.size();
    while (end > begin && IsTrimmable(end[-1])) --end;
    while (begin < end && IsTrimmable(*begin)) ++begin;
    open.node->text = begin == end ? EmptyText()
                                   : arena_->CopyText(begin, static_cast<size_t>(end - begin));
    gathered_.resize(open.gatherStart);
  } else if (open.run != nullptr) {
    // Trimming the raw run and decoding it gives what decoding and trimming
    // gives: references neither hold nor produce trimmable bytes.
    const char* begin = open.run;
    const char* end = open.runEnd;
    while (end > begin && IsTrimmable(end[-1])) --end;
    while (begin < end && IsTrimmable(*begin)) ++begin;
    open.node->text = CopyToArena(at, begin, end, open.runHasReference);
  } else {
    open.node->text = EmptyText();
  }
  open.node->textInArena = true;
}

XmlNode* XmlParsePaths::Builder::Build(XmlRootEnd* rootEnd) {
  Cursor at{text_, text_ + std::strlen(text_), 0};
  // Before the root: blanks, comments and instructions only.
  for (;;) {
    at.SkipBlanks();
    if (at.p[0] != '<') return nullptr;
    if (at.p[1] == '!' && at.p[2] == '-' && at.p[3] == '-') {
      if (!SkipPast(at, "-->", 3)) return nullptr;
    } else if (at.p[1] == '?') {
      if (!SkipPast(at, "?>", 2)) return nullptr;
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
  TagEnd tagEnd = ReadStartTag(at, root.get(), &top->nameLength);
  if (tagEnd == TagEnd::kDeclined) return nullptr;
  if (tagEnd == TagEnd::kEmpty) {
    rootEnd->after = at.p;
    rootEnd->line = at.Line();
    return root.release();
  }

  for (;;) {
    at.SkipBlanks();
    if (*at.p != '<') {
      if (*at.p == '\0' || !ReadRun(at, *top)) return nullptr;
      continue;
    }
    const char next = at.p[1];
    if (next == '/') {
      if (!ReadEndTag(at, *top)) return nullptr;
      FinishText(at, *top);
      if (top == open_) break;
      --top;
      continue;
    }
    if (next == '!') {
      if (at.p[2] == '-' && at.p[3] == '-') {
        if (!SkipPast(at, "-->", 3)) return nullptr;
        continue;
      }
      if (std::strncmp(at.p, kCDataOpener, kCDataOpenerLength) == 0) {
        if (!ReadCData(at, *top)) return nullptr;
        continue;
      }
      return nullptr;  // a declaration: the token-by-token way rejects it
    }
    if (next == '?') {
      if (!SkipPast(at, "?>", 2)) return nullptr;
      continue;
    }
    if (top + 1 == open_ + kXmlMaxDepth) return nullptr;  // nested too deep
    XmlNode* child = NewInArena<XmlNode>();
    Link(*top, child);
    size_t nameLength;
    tagEnd = ReadStartTag(at, child, &nameLength);
    if (tagEnd == TagEnd::kDeclined) return nullptr;
    if (tagEnd == TagEnd::kOpen) {
      *++top = Open{child, nullptr, nameLength, nullptr, nullptr, false, false, 0};
    }
  }
  rootEnd->after = at.p;
  rootEnd->line = at.Line();
  return root.release();
}

XmlNode* XmlParsePaths::Fast(const char* text, XmlRootEnd* end) {
  if (text == nullptr) return nullptr;
  Builder builder(text);
  return builder.Build(end);
}


}  // namespace voicecontrol
