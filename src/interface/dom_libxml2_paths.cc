// The paths "//A/B/C" of the interface messages, matched by element names
// on libxml2's tree. It finds the elements as the Windows DOM does where
// libxml2's XPath would not (a default namespace).
#include "interface/dom_libxml2_paths.h"

#include <libxml/tree.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "interface/dom_libxml2_load.h"

namespace voicecontrol {

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
