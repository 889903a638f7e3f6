// The paths "//A/B/C" of the interface messages, matched by element names.
//
// Nearly every query the library makes is such a path, asked once for every
// value an answer holds. Matching names up the parent chain answers it on a
// plain document, which has no libxml2 tree, and on libxml2's tree it finds
// the elements as the Windows DOM does where libxml2's XPath would not (a
// default namespace). Kept apart from the DOM calls so that the one place
// deciding which paths take this road, and what they select, reads whole.
#include "interface/dom_libxml2_paths.h"

#include <libxml/tree.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "interface/dom_libxml2_load.h"
#include "interface/plain_document.h"

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

namespace {

// Whether the element `node` has the name `step` as the Windows DOM's
// default path language compares names: by the name as written (a step
// without a prefix never matches a prefixed element), whatever namespace a
// default namespace declaration put the element in.
bool SameElementName(const xmlNode* node, std::wstring_view step) {
  if (node->ns != nullptr && node->ns->prefix != nullptr) return false;
  return SameName(std::string_view(AsChars(node->name)), step);
}

}  // namespace

bool TreeMatches(const xmlNode* node, const ChildPath& path) {
  for (size_t k = path.count; k-- > 0;) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE ||
        !SameElementName(node, path.steps[k])) {
      return false;
    }
    node = node->parent;
  }
  return true;
}

void CollectElements(xmlNodePtr root, std::vector<xmlNodePtr>* elements) {
  xmlNodePtr node = root;
  for (;;) {
    if (node->type == XML_ELEMENT_NODE) {
      elements->push_back(node);
      if (node->children != nullptr) {
        node = node->children;
        continue;
      }
    }
    while (node != root && node->next == nullptr) node = node->parent;
    if (node == root) return;
    node = node->next;
  }
}

}  // namespace voicecontrol
