// The paths "//A/B/C" answered without the XPath engine, for the DOM calls
// of dom_libxml2.cc; the templates that walk the matches live here because
// those calls give them what to do with each match.
#ifndef VOICECONTROL_INTERFACE_DOM_LIBXML2_PATHS_H_
#define VOICECONTROL_INTERFACE_DOM_LIBXML2_PATHS_H_

#include <libxml/tree.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "interface/plain_document.h"

namespace voicecontrol {

// The element names of a path "//A/B/C": every element C whose parent is a
// B whose parent is an A, anywhere in the document, whatever the context.
struct ChildPath {
  static constexpr size_t kMaxSteps = 8;
  std::wstring_view steps[kMaxSteps];
  size_t count = 0;
};

// False for every path of another form; the XPath engine answers those.
// One pass over the characters: this runs for every value an answer holds.
bool ReadChildPath(std::wstring_view path, ChildPath* parsed);

// Plain names are ASCII: compared character by character with the wide step.
bool SameName(std::string_view name, std::wstring_view step);

// Whether the element `index` of a plain document is one `path` selects.
bool PlainMatches(const PlainDocument& document, size_t index, const ChildPath& path);

// Whether `node` of libxml2's tree is an element `path` selects.
bool TreeMatches(const xmlNode* node, const ChildPath& path);

// The elements under `root` (itself first) in document order.
void CollectElements(xmlNodePtr root, std::vector<xmlNodePtr>* elements);

// Elements are numbered in document order, so one pass in index order
// selects in document order.
template <typename Visit>
void ForEachMatch(const PlainDocument& document, const ChildPath& path, Visit visit) {
  const size_t count = document.elements().size();
  for (size_t i = 0; i < count; ++i) {
    if (PlainMatches(document, i, path) && !visit(i)) return;
  }
}

// Every element of the document that `path` selects, in document order,
// until `visit` returns false. (libxml2's XPath would select nothing in a
// document with a default namespace, where the Windows DOM finds the
// elements by their names.)
template <typename Visit>
void ForEachTreeMatch(xmlNodePtr node, const ChildPath& path, Visit visit) {
  const xmlNodePtr root = xmlDocGetRootElement(node->doc);
  if (root == nullptr) return;
  std::vector<xmlNodePtr> elements;
  CollectElements(root, &elements);
  for (xmlNodePtr element : elements) {
    if (TreeMatches(element, path) && !visit(element)) return;
  }
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_LIBXML2_PATHS_H_
