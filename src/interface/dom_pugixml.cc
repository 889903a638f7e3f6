// The DOM access layer on pugixml, for systems without the COM XML DOM.
//
// pugixml works on UTF-8: wide texts are converted on the way in (documents
// and XPath queries) and on the way out (node texts and names).
#include <new>
#include <pugixml.hpp>
#include <utility>

#include "interface/dom.h"
#include "interface/dom_text.h"
#include "platform/codepage.h"

namespace voicecontrol {

namespace {

// White space is document content here (a field value may be " y "), CDATA
// sections are text, references are expanded, CR LF becomes LF as XML
// requires. No DOCTYPE is kept and nothing external is ever fetched.
// (parse_ws_pcdata_single must stay off: it narrows parse_ws_pcdata.)
constexpr unsigned int kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                       pugi::parse_wconv_attribute | pugi::parse_ws_pcdata;

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

bool IsCharacterData(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The character data of `node` and its descendants in document order,
// gathered without recursion so that deep documents cannot exhaust the stack.
std::string CollectText(pugi::xml_node node) {
  if (IsCharacterData(node)) return node.value();
  std::string text;
  pugi::xml_node current = node.first_child();
  while (current) {
    if (IsCharacterData(current)) text += current.value();
    if (current.first_child()) {
      current = current.first_child();
      continue;
    }
    while (current != node && !current.next_sibling()) current = current.parent();
    if (current == node) break;
    current = current.next_sibling();
  }
  return text;
}

// pugixml accepts several top-level elements; XML allows exactly one.
bool HasOneDocumentElement(const pugi::xml_document& document) {
  int elements = 0;
  for (pugi::xml_node child = document.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) ++elements;
  }
  return elements == 1;
}

std::string NodeName(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_element:
      return node.name();
    case pugi::node_pcdata:
      return "#text";
    case pugi::node_cdata:
      return "#cdata-section";
    case pugi::node_document:
      return "#document";
    default:
      return node.name();
  }
}

// Runs `body`, turning pugixml's failures into the DOM error type.
template <typename Body>
auto RaisingDomErrors(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const pugi::xpath_exception&) {
    throw DomError(kDomErrorFail);
  } catch (const std::bad_alloc&) {
    throw DomError(kDomErrorOutOfMemory);
  }
}

}  // namespace

DomError::DomError(std::int32_t code) : std::runtime_error(DescribeDomError(code)), code_(code) {}

struct DomDocument::State {
  // pugixml parses in place: the UTF-8 text lives as long as the tree.
  std::string utf8;
  pugi::xml_document document;
};

struct DomNodeList::State {
  std::shared_ptr<DomDocument::State> document;  // keeps the nodes alive
  pugi::xpath_node_set nodes;
  size_t next = 0;
};

// Conversions between the portable handles and pugixml's objects.
struct DomBackend {
  static DomNode MakeNode(std::shared_ptr<void> document, pugi::xml_node node) {
    if (!node) return DomNode();
    return DomNode(std::move(document), node.internal_object());
  }

  static pugi::xml_node Node(const DomNode& node) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node.node_));
  }

  static DomNodeList MakeList(std::shared_ptr<DomNodeList::State> state) {
    return DomNodeList(std::move(state));
  }
};

DomNode DomDocument::LoadXml(const std::wstring& text) {
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return DomNode();
    state->utf8 = platform::WideToUtf8String(StripEncodingDeclaration(text));
    const pugi::xml_parse_result result = state->document.load_buffer_inplace(
        &state->utf8[0], state->utf8.size(), kParseOptions, pugi::encoding_utf8);
    if (!result || !HasOneDocumentElement(state->document)) return DomNode();
    return DomBackend::MakeNode(state, state->document.document_element());
  } catch (...) {
    // Loading reports failure by an empty root, whatever went wrong.
    return DomNode();
  }
}

DomNode DomNode::SelectSingleNode(const std::wstring& path) const {
  if (IsEmpty()) return DomNode();
  return RaisingDomErrors([&] {
    const pugi::xpath_query query(platform::WideToUtf8String(path).c_str());
    const pugi::xpath_node found = query.evaluate_node(DomBackend::Node(*this));
    // Attributes are not nodes of this layer; the documents it reads carry none.
    return DomBackend::MakeNode(keeper_, found.node());
  });
}

DomNodeList DomNode::SelectNodes(const std::wstring& path) const {
  if (IsEmpty()) throw DomError(kDomErrorPointer);
  return RaisingDomErrors([&] {
    const pugi::xpath_query query(platform::WideToUtf8String(path).c_str());
    auto state = std::make_shared<DomNodeList::State>();
    state->document = std::static_pointer_cast<DomDocument::State>(keeper_);
    state->nodes = query.evaluate_node_set(DomBackend::Node(*this));
    state->nodes.sort();  // document order, whatever order the evaluation produced
    return DomBackend::MakeList(std::move(state));
  });
}

std::wstring DomNode::GetText() const {
  if (IsEmpty()) return std::wstring();
  return RaisingDomErrors(
      [&] { return platform::Utf8ToWideString(CollectText(DomBackend::Node(*this))); });
}

std::wstring DomNode::GetName() const {
  if (IsEmpty()) return std::wstring();
  return RaisingDomErrors(
      [&] { return platform::Utf8ToWideString(NodeName(DomBackend::Node(*this))); });
}

DomNode DomNodeList::NextElement() {
  if (state_ == nullptr) throw DomError(kDomErrorPointer);
  const std::string filter = filter_.empty() ? std::string() : platform::WideToUtf8String(filter_);
  while (state_->next < state_->nodes.size()) {
    const pugi::xml_node node = state_->nodes[state_->next++].node();
    if (node.type() != pugi::node_element) continue;
    if (!filter.empty() && filter != node.name()) continue;
    return DomBackend::MakeNode(state_->document, node);
  }
  return DomNode();
}

}  // namespace voicecontrol
