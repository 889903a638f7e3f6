// The tokenizer: one token per NextToken, with the line and column of its
// first character. It never fails on its own; whatever it cannot accept
// becomes TokInvalid with a short snippet, and the parser decides what to say.

#include <climits>
#include <cstring>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {

namespace {

// Indexed by XmlTokenKind.
const char* const kDisplayNames[] = {
    "",              // TokNone
    "<",             // TokTagOpen
    ">",             // TokTagClose
    "</",            // TokEndTagOpen
    "/>",            // TokEmptyTagClose
    "<?",            // TokPiOpen
    "?>",            // TokPiClose
    "text",          // TokText
    "tag/attrname",  // TokName
    "string",        // TokString
    "=",             // TokEquals
    "EOF",           // TokEof
    "CDATA",         // TokCData
    "invalid",       // TokInvalid
};

constexpr char kTooLong[] = "(Too long)";
constexpr int kSnippetLength = 9;
constexpr char kCDataOpener[] = "<![CDATA[";
constexpr int kCDataOpenerLength = 9;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Byte classes, looked up once per byte: names and blanks are most of what
// the scanner walks over.
enum ByteClass : unsigned char { kOther = 0, kNameChar = 1, kBlank = 2, kLineFeed = 3 };

struct ByteClassTable {
  ByteClass byByte[256] = {};
  constexpr ByteClassTable() {
    for (int c = 0; c < 256; ++c) {
      // Name characters: ASCII letters, digits, '_', ':' and '-'.
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == ':' || c == '-') {
        byByte[c] = kNameChar;
      }
    }
    byByte[static_cast<unsigned char>(' ')] = kBlank;
    byByte[static_cast<unsigned char>('\t')] = kBlank;
    byByte[static_cast<unsigned char>('\r')] = kBlank;
    byByte[static_cast<unsigned char>('\n')] = kLineFeed;
  }
};
constexpr ByteClassTable kByteClasses;

ByteClass ClassOf(char c) { return kByteClasses.byByte[static_cast<unsigned char>(c)]; }

bool IsNameChar(char c) { return ClassOf(c) == kNameChar; }

// The first nine characters of `start` (fewer at the end of the input)
// followed by "(Too long)".
void WriteTooLongSnippet(char* out, const char* start) {
  CopyBounded(out, start, kSnippetLength + 1);
  std::strcat(out, kTooLong);
}

void CopyRun(char* out, const char* start, size_t length) {
  std::memcpy(out, start, length);
  out[length] = '\0';
}

// Rewrites text[0, length) in place as XmlDecode does; returns the new length.
size_t DecodeInPlace(char* text, size_t length);

int AddClamped(int value, std::ptrdiff_t amount) {
  return amount > INT_MAX - value ? INT_MAX : value + static_cast<int>(amount);
}

struct Entity {
  const char* reference;  // behind the '&'
  size_t length;
  char character;
};

// Compared in this order; the first match wins.
constexpr Entity kEntities[] = {
    {"amp;", 4, '&'}, {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"apos;", 5, '\''}, {"quot;", 5, '"'},
};

}  // namespace

const char* XmlTokenDisplayName(XmlTokenKind kind) {
  const int code = static_cast<int>(kind);
  const int count = static_cast<int>(sizeof(kDisplayNames) / sizeof(kDisplayNames[0]));
  return code >= 0 && code < count ? kDisplayNames[code] : "";
}

void CopyBounded(char* dst, const char* src, int size) {
  if (dst == nullptr || size <= 0) return;
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  int copied = 0;
  while (copied < size - 1 && src[copied] != '\0') {
    dst[copied] = src[copied];
    ++copied;
  }
  dst[copied] = '\0';
}

void XmlDecode(char* text) {
  if (text != nullptr) DecodeInPlace(text, std::strlen(text));
}

namespace {

size_t DecodeInPlace(char* text, size_t length) {
  char* in = static_cast<char*>(std::memchr(text, '&', length));
  if (in == nullptr) return length;
  char* out = in;
  while (*in != '\0') {
    if (*in == '&') {
      const Entity* match = nullptr;
      for (const Entity& entity : kEntities) {
        if (std::strncmp(in + 1, entity.reference, entity.length) == 0) {
          match = &entity;
          break;
        }
      }
      if (match != nullptr) {
        *out++ = match->character;
        in += 1 + match->length;
        continue;
      }
    }
    *out++ = *in++;
  }
  *out = '\0';
  return static_cast<size_t>(out - text);
}

}  // namespace

XmlParser& XmlParser::Current() {
  // One state per thread: parses on different threads never share it.
  static thread_local XmlParser state;
  return state;
}

void XmlParser::Reset(const char* text) {
  inTag = 0;
  kind = TokEof;
  tokenText[0] = '\0';
  dataText[0] = '\0';
  position = countedTo = lineStart = text != nullptr ? text : "";
  spanMayHoldLineFeeds = false;
  line = 1;
  column = 1;
  depth = 0;
}

void XmlParser::NextToken() {
  tokenText[0] = '\0';
  dataText[0] = '\0';
  tokenLength = 0;
  dataLength = 0;
  if (inTag) {
    ScanTag();
  } else {
    ScanContent();
  }
}

// Lines and columns: a line feed starts a new line at column 1, every other
// byte (CR and tab included) is one column, so the column is one more than
// the number of bytes since the last line feed. Line feeds among blanks are
// counted while skipping them; the span of the previous token is searched
// only when that token could hold one (strings, text, CDATA, comments and
// instructions).
void XmlParser::StartNewLine(const char* lineFeed) {
  if (line < INT_MAX) ++line;
  lineStart = lineFeed + 1;
}

void XmlParser::SkipBlanksAndCount() {
  if (spanMayHoldLineFeeds) {
    for (const char* p = countedTo; p < position;) {
      const void* found = std::memchr(p, '\n', static_cast<size_t>(position - p));
      if (found == nullptr) break;
      StartNewLine(static_cast<const char*>(found));
      p = static_cast<const char*>(found) + 1;
    }
    spanMayHoldLineFeeds = false;
  }
  const char* p = position;
  for (ByteClass byteClass; (byteClass = ClassOf(*p)) >= kBlank; ++p) {
    if (byteClass == kLineFeed) StartNewLine(p);
  }
  position = countedTo = p;
  column = AddClamped(1, p - lineStart);
}

void XmlParser::SetPunctuation(XmlTokenKind token, const char* punctuation, size_t length) {
  kind = token;
  CopyRun(tokenText, punctuation, length);
  tokenLength = length;
  position += length;
}

void XmlParser::SetSnippet(const char* snippet) {
  kind = TokInvalid;
  tokenLength = std::strlen(snippet);
  CopyRun(tokenText, snippet, tokenLength);
}

void XmlParser::ScanTag() {
  SkipBlanksAndCount();
  const char c = *position;
  if (c == '\0') {
    kind = TokEof;
  } else if (c == '/' && position[1] == '>') {
    SetPunctuation(TokEmptyTagClose, "/>", 2);
    inTag = 0;
  } else if (c == '>') {
    SetPunctuation(TokTagClose, ">", 1);
    inTag = 0;
  } else if (c == '=') {
    SetPunctuation(TokEquals, "=", 1);
  } else if (c == '"' || c == '\'') {
    ScanString();
  } else if (IsAsciiLetter(c)) {
    ScanName();
  } else {
    kind = TokInvalid;
    CopyBounded(tokenText, position, kSnippetLength + 1);
    tokenLength = std::strlen(tokenText);
  }
}

// A quoted string runs to the next occurrence of its own quote character.
void XmlParser::ScanString() {
  const char* content = position + 1;
  const char* close = std::strchr(content, *position);
  if (close != nullptr && close - content <= kXmlMaxTokenLength) {
    kind = TokString;
    CopyRun(tokenText, content, static_cast<size_t>(close - content));
    tokenLength = DecodeInPlace(tokenText, static_cast<size_t>(close - content));
    position = close + 1;
    spanMayHoldLineFeeds = true;
    return;
  }
  kind = TokInvalid;
  WriteTooLongSnippet(tokenText, content);
  tokenLength = std::strlen(tokenText);
  position = close != nullptr ? close : content + std::strlen(content);
  spanMayHoldLineFeeds = true;
}

void XmlParser::ScanName() {
  const char* end = position + 1;  // the first character is a letter
  while (IsNameChar(*end)) ++end;
  const std::ptrdiff_t length = end - position;
  if (length > kXmlMaxTokenLength) {
    kind = TokInvalid;
    WriteTooLongSnippet(tokenText, position);
    tokenLength = std::strlen(tokenText);
  } else {
    CopyRun(tokenText, position, static_cast<size_t>(length));
    tokenLength = static_cast<size_t>(length);
    // A qualified name has at most one prefix.
    const char* colon = static_cast<const char*>(std::memchr(tokenText, ':', tokenLength));
    const bool twoColons = colon != nullptr && std::strchr(colon + 1, ':') != nullptr;
    kind = twoColons ? TokInvalid : TokName;
  }
  position = end;
}

void XmlParser::ScanContent() {
  for (;;) {
    SkipBlanksAndCount();
    if (*position == '\0') {
      kind = TokEof;
      return;
    }
    if (*position != '<') {
      ScanText();
      return;
    }
    if (position[1] == '!' && position[2] == '-' && position[3] == '-') {
      // Searched from the opener itself, so "<!-->" is a whole comment.
      const char* end = std::strstr(position, "-->");
      if (end == nullptr) {
        SetSnippet("<!-- ... (NEED -->)");
        return;
      }
      position = end + 3;
      spanMayHoldLineFeeds = true;
      continue;
    }
    if (position[1] == '?') {
      // Searched from the opener itself, so "<?>" is a whole instruction.
      const char* end = std::strstr(position, "?>");
      if (end == nullptr) {
        SetSnippet("<? ... (NEED ?>)");
        return;
      }
      position = end + 2;
      spanMayHoldLineFeeds = true;
      continue;
    }
    if (position[1] == '!' && std::strncmp(position, kCDataOpener, kCDataOpenerLength) == 0) {
      ScanCData();
      return;
    }
    if (position[1] == '/') {
      SetPunctuation(TokEndTagOpen, "</", 2);
    } else {
      SetPunctuation(TokTagOpen, "<", 1);
    }
    inTag = 1;
    return;
  }
}

void XmlParser::ScanCData() {
  const char* content = position + kCDataOpenerLength;
  const char* end = std::strstr(content, "]]>");
  if (end == nullptr) {
    SetSnippet("<![CDATA ... (NEED ]]>)");
    return;
  }
  if (end - content > kXmlMaxCDataLength) {
    kind = TokInvalid;
    WriteTooLongSnippet(dataText, position);
    dataLength = std::strlen(dataText);
    return;
  }
  kind = TokCData;
  dataLength = static_cast<size_t>(end - content);
  CopyRun(dataText, content, dataLength);
  position = end + 3;
  spanMayHoldLineFeeds = true;
}

// Character data runs up to the next "<" or the end of the input; the length
// limit applies to the raw text, before entity decoding.
void XmlParser::ScanText() {
  const char* end = std::strchr(position, '<');
  if (end == nullptr) end = position + std::strlen(position);
  if (end - position > kXmlMaxTextRun) {
    kind = TokInvalid;
    WriteTooLongSnippet(dataText, position);
    dataLength = std::strlen(dataText);
  } else {
    kind = TokText;
    CopyRun(dataText, position, static_cast<size_t>(end - position));
    dataLength = DecodeInPlace(dataText, static_cast<size_t>(end - position));
  }
  position = end;
  spanMayHoldLineFeeds = true;
}

}  // namespace voicecontrol
