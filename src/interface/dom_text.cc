#include "interface/dom_text.h"

namespace voicecontrol {

namespace {

bool IsXmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

size_t SkipSpace(const std::wstring& text, size_t pos) {
  while (pos < text.size() && IsXmlSpace(text[pos])) ++pos;
  return pos;
}

}  // namespace

std::wstring StripEncodingDeclaration(const std::wstring& text) {
  static const std::wstring kOpen = L"<?xml";
  size_t pos = (!text.empty() && text[0] == L'\xFEFF') ? 1 : 0;  // a byte-order mark may lead
  if (text.compare(pos, kOpen.size(), kOpen) != 0) return text;
  pos += kOpen.size();
  if (pos >= text.size() || !IsXmlSpace(text[pos])) return text;  // "<?xml-stylesheet" etc.

  // Walk the pseudo-attributes name="value" up to "?>".
  for (;;) {
    const size_t attribute_start = pos;  // including the white space before the name
    pos = SkipSpace(text, pos);
    if (pos == attribute_start || pos >= text.size()) return text;
    const size_t name_start = pos;
    while (pos < text.size() && IsAsciiLetter(text[pos])) ++pos;
    if (pos == name_start) return text;  // "?>" or something malformed: no encoding found
    const std::wstring name = text.substr(name_start, pos - name_start);
    pos = SkipSpace(text, pos);
    if (pos >= text.size() || text[pos] != L'=') return text;
    pos = SkipSpace(text, pos + 1);
    if (pos >= text.size() || (text[pos] != L'"' && text[pos] != L'\'')) return text;
    const size_t closing = text.find(text[pos], pos + 1);
    if (closing == std::wstring::npos) return text;
    pos = closing + 1;
    if (name == L"encoding") {
      std::wstring stripped = text;
      stripped.erase(attribute_start, pos - attribute_start);
      return stripped;
    }
  }
}

bool IsAcceptableXmlText(const std::wstring& text) {
  return text.find(L'\0') == std::wstring::npos;
}

}  // namespace voicecontrol
