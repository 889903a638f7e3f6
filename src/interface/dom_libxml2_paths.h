// The paths "//A/B/C" answered on libxml2's tree without the XPath engine,
// for the DOM calls of dom_libxml2.cc (on a plain reading: plain_paths.h).
#ifndef VOICECONTROL_INTERFACE_DOM_LIBXML2_PATHS_H_
#define VOICECONTROL_INTERFACE_DOM_LIBXML2_PATHS_H_

#include <libxml/tree.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "interface/plain_paths.h"

namespace voicecontrol {

// Whether `node` of libxml2's tree is an element `path` selects.
bool TreeMatches(const xmlNode* node, const ChildPath& path);

// The elements under `root` (itself first) in document order.
void CollectElements(xmlNodePtr root, std::vector<xmlNodePtr>* elements);

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
