// The DOM access layer on libxml2, for systems without the COM XML DOM: the
// calls of dom.h, answered from libxml2's tree or from a plain reading.
//
// libxml2 works on UTF-8: wide texts are converted on the way in (documents
// and queries) and on the way out (node texts and names). Most answers are
// plain documents (see plain_document.h). Those are read in one pass without
// a libxml2 tree, and the paths the interface messages use, "//A/B/C", are
// answered from that reading. libxml2 builds its tree only for the other
// texts, or for a plain one when a query needs the XPath engine.
//
// The other jobs have files of their own: the parse and its safeguards in
// dom_libxml2_load.cc, the XPath queries in dom_libxml2_xpath.cc and the
// plain paths in dom_libxml2_paths.cc. What stays here is what the portable
// handles of dom.h mean on this backend, which every call needs.
#include <libxml/tree.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "interface/dom_libxml2_load.h"
#include "interface/dom_libxml2_paths.h"
#include "interface/dom_libxml2_xpath.h"
#include "interface/dom_text.h"
#include "interface/error_detail.h"
#include "interface/plain_answer.h"
#include "interface/plain_document.h"
#include "platform/codepage.h"

namespace voicecontrol {

struct DomDocument::State {
  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (document != nullptr) xmlFreeDoc(document);
  }

  // libxml2's tree: of a text that is not plain, or of a plain one once a
  // query has needed it.
  xmlDocPtr document = nullptr;
  PlainDocument plain;
  // A plain document's elements in libxml2's tree, by their index.
  std::vector<xmlNodePtr> treeElements;
};

struct DomNodeList::State {
  std::shared_ptr<DomDocument::State> document;  // keeps the nodes alive
  std::vector<void*> nodes;                      // handles, in document order
  size_t next = 0;
};

namespace {

const char* DescribeDomError(std::int32_t code) {
  switch (code) {
    case kDomErrorPointer:
      return "DOM error: invalid pointer";
    case kDomErrorOutOfMemory:
      return "DOM error: out of memory";
    default:
      return "DOM error: unspecified failure";
  }
}

std::wstring WideFrom(const xmlChar* utf8) {
  if (utf8 == nullptr) return std::wstring();
  const char* text = AsChars(utf8);
  return platform::Utf8ToWideString(text, std::strlen(text));
}

bool IsCharacterData(const xmlNode* node) {
  return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

std::wstring TextOf(xmlNodePtr node) {
  // The usual case, an element holding one run of text, needs no gathering.
  if (node->type == XML_ELEMENT_NODE) {
    const xmlNode* only = node->children;
    if (only == nullptr) return std::wstring();
    if (IsCharacterData(only) && only->next == nullptr) return WideFrom(only->content);
  }
  // All descendant character data in document order, without recursion.
  xmlChar* text = xmlNodeGetContent(node);
  if (text == nullptr) return std::wstring();
  std::wstring wide;
  try {
    wide = WideFrom(text);
  } catch (...) {
    xmlFree(text);
    throw;
  }
  xmlFree(text);
  return wide;
}

// The node's name as the Windows DOM gives it: qualified for elements and
// attributes, "#text" and the like for the other kinds.
std::string NodeName(const xmlNode* node) {
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: {
      std::string name;
      if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = AsChars(node->ns->prefix);
        name += ':';
      }
      return name + AsChars(node->name);
    }
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
      return "#document";
    default:
      return node->name != nullptr ? AsChars(node->name) : "";
  }
}

// Namespace nodes of an XPath result are copies that die with the result:
// they are no nodes of the document and never handed out.
bool IsDocumentNode(const xmlNode* node) {
  return node != nullptr && node->type != XML_NAMESPACE_DECL;
}

// Runs `body`, storing what it returns in `*result`: 0, or the result
// code of the DOM error it raised (an exhausted heap is
// kDomErrorOutOfMemory). The exported DOM calls raise nothing themselves:
// the inline calls of dom.h raise the code in the caller's module.
template <typename Result, typename Body>
std::int32_t Reporting(Result* result, Body body) noexcept {
  try {
    *result = body();
    return 0;
  } catch (const DomError& error) {
    return error.Error();
  } catch (const std::bad_alloc&) {
    return kDomErrorOutOfMemory;
  } catch (...) {
    return kDomErrorFail;
  }
}

// A node handle is either libxml2's node or, for an element of a plain
// document, the element's index shifted left with the low bit set: libxml2's
// nodes are aligned, so their low bit is always clear.
void* PlainHandle(size_t index) { return reinterpret_cast<void*>((uintptr_t{index} << 1) | 1); }
bool IsPlainHandle(const void* handle) { return (reinterpret_cast<uintptr_t>(handle) & 1) != 0; }
size_t PlainIndex(const void* handle) { return reinterpret_cast<uintptr_t>(handle) >> 1; }

std::wstring WideFromAscii(std::string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

DomError::DomError(std::int32_t code) : std::runtime_error(DescribeDomError(code)), code_(code) {}

// Conversions between the portable handles and libxml2's objects.
struct DomBackend {
  static DomNode MakeNode(std::shared_ptr<void> document, xmlNodePtr node) {
    if (!IsDocumentNode(node)) return DomNode();
    return DomNode(std::move(document), node);
  }

  static DomNode MakePlainNode(std::shared_ptr<void> document, size_t index) {
    return DomNode(std::move(document), PlainHandle(index));
  }

  static void* Handle(const DomNode& node) { return node.node_; }

  static DomDocument::State& Document(const DomNode& node) {
    return *static_cast<DomDocument::State*>(node.keeper_.get());
  }

  static std::shared_ptr<DomDocument::State> SharedDocument(const DomNode& node) {
    return std::static_pointer_cast<DomDocument::State>(node.keeper_);
  }

  static DomNodeList MakeList(std::shared_ptr<DomNodeList::State> state) {
    return DomNodeList(std::move(state));
  }

  // The node in libxml2's tree, which a plain document gets now if it has
  // none yet.
  static xmlNodePtr TreeNode(const DomNode& node) {
    void* const handle = Handle(node);
    if (!IsPlainHandle(handle)) return static_cast<xmlNodePtr>(handle);
    DomDocument::State& state = Document(node);
    if (state.document == nullptr) {
      DocumentPtr document = ParseUtf8(state.plain.source(), false);
      // The plain reader accepts only well-formed texts; a disagreement
      // would be a fault of this library, reported as a failing call.
      if (document == nullptr) throw DomError(kDomErrorFail);
      std::vector<xmlNodePtr> elements;
      CollectElements(xmlDocGetRootElement(document.get()), &elements);
      if (elements.size() != state.plain.elements().size()) throw DomError(kDomErrorFail);
      state.treeElements = std::move(elements);
      state.document = document.release();
    }
    return state.treeElements[PlainIndex(handle)];
  }
};

namespace {

// Parses `utf8`, whose encoding declaration is blanked first, into `state`;
// the root of the document, or the empty node.
DomNode LoadInto(const std::shared_ptr<DomDocument::State>& state, std::string utf8) {
  BlankEncodingDeclaration(&utf8);
  if (state->plain.Parse(std::move(utf8))) {
    return DomBackend::MakePlainNode(state, 0);
  }
  DocumentPtr document = ParseUtf8(state->plain.source(), true);
  state->plain = PlainDocument();  // only a plain document needs its reading
  if (document == nullptr) return DomNode();
  state->document = document.release();
  return DomBackend::MakeNode(state, xmlDocGetRootElement(state->document));
}

}  // namespace

const PlainDocument* PlainReadingOf(const DomNode& root) {
  if (root.IsEmpty() || !IsPlainHandle(DomBackend::Handle(root))) return nullptr;
  return &DomBackend::Document(root).plain;
}

// libxml2 needs no preparation on the loading thread.
bool DomDocument::Prepare() { return true; }

namespace {

DomNode RefuseNul() {
  internal::NoteErrorDetail("document is not well-formed XML: it holds a NUL character");
  return DomNode();
}

}  // namespace

DomNode DomDocument::LoadXml(const std::wstring& text) {
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return RefuseNul();
    return LoadInto(state, platform::WideToUtf8String(text));
  } catch (...) {
    // Loading reports failure by an empty root, whatever went wrong.
    return DomNode();
  }
}

// While the ANSI code page is UTF-8, ASCII text goes to the parser as it
// is. Other text is decoded and encoded again as UTF-8, which turns invalid
// sequences into U+FFFD exactly as decoding it for LoadXml would.
DomNode DomDocument::LoadAnsiXml(std::string_view text) {
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return RefuseNul();
    if (platform::AnsiIsUtf8() && platform::IsAscii(text.data(), text.size())) {
      return LoadInto(state, std::string(text));
    }
    return LoadInto(
        state, platform::WideToUtf8String(platform::AnsiToWideString(text.data(), text.size())));
  } catch (...) {
    return DomNode();
  }
}

std::int32_t DomNode::SelectSingleNodeOrError(std::wstring_view path,
                                              DomNode* found) const noexcept {
  return Reporting(found, [&] {
    if (IsEmpty()) return DomNode();
    ChildPath plainPath;
    if (ReadChildPath(path, &plainPath)) {
      DomNode first;
      if (IsPlainHandle(node_)) {
        ForEachMatch(DomBackend::Document(*this).plain, plainPath, [&](size_t index) {
          first = DomBackend::MakePlainNode(keeper_, index);
          return false;
        });
      } else {
        ForEachTreeMatch(static_cast<xmlNodePtr>(node_), plainPath, [&](xmlNodePtr element) {
          first = DomBackend::MakeNode(keeper_, element);
          return false;
        });
      }
      return first;
    }
    const XPathObjectPtr found = Evaluate(DomBackend::TreeNode(*this), path);
    const xmlNodeSet* nodes = found->nodesetval;
    if (nodes == nullptr) return DomNode();
    for (int i = 0; i < nodes->nodeNr; ++i) {
      if (IsDocumentNode(nodes->nodeTab[i]))
        return DomBackend::MakeNode(keeper_, nodes->nodeTab[i]);
    }
    return DomNode();
  });
}

std::int32_t DomNode::SelectNodesOrError(std::wstring_view path,
                                         DomNodeList* nodes) const noexcept {
  return Reporting(nodes, [&] {
    if (IsEmpty()) throw DomError(kDomErrorPointer);
    auto state = std::make_shared<DomNodeList::State>();
    state->document = DomBackend::SharedDocument(*this);
    ChildPath plainPath;
    if (ReadChildPath(path, &plainPath)) {
      if (IsPlainHandle(node_)) {
        ForEachMatch(state->document->plain, plainPath, [&](size_t index) {
          state->nodes.push_back(PlainHandle(index));
          return true;
        });
      } else {
        ForEachTreeMatch(static_cast<xmlNodePtr>(node_), plainPath, [&](xmlNodePtr element) {
          state->nodes.push_back(element);
          return true;
        });
      }
      return DomBackend::MakeList(std::move(state));
    }
    const XPathObjectPtr found = Evaluate(DomBackend::TreeNode(*this), path);
    if (const xmlNodeSet* nodes = found->nodesetval) {
      state->nodes.reserve(static_cast<size_t>(nodes->nodeNr));
      for (int i = 0; i < nodes->nodeNr; ++i) {
        if (IsDocumentNode(nodes->nodeTab[i])) state->nodes.push_back(nodes->nodeTab[i]);
      }
    }
    return DomBackend::MakeList(std::move(state));
  });
}

std::int32_t DomNode::GetTextOrError(std::wstring* text) const noexcept {
  return Reporting(text, [&] {
    if (IsEmpty()) return std::wstring();
    if (IsPlainHandle(node_)) {
      const PlainDocument& plain = DomBackend::Document(*this).plain;
      const std::string_view text = plain.Text(plain.elements()[PlainIndex(node_)]);
      return platform::Utf8ToWideString(text.data(), text.size());
    }
    return TextOf(static_cast<xmlNodePtr>(node_));
  });
}

std::int32_t DomNode::GetNameOrError(std::wstring* name) const noexcept {
  return Reporting(name, [&] {
    if (IsEmpty()) return std::wstring();
    if (IsPlainHandle(node_)) {
      const PlainDocument& plain = DomBackend::Document(*this).plain;
      return WideFromAscii(plain.Name(plain.elements()[PlainIndex(node_)]));
    }
    return platform::Utf8ToWideString(NodeName(static_cast<xmlNodePtr>(node_)));
  });
}

std::int32_t DomNodeList::NextElementOrError(DomNode* element) noexcept {
  return Reporting(element, [&] {
    if (state_ == nullptr) throw DomError(kDomErrorPointer);
    const PlainDocument& plain = state_->document->plain;
    std::string utf8Filter;  // the filter spelled as libxml2's names are, made when needed
    while (state_->next < state_->nodes.size()) {
      void* const handle = state_->nodes[state_->next++];
      if (IsPlainHandle(handle)) {
        if (!filter_.empty() && !SameName(plain.Name(plain.elements()[PlainIndex(handle)]), filter_))
          continue;
        return DomBackend::MakePlainNode(state_->document, PlainIndex(handle));
      }
      const auto node = static_cast<xmlNodePtr>(handle);
      if (node->type != XML_ELEMENT_NODE) continue;
      if (!filter_.empty()) {
        if (utf8Filter.empty()) utf8Filter = platform::WideToUtf8String(filter_);
        if (utf8Filter != NodeName(node)) continue;
      }
      return DomBackend::MakeNode(state_->document, node);
    }
    return DomNode();
  });
}

}  // namespace voicecontrol
