// The DOM access layer on libxml2, for systems without the COM XML DOM.
//
// libxml2 is a conforming XML 1.0 parser: it loads exactly the well-formed
// documents, and its XPath 1.0 engine answers the queries. It works on
// UTF-8: wide texts are converted on the way in (documents and queries) and
// on the way out (node texts and names).
//
// Every parse has a parser context of its own, configured through that
// context alone, so a host that uses libxml2 itself sees no global setting
// change, and documents load on many threads at once. libxml2 reports some
// errors past the context, through the calling thread's error handlers: for
// the length of each parse and query those point into the library, and are
// then put back, so nothing reaches the process's stderr.
//
// Most answers are plain documents (see plain_document.h). Those are read in
// one pass without a libxml2 tree, and the paths the interface messages use,
// "//A/B/C", are answered from that reading. libxml2 builds its tree only for
// the other texts, or for a plain one when a query needs the XPath engine.
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
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
#include "interface/failure_detail.h"
#include "interface/plain_document.h"
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
// caller learns of them from the result, a parse's caller also from the
// failure detail.
void IgnoreError(void*, xmlErrorPtr) {}
void IgnoreMessage(void*, const char*, ...) {}

// While it lives, the calling thread's libxml2 error handlers are
// `handler` (with `data`) and a sink for unstructured messages; the host's
// own handlers, if it set any on this thread, come back afterwards.
class ThreadErrorsRedirected {
 public:
  ThreadErrorsRedirected(void* data, xmlStructuredErrorFunc handler)
      : structured_(xmlStructuredError),
        structured_data_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        generic_data_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(data, handler);
    xmlSetGenericErrorFunc(nullptr, IgnoreMessage);
  }
  ~ThreadErrorsRedirected() {
    xmlSetStructuredErrorFunc(structured_data_, structured_);
    xmlSetGenericErrorFunc(generic_data_, generic_);
  }
  ThreadErrorsRedirected(const ThreadErrorsRedirected&) = delete;
  ThreadErrorsRedirected& operator=(const ThreadErrorsRedirected&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structured_data_;
  xmlGenericErrorFunc generic_;
  void* generic_data_;
};

// What a parse reported: its first fatal error (the one that makes a text no
// document) and its first error of any other kind (a namespace error).
struct ParseReport {
  struct Error {
    bool seen = false;
    int line = 0;
    int column = 0;
    std::string message;
  };
  Error fatal;
  Error other;
  // The entities the document declared as external, which libxml2 knows
  // only as empty internal ones (see DeclareEntity).
  std::vector<const xmlEntity*> external;

  const Error& Reason() const { return fatal.seen ? fatal : other; }
  bool IsExternal(const xmlEntity* entity) const {
    return std::find(external.begin(), external.end(), entity) != external.end();
  }
};

void Keep(const xmlError& error, ParseReport::Error* kept) {
  if (kept->seen) return;
  kept->seen = true;
  kept->line = error.line;
  kept->column = error.int2;  // the column, for the parser's errors
  if (error.message != nullptr) kept->message = error.message;
}

// The parse's error handler, on both channels: `data` is the parser
// context, whose _private points at the parse's report.
void KeepParseError(void* data, xmlErrorPtr error) {
  const auto context = static_cast<xmlParserCtxtPtr>(data);
  if (context == nullptr || error == nullptr || context->_private == nullptr) return;
  auto* report = static_cast<ParseReport*>(context->_private);
  if (error->level == XML_ERR_FATAL) {
    Keep(*error, &report->fatal);
  } else if (error->level == XML_ERR_ERROR) {
    Keep(*error, &report->other);
  }
}

xmlChar kNoText[] = "";

const char* AsChars(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

ParseReport* ReportOf(void* data) {
  const auto context = static_cast<xmlParserCtxtPtr>(data);
  return context != nullptr ? static_cast<ParseReport*>(context->_private) : nullptr;
}

// External entities are never fetched: each one is declared as an internal
// entity without text, so its references in content expand to nothing, as
// they do in the Windows DOM when external resolution is off. Everything
// else is declared as libxml2 declares it. An external general entity is
// remembered, so that FindEntity can still refuse it where XML forbids it.
void DeclareEntity(void* data, const xmlChar* name, int type, const xmlChar* public_id,
                   const xmlChar* system_id, xmlChar* content) {
  switch (type) {
    case XML_EXTERNAL_GENERAL_PARSED_ENTITY: {
      const auto context = static_cast<xmlParserCtxtPtr>(data);
      // The first declaration of a name binds it; libxml2 ignores the others.
      const bool bound = xmlGetDocEntity(context->myDoc, name) != nullptr;
      xmlSAX2EntityDecl(data, name, XML_INTERNAL_GENERAL_ENTITY, nullptr, nullptr, kNoText);
      ParseReport* report = ReportOf(data);
      const xmlEntity* declared = bound ? nullptr : xmlGetDocEntity(context->myDoc, name);
      if (report == nullptr || declared == nullptr) return;
      try {  // nothing may be thrown through libxml2's frames
        report->external.push_back(declared);
      } catch (...) {
        // Unremembered, its references could not be judged: no document.
        context->wellFormed = 0;
        xmlStopParser(context);
      }
      return;
    }
    case XML_EXTERNAL_PARAMETER_ENTITY:
      xmlSAX2EntityDecl(data, name, XML_INTERNAL_PARAMETER_ENTITY, nullptr, nullptr, kNoText);
      return;
    default:
      xmlSAX2EntityDecl(data, name, type, public_id, system_id, content);
  }
}

// The entity a reference names. XML forbids references to external entities
// in attribute values, directly or through the entities an attribute's
// entities hold (libxml2 asks for each of them while it is inside the value,
// including a default value in an attribute-list declaration): such a text
// is no document, and the Windows DOM refuses it, so the parse ends here
// with that reason.
xmlEntityPtr FindEntity(void* data, const xmlChar* name) {
  xmlEntityPtr entity = xmlSAX2GetEntity(data, name);
  const auto context = static_cast<xmlParserCtxtPtr>(data);
  ParseReport* report = ReportOf(data);
  if (entity == nullptr || report == nullptr || context->instate != XML_PARSER_ATTRIBUTE_VALUE ||
      !report->IsExternal(entity)) {
    return entity;
  }
  if (!report->fatal.seen) {
    report->fatal.seen = true;
    if (context->input != nullptr) {
      report->fatal.line = context->input->line;
      report->fatal.column = context->input->col;
    }
    try {  // nothing may be thrown through libxml2's frames
      report->fatal.message =
          std::string("attribute value refers to external entity '") + AsChars(name) + "'";
    } catch (...) {
    }
  }
  context->wellFormed = 0;
  xmlStopParser(context);
  return entity;
}

// The hook through which libxml2 would open an external resource: refused,
// should any path of the parser still ask for one.
xmlParserInputPtr RefuseExternalResource(void*, const xmlChar*, const xmlChar*) { return nullptr; }

// Points this context's own copy of the SAX handler at the hooks above.
void ConfineToTheText(xmlParserCtxtPtr context) {
  xmlSAXHandler* sax = context->sax;
  sax->entityDecl = DeclareEntity;
  sax->getEntity = FindEntity;
  sax->resolveEntity = RefuseExternalResource;
  sax->externalSubset = nullptr;  // the external DTD is never read
  sax->serror = KeepParseError;
  // Defaults a host may have changed for its own parses.
  context->loadsubset = 0;
  context->validate = 0;
}

struct DocumentDeleter {
  void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
};
using DocumentPtr = std::unique_ptr<xmlDoc, DocumentDeleter>;

// The document `utf8` holds, or null when it is not a well-formed document;
// then, with `note_reason`, the reason is noted as the failure detail.
DocumentPtr ParseUtf8(std::string_view utf8, bool note_reason) {
  if (utf8.size() > static_cast<size_t>(INT_MAX)) {
    if (note_reason) internal::NoteFailureDetail("document too long for the XML parser");
    return nullptr;
  }
  InitializeLibxml2Once();
  ParseReport report;
  bool well_formed = false;
  DocumentPtr document;
  {
    // Context creation may report too (memory exhausted): redirected first.
    ThreadErrorsRedirected redirected(nullptr, IgnoreError);
    xmlParserCtxtPtr context =
        xmlCreateMemoryParserCtxt(utf8.data(), static_cast<int>(utf8.size()));
    if (context == nullptr) {
      if (note_reason) internal::NoteFailureDetail("XML parser out of memory");
      return nullptr;
    }
    context->_private = &report;
    xmlSetStructuredErrorFunc(context, KeepParseError);
    xmlCtxtUseOptions(context, kParseOptions);
    ConfineToTheText(context);
    xmlParseDocument(context);
    document.reset(context->myDoc);
    // Namespace errors (an undeclared prefix) leave libxml2's document
    // standing, but a namespace-aware DOM, the Windows one, refuses it.
    well_formed = context->wellFormed != 0 && context->nsWellFormed != 0;
    context->myDoc = nullptr;
    context->_private = nullptr;
    xmlFreeParserCtxt(context);
  }
  if (!well_formed || xmlDocGetRootElement(document.get()) == nullptr) {
    if (note_reason) {
      const ParseReport::Error& reason = report.Reason();
      internal::NoteFailureDetail(NotWellFormedDetail(reason.line, reason.column, reason.message));
    }
    return nullptr;
  }
  // Numbers the elements, so that XPath sorts node sets in constant time
  // per comparison.
  xmlXPathOrderDocElems(document.get());
  return document;
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
  const ThreadErrorsRedirected redirected(nullptr, IgnoreError);
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

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// A node handle is either libxml2's node or, for an element of a plain
// document, the element's index shifted left with the low bit set: libxml2's
// nodes are aligned, so their low bit is always clear.
void* PlainHandle(size_t index) { return reinterpret_cast<void*>((uintptr_t{index} << 1) | 1); }
bool IsPlainHandle(const void* handle) { return (reinterpret_cast<uintptr_t>(handle) & 1) != 0; }
size_t PlainIndex(const void* handle) { return reinterpret_cast<uintptr_t>(handle) >> 1; }

// The element names of a path "//A/B/C": every element C whose parent is a
// B whose parent is an A, anywhere in the document, whatever the context.
struct ChildPath {
  static constexpr size_t kMaxSteps = 8;
  std::wstring_view steps[kMaxSteps];
  size_t count = 0;
};

bool IsPlainNameStart(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_';
}
bool IsPlainNameChar(wchar_t c) {
  return IsPlainNameStart(c) || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
}

// False for every path of another form; the XPath engine answers those.
// One pass over the characters: this runs for every value an answer holds.
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

// Plain names are ASCII: compared character by character with the wide step.
bool SameName(std::string_view name, std::wstring_view step) {
  if (name.size() != step.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (static_cast<wchar_t>(static_cast<unsigned char>(name[i])) != step[i]) return false;
  }
  return true;
}

bool Matches(const PlainDocument& document, size_t index, const ChildPath& path) {
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

// Elements are numbered in document order, so one pass in index order
// selects in document order.
template <typename Visit>
void ForEachMatch(const PlainDocument& document, const ChildPath& path, Visit visit) {
  const size_t count = document.elements().size();
  for (size_t i = 0; i < count; ++i) {
    if (Matches(document, i, path) && !visit(i)) return;
  }
}

// Whether the element `node` has the name `step` as the Windows DOM's
// default path language compares names: by the name as written (a step
// without a prefix never matches a prefixed element), whatever namespace a
// default namespace declaration put the element in.
bool SameName(const xmlNode* node, std::wstring_view step) {
  if (node->ns != nullptr && node->ns->prefix != nullptr) return false;
  return SameName(std::string_view(AsChars(node->name)), step);
}

bool TreeMatches(const xmlNode* node, const ChildPath& path) {
  for (size_t k = path.count; k-- > 0;) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE || !SameName(node, path.steps[k])) {
      return false;
    }
    node = node->parent;
  }
  return true;
}

// The elements under `root` (itself first) in document order.
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

std::wstring WideFromAscii(std::string_view text) { return std::wstring(text.begin(), text.end()); }

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

// libxml2 needs no preparation on the loading thread.
bool DomDocument::Prepare() { return true; }

namespace {

DomNode RefuseNul() {
  internal::NoteFailureDetail("document is not well-formed XML: it holds a NUL character");
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
    if (platform::AnsiIsUtf8() && IsAscii(text)) return LoadInto(state, std::string(text));
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
