// Answering XPath queries with libxml2's engine, for the DOM calls of
// dom_libxml2.cc.
#ifndef VOICECONTROL_INTERFACE_DOM_LIBXML2_XPATH_H_
#define VOICECONTROL_INTERFACE_DOM_LIBXML2_XPATH_H_

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <memory>
#include <string_view>

namespace voicecontrol {

struct XPathObjectDeleter {
  void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectDeleter>;

// The node set `path` selects with `node` as the context. Raises
// kDomErrorFail for a path that is no XPath expression or selects no node
// set (a number, a text), kDomErrorOutOfMemory when libxml2 runs out.
XPathObjectPtr Evaluate(xmlNodePtr node, std::wstring_view path);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_LIBXML2_XPATH_H_
