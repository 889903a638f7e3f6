#include "interface/dom_text.h"

#include <algorithm>

namespace voicecontrol {

namespace {

// The declaration is ASCII: both text kinds are scanned by the same code.
template <typename Char>
bool IsXmlSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

template <typename Char>
bool IsAsciiLetter(Char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

template <typename Char>
size_t SkipSpace(std::basic_string_view<Char> text, size_t pos) {
  while (pos < text.size() && IsXmlSpace(text[pos])) ++pos;
  return pos;
}

// Whether `text` holds the ASCII `word` at `pos`.
template <typename Char>
bool HasWordAt(std::basic_string_view<Char> text, size_t pos, std::string_view word) {
  if (pos > text.size() || text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (text[pos + i] != static_cast<Char>(word[i])) return false;
  }
  return true;
}

// `bom_length`: characters of a byte-order mark at the start of `text`.
template <typename Char>
TextSpan FindEncoding(std::basic_string_view<Char> text, size_t bom_length) {
  const TextSpan none;
  size_t pos = bom_length;
  if (!HasWordAt(text, pos, "<?xml")) return none;
  pos += 5;
  if (pos >= text.size() || !IsXmlSpace(text[pos])) return none;  // "<?xml-stylesheet" etc.

  // Walk the pseudo-attributes name="value" up to "?>".
  for (;;) {
    const size_t attribute_start = pos;  // including the white space before the name
    pos = SkipSpace(text, pos);
    if (pos == attribute_start || pos >= text.size()) return none;
    const size_t name_start = pos;
    while (pos < text.size() && IsAsciiLetter(text[pos])) ++pos;
    if (pos == name_start) return none;  // "?>" or something malformed: no encoding found
    const bool is_encoding = pos - name_start == 8 && HasWordAt(text, name_start, "encoding");
    pos = SkipSpace(text, pos);
    if (pos >= text.size() || text[pos] != '=') return none;
    pos = SkipSpace(text, pos + 1);
    if (pos >= text.size() || (text[pos] != '"' && text[pos] != '\'')) return none;
    const size_t closing = text.find(text[pos], pos + 1);
    if (closing == std::basic_string_view<Char>::npos) return none;
    pos = closing + 1;
    if (is_encoding) return TextSpan{attribute_start, pos - attribute_start};
  }
}

// Offset just past the first `terminator` at or after `pos`; npos if none.
template <typename Char>
size_t SkipPast(std::basic_string_view<Char> text, size_t pos, std::string_view terminator) {
  for (; pos < text.size(); ++pos) {
    if (HasWordAt(text, pos, terminator)) return pos + terminator.size();
  }
  return std::basic_string_view<Char>::npos;
}

template <typename Char>
bool HasDoctype(std::basic_string_view<Char> text, size_t bom_length) {
  constexpr size_t npos = std::basic_string_view<Char>::npos;
  size_t pos = bom_length;
  for (;;) {
    pos = SkipSpace(text, pos);
    if (HasWordAt(text, pos, "<!DOCTYPE")) return true;
    if (HasWordAt(text, pos, "<!--")) {
      pos = SkipPast(text, pos + 4, "-->");
    } else if (HasWordAt(text, pos, "<?")) {  // the XML declaration included
      pos = SkipPast(text, pos + 2, "?>");
    } else {
      return false;  // the first element, or something no parser takes
    }
    if (pos == npos) return false;
  }
}

template <typename Text>
void Blank(Text* text, TextSpan span) {
  for (size_t i = span.begin; i < span.begin + span.length; ++i) (*text)[i] = ' ';
}

// The length of a byte order mark at the start of the text, if it has one.
size_t ByteOrderMarkLength(std::wstring_view text) {
  return (!text.empty() && text[0] == L'\xFEFF') ? 1 : 0;
}
size_t ByteOrderMarkLength(std::string_view utf8) {
  return HasWordAt(utf8, 0, "\xEF\xBB\xBF") ? 3 : 0;
}

// Where advice to the parser's own caller begins in `message`: "use",
// "try" or "see" before a parser option or function, as libxml2 words it
// ("Excessive depth in document: 256 use XML_PARSE_HUGE option", "Text node
// too long, try XML_PARSE_HUGE", "..., see xmlCtxtSetMaxAmplification.").
// npos when there is none.
size_t FindParserAdvice(const std::string& message) {
  size_t first = std::string::npos;
  for (const char* verb : {"use ", "try ", "see "}) {
    for (size_t at = message.find(verb); at != std::string::npos; at = message.find(verb, at + 1)) {
      if (at > 0 && message[at - 1] != ' ' && message[at - 1] != ',') continue;  // "reuse "
      const size_t word = at + 4;
      const bool option = message.compare(word, 10, "XML_PARSE_") == 0;
      const bool function = message.compare(word, 3, "xml") == 0 && word + 3 < message.size() &&
                            message[word + 3] >= 'A' && message[word + 3] <= 'Z';
      if (option || function) {
        first = std::min(first, at);
        break;
      }
    }
  }
  return first;
}

}  // namespace

TextSpan FindEncodingDeclaration(std::wstring_view text) {
  return FindEncoding(text, ByteOrderMarkLength(text));
}

TextSpan FindEncodingDeclaration(std::string_view utf8) {
  return FindEncoding(utf8, ByteOrderMarkLength(utf8));
}

std::wstring StripEncodingDeclaration(const std::wstring& text) {
  const TextSpan encoding = FindEncodingDeclaration(std::wstring_view(text));
  std::wstring stripped = text;
  stripped.erase(encoding.begin, encoding.length);
  return stripped;
}

void BlankEncodingDeclaration(std::wstring* text) {
  Blank(text, FindEncodingDeclaration(std::wstring_view(*text)));
}

void BlankEncodingDeclaration(std::string* utf8) {
  Blank(utf8, FindEncodingDeclaration(std::string_view(*utf8)));
}

bool HasDocumentTypeDeclaration(std::wstring_view text) {
  return HasDoctype(text, ByteOrderMarkLength(text));
}

bool HasDocumentTypeDeclaration(std::string_view utf8) {
  return HasDoctype(utf8, ByteOrderMarkLength(utf8));
}

std::string NotWellFormedDetail(int line, int column, const std::string& message) {
  constexpr size_t kMaxMessage = 100;
  std::string reason;
  for (char c : message) reason += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
  // A host can neither set a parser option nor call the parser: advice to
  // do so goes, the fact it follows stays.
  const size_t advice = FindParserAdvice(reason);
  if (advice != std::string::npos) {
    reason.resize(advice);
    while (!reason.empty() && (reason.back() == ',' || reason.back() == ' ')) reason.pop_back();
  }
  while (!reason.empty() && reason.back() == ' ') reason.pop_back();
  while (!reason.empty() && reason.front() == ' ') reason.erase(0, 1);
  if (reason.size() > kMaxMessage) {
    size_t cut = kMaxMessage;
    // Never inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80) --cut;
    reason.resize(cut);
    reason += "...";
  }
  std::string detail = "document is not well-formed XML";
  if (line > 0) {
    detail += " (line " + std::to_string(line) + ", column " + std::to_string(column > 0 ? column : 1) +
              ")";
  }
  if (!reason.empty()) detail += ": " + reason;
  return detail;
}

bool IsAcceptableXmlText(std::wstring_view text) { return text.find(L'\0') == text.npos; }

bool IsAcceptableXmlText(std::string_view utf8) { return utf8.find('\0') == utf8.npos; }

}  // namespace voicecontrol
