// Turns a text into libxml2's tree, or refuses it, without letting libxml2
// reach past the text.
//
// libxml2 is a conforming XML 1.0 parser: it loads exactly the well-formed
// documents. Left to its defaults it would also fetch external entities and
// DTDs, print errors on stderr and obey settings a host made for its own
// parses. Here every parse has a parser context of its own, configured
// through that context alone, so no global setting changes and documents
// load on many threads at once; external resources are never opened; and
// the reason a text is refused becomes the error detail. Kept apart from
// the DOM calls because this is where the library's safety against hostile
// answers lives.
#include "interface/dom_libxml2_load.h"

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
#include <string>
#include <string_view>
#include <vector>

#include "interface/dom_text.h"
#include "interface/error_detail.h"

namespace voicecontrol {

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

void IgnoreMessage(void*, const char*, ...) {}

}  // namespace

void InitializeLibxml2Once() {
  // xmlInitParser must have finished before two threads parse at once.
  static const bool initialized = (xmlInitParser(), true);
  (void)initialized;
}

void IgnoreError(void*, xmlErrorPtr) {}

ThreadErrorsRedirected::ThreadErrorsRedirected(void* data, xmlStructuredErrorFunc handler)
    : structured_(xmlStructuredError),
      structured_data_(xmlStructuredErrorContext),
      generic_(xmlGenericError),
      generic_data_(xmlGenericErrorContext) {
  xmlSetStructuredErrorFunc(data, handler);
  xmlSetGenericErrorFunc(nullptr, IgnoreMessage);
}

ThreadErrorsRedirected::~ThreadErrorsRedirected() {
  xmlSetStructuredErrorFunc(structured_data_, structured_);
  xmlSetGenericErrorFunc(generic_data_, generic_);
}

namespace {

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

}  // namespace

DocumentPtr ParseUtf8(std::string_view utf8, bool note_reason) {
  if (utf8.size() > static_cast<size_t>(INT_MAX)) {
    if (note_reason) internal::NoteErrorDetail("document too long for the XML parser");
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
      if (note_reason) internal::NoteErrorDetail("XML parser out of memory");
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
      internal::NoteErrorDetail(NotWellFormedDetail(reason.line, reason.column, reason.message));
    }
    return nullptr;
  }
  // Numbers the elements, so that XPath sorts node sets in constant time
  // per comparison.
  xmlXPathOrderDocElems(document.get());
  return document;
}

}  // namespace voicecontrol
