// The DOM access layer on pugixml, for systems without the COM XML DOM.
//
// pugixml works on UTF-8: wide texts are converted on the way in (documents
// and XPath queries) and on the way out (node texts and names).
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "interface/dom_text.h"
#include "platform/codepage.h"

namespace voicecontrol {

struct DomDocument::State {
  // One element, with what a path step compares.
  struct Element {
    pugi::xml_node node;
    const char* name;
    size_t name_length;
    size_t depth;  // 0 for the document element
  };

  // pugixml parses in place: the UTF-8 text lives as long as the tree.
  std::string utf8;
  pugi::xml_document document;
  // Its elements in document order, made once the document is loaded and
  // read-only afterwards.
  std::vector<Element> elements;
};

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
  const pugi::xml_node_type type = node.type();
  return type == pugi::node_pcdata || type == pugi::node_cdata;
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

std::wstring TextOf(pugi::xml_node node) {
  // The usual case, an element holding one run of text, needs no gathering.
  if (node.type() == pugi::node_element) {
    const pugi::xml_node only = node.first_child();
    if (IsCharacterData(only) && !only.next_sibling()) {
      const char* text = only.value();
      return platform::Utf8ToWideString(text, std::strlen(text));
    }
  }
  return platform::Utf8ToWideString(CollectText(node));
}

// What an ASCII character may be in a name of a plain path: a path is
// parsed on every query, so the class is looked up rather than computed.
enum NameClass : unsigned char { kNotName = 0, kNameChar = 1, kNameStart = 3 };

constexpr std::array<unsigned char, 128> kNameClasses = [] {
  std::array<unsigned char, 128> classes{};
  for (char c = 'a'; c <= 'z'; ++c) classes[static_cast<unsigned char>(c)] = kNameStart;
  for (char c = 'A'; c <= 'Z'; ++c) classes[static_cast<unsigned char>(c)] = kNameStart;
  classes['_'] = kNameStart;
  for (char c = '0'; c <= '9'; ++c) classes[static_cast<unsigned char>(c)] = kNameChar;
  classes['-'] = kNameChar;
  classes['.'] = kNameChar;
  return classes;
}();

NameClass ClassOf(wchar_t c) {
  return (c >= 0 && c < 128) ? static_cast<NameClass>(kNameClasses[static_cast<size_t>(c)])
                             : kNotName;
}

// Enough for the interface messages of everyday answers without regrowing.
constexpr size_t kTypicalElementCount = 64;

// Every element of `document` in document order. pugixml's accessors live
// in its shared library and cannot be inlined, so each query that walked
// the tree would pay several calls per node; indexing the elements once
// while loading lets every path query scan a plain array instead. pugixml's
// own traversal moves through the tree without such calls (and without
// recursion, so deep documents cannot exhaust the stack).
std::vector<DomDocument::State::Element> IndexElements(pugi::xml_document& document) {
  struct Indexer : pugi::xml_tree_walker {
    bool for_each(pugi::xml_node& node) override {
      if (node.type() == pugi::node_element) {
        const char* name = node.name();
        elements.push_back(DomDocument::State::Element{node, name, std::strlen(name),
                                                       static_cast<size_t>(depth())});
      }
      return true;
    }
    std::vector<DomDocument::State::Element> elements;
  } indexer;
  indexer.elements.reserve(kTypicalElementCount);
  document.traverse(indexer);
  return std::move(indexer.elements);
}

// The paths the interface messages use, "//Interface/Response/Seq_No", are
// answered by one scan over the indexed elements instead of the XPath
// engine, which spends most of its time gathering every node for the
// leading "//".
//
// For a path "//N1/N2/.../Nk" of plain names the XPath result is every
// element named Nk whose parent is named Nk-1, whose grandparent Nk-2, and
// so on up to an element named N1 anywhere. Going through the elements in
// document order, each gets the set of i for which its chain of ancestors
// ends in N1..Ni (a bit mask; an element named Ni has i in its set when i is
// 1 or its parent has i-1). The elements whose set holds k are exactly the
// XPath result, met in document order and once each. Any other path goes to
// the XPath engine.
class ChildPath {
 public:
  // False when `path` is not of that plain form (or is too long).
  bool Parse(std::wstring_view path) {
    if (path.size() < 3 || path.size() > kMaxPath || path[0] != L'/' || path[1] != L'/') {
      return false;
    }
    size_t start = 2;  // of the current step
    for (size_t pos = 2; pos < path.size(); ++pos) {
      const wchar_t c = path[pos];
      if (c == L'/') {
        if (!AddStep(path, start, pos)) return false;
        start = pos + 1;
        continue;
      }
      if (ClassOf(c) == kNotName) return false;
      // Name characters are ASCII: their UTF-8 form, as pugixml keeps
      // names, is one byte each.
      names_[pos - 2] = static_cast<char>(c);
    }
    return AddStep(path, start, path.size());
  }

  // Calls `visit` with each matching element of `elements` (a document's
  // index) in document order until it returns false.
  template <typename Visit>
  void ForEachMatch(const std::vector<DomDocument::State::Element>& elements, Visit visit) const {
    MaskStack masks;
    for (const DomDocument::State::Element& element : elements) {
      // Bit i: the chain of ancestors ends in N1..Ni (bit 0, "nothing
      // yet", holds for every parent).
      const Mask parent = (element.depth == 0 ? 0 : masks.At(element.depth - 1)) | 1;
      const Mask mine = StepsMatched(element, parent);
      masks.At(element.depth) = mine;
      if ((mine & FullMatch()) != 0 && !visit(element.node)) return;
    }
  }

 private:
  using Mask = std::uint32_t;
  static constexpr size_t kMaxSteps = 16;  // bits 1..16 of a Mask
  static constexpr size_t kShallow = 32;   // depths whose masks need no heap

  // The set of the current element's ancestor at each depth; documents
  // deeper than the fixed array are rare and use the heap.
  struct MaskStack {
    Mask& At(size_t depth) {
      if (depth < kShallow) return shallow[depth];
      if (deep.size() <= depth - kShallow) deep.resize(depth - kShallow + 1);
      return deep[depth - kShallow];
    }

    Mask shallow[kShallow] = {};
    std::vector<Mask> deep;
  };

  Mask FullMatch() const { return Mask{1} << count_; }

  // Takes path[start, end), whose characters are name characters, as the
  // next step: false when it is empty, starts with a character no name
  // starts with, or is one step too many.
  bool AddStep(std::wstring_view path, size_t start, size_t end) {
    if (start == end || ClassOf(path[start]) != kNameStart || count_ == kMaxSteps) return false;
    steps_[count_++] = Step{names_ + (start - 2), end - start};
    return true;
  }

  struct Step {
    const char* name;  // not NUL-terminated
    size_t length;
  };

  // The set of `element` when its parent has the set `parent`. Only the
  // steps the parent's chain has reached are compared: usually just N1.
  Mask StepsMatched(const DomDocument::State::Element& element, Mask parent) const {
    Mask mine = 0;
    for (Mask reached = parent & (FullMatch() - 1); reached != 0; reached &= reached - 1) {
      const size_t i = static_cast<size_t>(__builtin_ctz(reached));  // step i+1 is next
      const Step& step = steps_[i];
      if (step.length == element.name_length &&
          std::memcmp(element.name, step.name, step.length) == 0) {
        mine |= Mask{2} << i;
      }
    }
    return mine;
  }

  static constexpr size_t kMaxPath = 256;
  char names_[kMaxPath];        // the steps' names, one byte per character
  Step steps_[kMaxSteps] = {};  // outermost first
  size_t count_ = 0;
};

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

struct DomNodeList::State {
  std::shared_ptr<DomDocument::State> document;  // keeps the nodes alive
  std::vector<pugi::xml_node> nodes;             // in document order
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

  // Every node of this backend keeps its document's state alive.
  static DomDocument::State& Document(const DomNode& node) {
    return *static_cast<DomDocument::State*>(node.keeper_.get());
  }

  static DomNodeList MakeList(std::shared_ptr<DomNodeList::State> state) {
    return DomNodeList(std::move(state));
  }
};

namespace {

// Parses `state->utf8`, from which the encoding declaration at `encoding`
// is cut first; the root of the document, or the empty node.
DomNode ParseDocument(const std::shared_ptr<DomDocument::State>& state, TextSpan encoding) {
  state->utf8.erase(encoding.begin, encoding.length);
  const pugi::xml_parse_result result = state->document.load_buffer_inplace(
      &state->utf8[0], state->utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!result || !HasOneDocumentElement(state->document)) return DomNode();
  state->elements = IndexElements(state->document);
  return DomBackend::MakeNode(state, state->document.document_element());
}

}  // namespace

DomNode DomDocument::LoadXml(const std::wstring& text) {
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return DomNode();
    state->utf8 = platform::WideToUtf8String(text);
    return ParseDocument(state, FindEncodingDeclaration(std::string_view(state->utf8)));
  } catch (...) {
    // Loading reports failure by an empty root, whatever went wrong.
    return DomNode();
  }
}

// While the ANSI code page is UTF-8, pugixml's own encoding, the bytes go
// to the parser as they are. Invalid sequences stay in the tree and become
// U+FFFD when a text is read, as decoding them first would have made them.
// Any other code page is decoded first.
DomNode DomDocument::LoadAnsiXml(std::string_view text) {
  if (!platform::AnsiIsUtf8()) return LoadXml(platform::AnsiToWideString(text.data(), text.size()));
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return DomNode();
    state->utf8.assign(text.data(), text.size());
    return ParseDocument(state, FindEncodingDeclaration(text));
  } catch (...) {
    return DomNode();
  }
}

DomNode DomNode::SelectSingleNode(std::wstring_view path) const {
  if (IsEmpty()) return DomNode();
  return RaisingDomErrors([&] {
    const pugi::xml_node context = DomBackend::Node(*this);
    ChildPath child_path;
    if (child_path.Parse(path)) {
      pugi::xml_node found;
      child_path.ForEachMatch(DomBackend::Document(*this).elements, [&](pugi::xml_node match) {
        found = match;
        return false;
      });
      return DomBackend::MakeNode(keeper_, found);
    }
    const std::string query = platform::WideToUtf8String(path.data(), path.size());
    const pugi::xpath_node found = pugi::xpath_query(query.c_str()).evaluate_node(context);
    // Attributes are not nodes of this layer; the documents it reads carry none.
    return DomBackend::MakeNode(keeper_, found.node());
  });
}

DomNodeList DomNode::SelectNodes(std::wstring_view path) const {
  if (IsEmpty()) throw DomError(kDomErrorPointer);
  return RaisingDomErrors([&] {
    const pugi::xml_node context = DomBackend::Node(*this);
    auto state = std::make_shared<DomNodeList::State>();
    state->document = std::static_pointer_cast<DomDocument::State>(keeper_);
    ChildPath child_path;
    if (child_path.Parse(path)) {
      state->nodes.reserve(32);  // a typical answer without regrowing
      child_path.ForEachMatch(state->document->elements, [&](pugi::xml_node match) {
        state->nodes.push_back(match);
        return true;
      });
    } else {
      const std::string query = platform::WideToUtf8String(path.data(), path.size());
      pugi::xpath_node_set found = pugi::xpath_query(query.c_str()).evaluate_node_set(context);
      found.sort();  // document order, whatever order the evaluation produced
      state->nodes.reserve(found.size());
      for (const pugi::xpath_node& node : found) state->nodes.push_back(node.node());
    }
    return DomBackend::MakeList(std::move(state));
  });
}

std::wstring DomNode::GetText() const {
  if (IsEmpty()) return std::wstring();
  return RaisingDomErrors([&] { return TextOf(DomBackend::Node(*this)); });
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
    const pugi::xml_node node = state_->nodes[state_->next++];
    if (node.type() != pugi::node_element) continue;
    if (!filter.empty() && filter != node.name()) continue;
    return DomBackend::MakeNode(state_->document, node);
  }
  return DomNode();
}

}  // namespace voicecontrol
