#include "interface/plain_paths.h"

#include <vector>

namespace voicecontrol {

namespace {

bool IsPlainNameStart(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_';
}
bool IsPlainNameChar(wchar_t c) {
  return IsPlainNameStart(c) || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
}

}  // namespace

bool ReadChildPath(std::wstring_view path, ChildPath* parsed) {
  const size_t size = path.size();
  if (size < 3 || path[0] != L'/' || path[1] != L'/') return false;
  size_t stepBegin = 2;
  for (size_t i = 2; i <= size; ++i) {
    if (i < size && path[i] != L'/') {
      const wchar_t c = path[i];
      if (i == stepBegin ? !IsPlainNameStart(c) : !IsPlainNameChar(c)) return false;
      continue;
    }
    // A step ends here: it must hold a name, and there is room for it.
    if (i == stepBegin || parsed->count == ChildPath::kMaxSteps) return false;
    parsed->steps[parsed->count++] = path.substr(stepBegin, i - stepBegin);
    stepBegin = i + 1;
  }
  return true;
}

bool SameName(std::string_view name, std::wstring_view step) {
  if (name.size() != step.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (static_cast<wchar_t>(static_cast<unsigned char>(name[i])) != step[i]) return false;
  }
  return true;
}

bool PlainMatches(const PlainDocument& document, size_t index, const ChildPath& path) {
  const std::vector<PlainDocument::Element>& elements = document.elements();
  int32_t at = static_cast<int32_t>(index);
  for (size_t k = path.count; k-- > 0;) {
    if (at < 0) return false;
    const PlainDocument::Element& element = elements[static_cast<size_t>(at)];
    if (!SameName(document.Name(element), path.steps[k])) return false;
    at = element.parent;
  }
  return true;
}

std::string NarrowLeaf(const ChildPath& path) {
  std::string leaf;
  if (path.count > 0) {
    for (wchar_t c : path.steps[path.count - 1]) leaf += static_cast<char>(c);
  }
  return leaf;
}

}  // namespace voicecontrol
