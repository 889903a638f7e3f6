#include "interface/plain_document.h"

#include <cstring>

#include "platform/utf8.h"

namespace voicecontrol {

namespace {

// Beyond these bounds the full parser decides: it has limits of its own
// (nesting depth, name length, 10 MB of text in one node) whose exact values
// this reader need not mirror. Answers are far smaller.
constexpr size_t kMaxSource = size_t{1} << 20;
constexpr size_t kMaxDepth = 128;
constexpr size_t kMaxNameLength = 256;

// Byte classes, one table lookup per byte in the loops that matter.
enum : unsigned char {
  kSpace = 1,      // S: the four white-space characters
  kNameStart = 2,  // ASCII letters and '_'; ':' is left to namespace-aware parsers
  kNameChar = 4,   // kNameStart, digits, '.', '-'
  kPlainText = 8,  // character data copied as it is: everything ASCII but
                   // controls, '<', '&', ']' and CR, which need a look
};

struct ByteClasses {
  unsigned char of[256] = {};
  constexpr ByteClasses() {
    for (int c = 0x20; c < 0x80; ++c) of[c] |= kPlainText;
    of[static_cast<unsigned char>('<')] &= ~kPlainText;
    of[static_cast<unsigned char>('&')] &= ~kPlainText;
    of[static_cast<unsigned char>(']')] &= ~kPlainText;
    of[static_cast<unsigned char>('\t')] |= kPlainText;
    of[static_cast<unsigned char>('\n')] |= kPlainText;
    for (char c : {' ', '\t', '\n', '\r'}) of[static_cast<unsigned char>(c)] |= kSpace;
    for (int c = 'a'; c <= 'z'; ++c) of[c] |= kNameStart | kNameChar;
    for (int c = 'A'; c <= 'Z'; ++c) of[c] |= kNameStart | kNameChar;
    of[static_cast<unsigned char>('_')] |= kNameStart | kNameChar;
    for (int c = '0'; c <= '9'; ++c) of[c] |= kNameChar;
    of[static_cast<unsigned char>('.')] |= kNameChar;
    of[static_cast<unsigned char>('-')] |= kNameChar;
  }
};
constexpr ByteClasses kClasses;

bool Is(char c, unsigned char kind) { return (kClasses.of[static_cast<unsigned char>(c)] & kind) != 0; }

// The Char production of XML 1.0.
bool IsXmlChar(uint32_t c) {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  if (c <= 0xD7FF) return true;
  if (c < 0xE000) return false;
  if (c <= 0xFFFD) return true;
  return c >= 0x10000 && c <= 0x10FFFF;
}

}  // namespace

// Walks the text once, front to back. Every method returns false as soon as
// the text leaves the plain shape.
class PlainDocument::Reader {
 public:
  explicit Reader(PlainDocument* document)
      : document_(document),
        begin_(document->source_.data()),
        at_(begin_),
        end_(begin_ + document->source_.size()),
        textBegin_(&document->text_[0]),
        out_(textBegin_) {}

  // How much character data has been written.
  uint32_t TextSize() const { return static_cast<uint32_t>(out_ - textBegin_); }

  bool ReadDocument() {
    if (!SkipDeclaration()) return false;
    SkipSpace();
    if (!ReadElements()) return false;
    SkipSpace();
    return at_ == end_;
  }

 private:
  bool AtEnd() const { return at_ == end_; }

  // The scanning loops work on a local copy of the position: a store
  // through a char pointer could alias the member, which would keep the
  // compiler from holding it in a register.
  bool SkipSpace() {
    const char* p = at_;
    while (p != end_ && Is(*p, kSpace)) ++p;
    const bool skipped = p != at_;
    at_ = p;
    return skipped;
  }

  bool ConsumeChar(char c) {
    if (at_ == end_ || *at_ != c) return false;
    ++at_;
    return true;
  }

  bool Consume(const char* literal) {
    const size_t length = std::strlen(literal);
    if (static_cast<size_t>(end_ - at_) < length || std::memcmp(at_, literal, length) != 0) {
      return false;
    }
    at_ += length;
    return true;
  }

  // Eq: S? '=' S?
  bool SkipEquals() {
    SkipSpace();
    if (!ConsumeChar('=')) return false;
    SkipSpace();
    return true;
  }

  // `value` in single or double quotes.
  bool ConsumeQuoted(const char* value) {
    if (AtEnd() || (*at_ != '"' && *at_ != '\'')) return false;
    const char quote = *at_;
    const char* const start = at_;
    ++at_;
    if (Consume(value) && !AtEnd() && *at_ == quote) {
      ++at_;
      return true;
    }
    at_ = start;
    return false;
  }

  // '<?xml' S 'version' Eq '1.0' (S 'standalone' Eq ('yes' | 'no'))? S? '?>'
  // The encoding declaration has been cut before the text came here; one
  // that is still there makes the text one for the full parser.
  bool SkipDeclaration() {
    if (!Consume("<?xml")) return true;
    if (!SkipSpace() || !Consume("version") || !SkipEquals() || !ConsumeQuoted("1.0")) {
      return false;
    }
    if (SkipSpace() && Consume("standalone")) {
      if (!SkipEquals() || !(ConsumeQuoted("yes") || ConsumeQuoted("no"))) return false;
      SkipSpace();
    }
    return Consume("?>");
  }

  bool ReadName(std::string_view* name) {
    const char* const start = at_;
    if (start == end_ || !Is(*start, kNameStart)) return false;
    const char* p = start + 1;
    while (p != end_ && Is(*p, kNameChar)) ++p;
    at_ = p;
    const size_t length = static_cast<size_t>(p - start);
    // Names beginning with "xml" are reserved; leave them to the full parser.
    if (length > kMaxNameLength || (length >= 3 && (start[0] | 0x20) == 'x' &&
                                    (start[1] | 0x20) == 'm' && (start[2] | 0x20) == 'l')) {
      return false;
    }
    *name = std::string_view(start, length);
    return true;
  }

  // After '<': Name S? ('>' | '/>'). Records the element.
  bool ReadStartTag(int32_t parent, bool* empty) {
    std::string_view name;
    if (!ReadName(&name)) return false;
    const auto text = TextSize();
    document_->elements_.push_back({static_cast<uint32_t>(name.data() - begin_),
                                    static_cast<uint32_t>(name.size()), parent, text, text});
    SkipSpace();
    if (ConsumeChar('>')) {
      *empty = false;
      return true;
    }
    *empty = true;
    return Consume("/>");  // anything else is an attribute or worse
  }

  // After '</': Name S? '>', closing `open`. The name must be the open
  // element's, so it is compared rather than scanned.
  bool ReadEndTag(const Element& open) {
    const std::string_view name = document_->Name(open);
    if (static_cast<size_t>(end_ - at_) <= name.size() ||
        std::memcmp(at_, name.data(), name.size()) != 0 || Is(at_[name.size()], kNameChar)) {
      return false;
    }
    at_ += name.size();
    SkipSpace();
    return ConsumeChar('>');
  }

  bool ReadElements() {
    std::vector<Element>& elements = document_->elements_;
    if (!ConsumeChar('<')) return false;
    int32_t current = -1;  // the innermost open element
    size_t depth = 0;
    for (;;) {
      // At a start tag, just past its '<'.
      bool empty = false;
      if (!ReadStartTag(current, &empty)) return false;
      if (!empty) {
        current = static_cast<int32_t>(elements.size() - 1);
        if (++depth > kMaxDepth) return false;
      } else if (current < 0) {
        return true;  // the root was an empty element
      }
      // The content of `current` up to its next child or its end.
      for (;;) {
        if (!ReadCharacterData() || !ConsumeChar('<') || AtEnd()) return false;
        if (*at_ != '/') break;
        ++at_;
        Element& closed = elements[static_cast<size_t>(current)];
        if (!ReadEndTag(closed)) return false;
        closed.textEnd = TextSize();
        current = closed.parent;
        --depth;
        if (current < 0) return true;
      }
      if (*at_ == '!' || *at_ == '?') return false;  // comment, CDATA, PI
    }
  }

  // Character data up to the next '<' (or the end), appended to the text.
  bool ReadCharacterData() {
    for (;;) {
      const char* const run = at_;
      const char* p = run;
      while (p != end_ && Is(*p, kPlainText)) ++p;
      at_ = p;
      if (p != run) {
        std::memcpy(out_, run, static_cast<size_t>(p - run));
        out_ += p - run;
      }
      if (AtEnd() || *at_ == '<') return true;
      switch (*at_) {
        case '&':
          if (!ReadReference()) return false;
          break;
        case ']':
          if (end_ - at_ >= 3 && at_[1] == ']' && at_[2] == '>') return false;
          *out_++ = ']';
          ++at_;
          break;
        case '\r':
          // Line ends read as LF, whatever the text used.
          *out_++ = '\n';
          ++at_;
          if (!AtEnd() && *at_ == '\n') ++at_;
          break;
        default:
          if (static_cast<unsigned char>(*at_) < 0x80) return false;  // a control character
          if (!CopyUtf8Character()) return false;
      }
    }
  }

  // After a byte of 0x80 or above: one well-formed UTF-8 sequence of an
  // XML character.
  bool CopyUtf8Character() {
    const auto* bytes = reinterpret_cast<const unsigned char*>(at_);
    size_t length = 0;
    char32_t c;
    if (!platform::DecodeUtf8(bytes, static_cast<size_t>(end_ - at_), &length, &c) ||
        !IsXmlChar(c)) {
      return false;
    }
    std::memcpy(out_, at_, length);
    out_ += length;
    at_ += length;
    return true;
  }

  // After '&': one of the five predefined entities or a character reference.
  bool ReadReference() {
    ++at_;
    if (!AtEnd() && *at_ == '#') return ReadCharacterReference();
    static constexpr struct {
      const char* name;
      char value;
    } kPredefined[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
    for (const auto& entity : kPredefined) {
      if (Consume(entity.name)) {
        *out_++ = entity.value;
        return true;
      }
    }
    return false;  // an entity only a document type could declare
  }

  // After '&#': digits or 'x' and hex digits, then ';', naming an XML character.
  bool ReadCharacterReference() {
    ++at_;
    uint32_t base = 10;
    if (!AtEnd() && *at_ == 'x') {
      base = 16;
      ++at_;
    }
    uint32_t value = 0;
    const char* digits = at_;
    for (; !AtEnd() && *at_ != ';'; ++at_) {
      const char c = *at_;
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        digit = static_cast<uint32_t>((c | 0x20) - 'a' + 10);
      } else {
        return false;
      }
      value = value * base + digit;
      if (value > 0x10FFFF) return false;
    }
    if (AtEnd() || at_ == digits || !IsXmlChar(value)) return false;
    ++at_;
    out_ = platform::EncodeUtf8(value, out_);
    return true;
  }

  PlainDocument* const document_;
  const char* const begin_;
  const char* at_;
  const char* const end_;
  // The character data is written straight into the document's text, which
  // is as long as the source: decoding never lengthens a text (a reference
  // is longer than its UTF-8, a line end at most as long).
  char* const textBegin_;
  char* out_;
};

bool PlainDocument::Parse(std::string utf8) {
  source_ = std::move(utf8);
  elements_.clear();
  if (source_.size() > kMaxSource) return false;
  // Decoding only shortens: the text never outgrows its source.
  text_.resize(source_.size() + 1);
  elements_.reserve(source_.size() / 32 + 4);
  Reader reader(this);
  const bool read = reader.ReadDocument();
  text_.resize(reader.TextSize());
  return read;
}

}  // namespace voicecontrol
