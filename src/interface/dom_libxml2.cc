// The DOM access layer on libxml2, for systems without the COM XML DOM.
//
// libxml2 is a conforming XML 1.0 parser: it loads exactly the well-formed
// documents, and its XPath 1.0 engine answers the queries. It works on
// UTF-8: wide texts are converted on the way in (documents and queries) and
// on the way out (node texts and names).
//
// Every parse has a parser context of its own, configured through that
// context alone, so a host that uses libxml2 itself sees no global setting
// change, and documents load on many threads at once.
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <voicecontrol/interface/dom.h>
#include "interface/dom_text.h"
#include "platform/codepage.h"
#include "platform/thread.h"

namespace voicecontrol {

struct DomDocument::State {
  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (document != nullptr) xmlFreeDoc(document);
  }

  xmlDocPtr document = nullptr;
};

struct DomNodeList::State {
  std::shared_ptr<DomDocument::State> document;  // keeps the nodes alive
  std::vector<xmlNodePtr> nodes;                 // in document order
  size_t next = 0;
};

namespace {

// Entities are expanded as the Windows DOM expands them, white space is
// kept, CDATA sections stay nodes of their own. Left out on purpose:
// XML_PARSE_DTDLOAD (no external subset), XML_PARSE_HUGE (the limits that
// stop entity expansion blow-ups stay on), XML_PARSE_RECOVER (a document
// that is not well formed is no document). The declared encoding is
// ignored because the text is UTF-8 by now, whatever it says; the tree is
// read-only, so short texts may be stored compactly.
constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR |
                              XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC | XML_PARSE_COMPACT;

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

void InitializeLibxml2Once() {
  // xmlInitParser must have finished before two threads parse at once.
  static const bool initialized = (xmlInitParser(), true);
  (void)initialized;
}

// Errors end the parse (or the query) and are not printed anywhere: the
// caller learns of them from the result alone.
void IgnoreError(void*, xmlErrorPtr) {}

xmlChar kNoText[] = "";

// External entities are never fetched: each one is declared as an internal
// entity without text, so its references expand to nothing, as they do in
// the Windows DOM when external resolution is off. Everything else is
// declared as libxml2 declares it.
void DeclareEntity(void* context, const xmlChar* name, int type, const xmlChar* public_id,
                   const xmlChar* system_id, xmlChar* content) {
  switch (type) {
    case XML_EXTERNAL_GENERAL_PARSED_ENTITY:
      xmlSAX2EntityDecl(context, name, XML_INTERNAL_GENERAL_ENTITY, nullptr, nullptr, kNoText);
      return;
    case XML_EXTERNAL_PARAMETER_ENTITY:
      xmlSAX2EntityDecl(context, name, XML_INTERNAL_PARAMETER_ENTITY, nullptr, nullptr, kNoText);
      return;
    default:
      xmlSAX2EntityDecl(context, name, type, public_id, system_id, content);
  }
}

// The hook through which libxml2 would open an external resource: refused,
// should any path of the parser still ask for one.
xmlParserInputPtr RefuseExternalResource(void*, const xmlChar*, const xmlChar*) { return nullptr; }

// Points this context's own copy of the SAX handler at the hooks above.
void ConfineToTheText(xmlParserCtxtPtr context) {
  xmlSAXHandler* sax = context->sax;
  sax->entityDecl = DeclareEntity;
  sax->resolveEntity = RefuseExternalResource;
  sax->externalSubset = nullptr;  // the external DTD is never read
  sax->serror = IgnoreError;
  // Defaults a host may have changed for its own parses.
  context->loadsubset = 0;
  context->validate = 0;
}

struct DocumentDeleter {
  void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
};
using DocumentPtr = std::unique_ptr<xmlDoc, DocumentDeleter>;

// The document `utf8` holds, or null when it is not a well-formed document.
DocumentPtr ParseUtf8(std::string_view utf8) {
  if (utf8.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  InitializeLibxml2Once();
  xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(utf8.data(), static_cast<int>(utf8.size()));
  if (context == nullptr) return nullptr;
  xmlCtxtUseOptions(context, kParseOptions);
  ConfineToTheText(context);
  xmlParseDocument(context);
  DocumentPtr document(context->myDoc);
  // Namespace errors (an undeclared prefix) leave libxml2's document
  // standing, but a namespace-aware DOM, the Windows one, refuses it.
  const bool well_formed = context->wellFormed != 0 && context->nsWellFormed != 0;
  context->myDoc = nullptr;
  xmlFreeParserCtxt(context);
  if (!well_formed || xmlDocGetRootElement(document.get()) == nullptr) return nullptr;
  // Numbers the elements, so that XPath sorts node sets in constant time
  // per comparison.
  xmlXPathOrderDocElems(document.get());
  return document;
}

const char* AsChars(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

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

struct XPathObjectDeleter {
  void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectDeleter>;

// The XPath context of the calling thread, set up once: creating one
// registers every XPath function anew, which costs more than a query.
// Each query points it at its own document and node.
xmlXPathContextPtr ThreadXPathContext() {
  struct Holder {
    ~Holder() {
      if (context != nullptr) xmlXPathFreeContext(context);
    }
    xmlXPathContextPtr context = nullptr;
  };
  thread_local Holder holder;
  if (holder.context == nullptr) {
    InitializeLibxml2Once();
    holder.context = xmlXPathNewContext(nullptr);
    if (holder.context == nullptr) throw DomError(kDomErrorOutOfMemory);
    holder.context->error = IgnoreError;
  }
  return holder.context;
}

// Compiled paths, shared by every thread: a compiled expression is
// read-only while it is evaluated. The few paths a program uses are
// compiled once; beyond kCachedPaths distinct paths each query compiles
// its own. Never destroyed, so that no thread can find it gone at exit.
class CompiledPaths {
 public:
  struct Deleter {
    bool owned;
    void operator()(xmlXPathCompExprPtr compiled) const {
      if (owned) xmlXPathFreeCompExpr(compiled);
    }
  };
  using Ptr = std::unique_ptr<xmlXPathCompExpr, Deleter>;

  static CompiledPaths& Instance() {
    static CompiledPaths* const paths = new CompiledPaths;
    return *paths;
  }

  // `query` compiled, or null when it is no XPath expression.
  Ptr Find(const std::string& query, xmlXPathContextPtr context) {
    {
      platform::MutexLock lock(&mutex_);
      const auto found = compiled_.find(query);
      if (found != compiled_.end()) return Ptr(found->second, Deleter{false});
    }
    xmlXPathCompExprPtr compiled =
        xmlXPathCtxtCompile(context, reinterpret_cast<const xmlChar*>(query.c_str()));
    if (compiled == nullptr) return Ptr(nullptr, Deleter{false});
    platform::MutexLock lock(&mutex_);
    if (compiled_.size() >= kCachedPaths) return Ptr(compiled, Deleter{true});
    const auto inserted = compiled_.emplace(query, compiled);
    if (!inserted.second) xmlXPathFreeCompExpr(compiled);  // another thread was first
    return Ptr(inserted.first->second, Deleter{false});
  }

 private:
  static constexpr size_t kCachedPaths = 64;
  platform::Mutex mutex_;
  std::unordered_map<std::string, xmlXPathCompExprPtr> compiled_;
};

// The node set `path` selects with `node` as the context. Raises
// kDomErrorFail for a path that is no XPath expression or selects no node
// set (a number, a text), kDomErrorOutOfMemory when libxml2 runs out.
XPathObjectPtr Evaluate(xmlNodePtr node, std::wstring_view path) {
  const std::string query = platform::WideToUtf8String(path.data(), path.size());
  if (query.find('\0') != std::string::npos) throw DomError(kDomErrorFail);
  xmlXPathContextPtr context = ThreadXPathContext();
  xmlResetError(&context->lastError);
  const CompiledPaths::Ptr compiled = CompiledPaths::Instance().Find(query, context);
  XPathObjectPtr result;
  if (compiled != nullptr) {
    context->doc = node->doc;
    context->node = node;
    context->contextSize = -1;
    context->proximityPosition = -1;
    result.reset(xmlXPathCompiledEval(compiled.get(), context));
    context->doc = nullptr;  // nothing of the document stays behind
    context->node = nullptr;
  }
  if (result == nullptr) {
    const int code = context->lastError.code;
    const bool exhausted = code == XML_ERR_NO_MEMORY || code == XML_XPATH_MEMORY_ERROR;
    throw DomError(exhausted ? kDomErrorOutOfMemory : kDomErrorFail);
  }
  if (result->type != XPATH_NODESET) throw DomError(kDomErrorFail);
  return result;
}

// Runs `body`, turning an exhausted heap into the DOM error type.
template <typename Body>
auto RaisingDomErrors(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    throw DomError(kDomErrorOutOfMemory);
  }
}

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

DomError::DomError(std::int32_t code) : std::runtime_error(DescribeDomError(code)), code_(code) {}

// Conversions between the portable handles and libxml2's objects.
struct DomBackend {
  static DomNode MakeNode(std::shared_ptr<void> document, xmlNodePtr node) {
    if (!IsDocumentNode(node)) return DomNode();
    return DomNode(std::move(document), node);
  }

  static xmlNodePtr Node(const DomNode& node) { return static_cast<xmlNodePtr>(node.node_); }

  static std::shared_ptr<DomDocument::State> Document(const DomNode& node) {
    return std::static_pointer_cast<DomDocument::State>(node.keeper_);
  }

  static DomNodeList MakeList(std::shared_ptr<DomNodeList::State> state) {
    return DomNodeList(std::move(state));
  }
};

namespace {

// Parses `utf8`, from which the encoding declaration is cut first, into
// `state`; the root of the document, or the empty node.
DomNode LoadInto(const std::shared_ptr<DomDocument::State>& state, std::string utf8) {
  const TextSpan encoding = FindEncodingDeclaration(std::string_view(utf8));
  utf8.erase(encoding.begin, encoding.length);
  DocumentPtr document = ParseUtf8(utf8);
  if (document == nullptr) return DomNode();
  state->document = document.release();
  return DomBackend::MakeNode(state, xmlDocGetRootElement(state->document));
}

}  // namespace

DomNode DomDocument::LoadXml(const std::wstring& text) {
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state_ = state;
    if (!IsAcceptableXmlText(text)) return DomNode();
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
    if (!IsAcceptableXmlText(text)) return DomNode();
    if (platform::AnsiIsUtf8() && IsAscii(text)) return LoadInto(state, std::string(text));
    return LoadInto(
        state, platform::WideToUtf8String(platform::AnsiToWideString(text.data(), text.size())));
  } catch (...) {
    return DomNode();
  }
}

DomNode DomNode::SelectSingleNode(std::wstring_view path) const {
  if (IsEmpty()) return DomNode();
  return RaisingDomErrors([&] {
    const XPathObjectPtr found = Evaluate(DomBackend::Node(*this), path);
    const xmlNodeSet* nodes = found->nodesetval;
    if (nodes == nullptr) return DomNode();
    for (int i = 0; i < nodes->nodeNr; ++i) {
      if (IsDocumentNode(nodes->nodeTab[i]))
        return DomBackend::MakeNode(keeper_, nodes->nodeTab[i]);
    }
    return DomNode();
  });
}

DomNodeList DomNode::SelectNodes(std::wstring_view path) const {
  if (IsEmpty()) throw DomError(kDomErrorPointer);
  return RaisingDomErrors([&] {
    const XPathObjectPtr found = Evaluate(DomBackend::Node(*this), path);
    auto state = std::make_shared<DomNodeList::State>();
    state->document = DomBackend::Document(*this);
    if (const xmlNodeSet* nodes = found->nodesetval) {
      state->nodes.reserve(static_cast<size_t>(nodes->nodeNr));
      for (int i = 0; i < nodes->nodeNr; ++i) {
        if (IsDocumentNode(nodes->nodeTab[i])) state->nodes.push_back(nodes->nodeTab[i]);
      }
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
    const xmlNodePtr node = state_->nodes[state_->next++];
    if (node->type != XML_ELEMENT_NODE) continue;
    if (!filter.empty() && filter != NodeName(node)) continue;
    return DomBackend::MakeNode(state_->document, node);
  }
  return DomNode();
}

}  // namespace voicecontrol
