// The tokenizer: one token per NextToken, with the line and column of its
// first character. It never fails on its own; whatever it cannot accept
// becomes TokInvalid with a short snippet, and the parser decides what to say.

#include <climits>
#include <cstring>

#include "xml/xml.h"

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

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsNameChar(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == ':' || c == '-';
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

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
  if (text == nullptr) return;
  char* in = std::strchr(text, '&');
  if (in == nullptr) return;
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
}

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
  position = countedTo = text != nullptr ? text : "";
  line = 1;
  column = 1;
  depth = 0;
}

void XmlParser::NextToken() {
  tokenText[0] = '\0';
  dataText[0] = '\0';
  if (inTag) {
    ScanTag();
  } else {
    ScanContent();
  }
}

// Walks from countedTo up to `to`: a line feed starts a new line at column 1,
// every other byte (CR and tab included) is one column.
void XmlParser::CountLinesTo(const char* to) {
  const char* p = countedTo;
  while (p < to) {
    const void* found = std::memchr(p, '\n', static_cast<size_t>(to - p));
    if (found == nullptr) {
      column = AddClamped(column, to - p);
      break;
    }
    line = AddClamped(line, 1);
    column = 1;
    p = static_cast<const char*>(found) + 1;
  }
  countedTo = to;
}

void XmlParser::SetPunctuation(XmlTokenKind token, const char* punctuation, int length) {
  kind = token;
  CopyRun(tokenText, punctuation, static_cast<size_t>(length));
  position += length;
}

void XmlParser::ScanTag() {
  position = SkipBlanks(position);
  CountLinesTo(position);
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
  }
}

// A quoted string runs to the next occurrence of its own quote character.
void XmlParser::ScanString() {
  const char* content = position + 1;
  const char* close = std::strchr(content, *position);
  if (close != nullptr && close - content <= kXmlMaxTokenLength) {
    kind = TokString;
    CopyRun(tokenText, content, static_cast<size_t>(close - content));
    XmlDecode(tokenText);
    position = close + 1;
    return;
  }
  kind = TokInvalid;
  WriteTooLongSnippet(tokenText, content);
  position = close != nullptr ? close : content + std::strlen(content);
}

void XmlParser::ScanName() {
  const char* end = position;
  int colons = 0;
  while (IsNameChar(*end)) {
    colons += *end == ':';
    ++end;
  }
  const std::ptrdiff_t length = end - position;
  if (length > kXmlMaxTokenLength) {
    kind = TokInvalid;
    WriteTooLongSnippet(tokenText, position);
  } else {
    // A qualified name has at most one prefix.
    kind = colons >= 2 ? TokInvalid : TokName;
    CopyRun(tokenText, position, static_cast<size_t>(length));
  }
  position = end;
}

void XmlParser::ScanContent() {
  for (;;) {
    position = SkipBlanks(position);
    CountLinesTo(position);
    if (*position == '\0') {
      kind = TokEof;
      return;
    }
    if (*position != '<') {
      ScanText();
      return;
    }
    if (StartsWith(position, "<!--")) {
      // Searched from the opener itself, so "<!-->" is a whole comment.
      const char* end = std::strstr(position, "-->");
      if (end == nullptr) {
        kind = TokInvalid;
        std::strcpy(tokenText, "<!-- ... (NEED -->)");
        return;
      }
      position = end + 3;
      continue;
    }
    if (position[1] == '?') {
      // Searched from the opener itself, so "<?>" is a whole instruction.
      const char* end = std::strstr(position, "?>");
      if (end == nullptr) {
        kind = TokInvalid;
        std::strcpy(tokenText, "<? ... (NEED ?>)");
        return;
      }
      position = end + 2;
      continue;
    }
    if (StartsWith(position, kCDataOpener)) {
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
    kind = TokInvalid;
    std::strcpy(tokenText, "<![CDATA ... (NEED ]]>)");
    return;
  }
  if (end - content > kXmlMaxCDataLength) {
    kind = TokInvalid;
    WriteTooLongSnippet(dataText, position);
    return;
  }
  kind = TokCData;
  CopyRun(dataText, content, static_cast<size_t>(end - content));
  position = end + 3;
}

// Character data runs up to the next "<" or the end of the input; the length
// limit applies to the raw text, before entity decoding.
void XmlParser::ScanText() {
  const char* end = std::strchr(position, '<');
  if (end == nullptr) end = position + std::strlen(position);
  if (end - position > kXmlMaxTextRun) {
    kind = TokInvalid;
    WriteTooLongSnippet(dataText, position);
  } else {
    kind = TokText;
    CopyRun(dataText, position, static_cast<size_t>(end - position));
    XmlDecode(dataText);
  }
  position = end;
}

}  // namespace voicecontrol
