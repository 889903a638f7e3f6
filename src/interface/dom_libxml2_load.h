// Loading a text into libxml2's tree, for the files of the libxml2 DOM.
//
// Every call into libxml2 needs the same two safeguards around it, the
// parses here and the XPath queries of dom_libxml2_xpath.cc alike: the
// library initialised once before two threads use it, and the calling
// thread's error handlers pointed into this library for the length of the
// call, so that a host that uses libxml2 itself sees nothing of it.
#ifndef VOICECONTROL_INTERFACE_DOM_LIBXML2_LOAD_H_
#define VOICECONTROL_INTERFACE_DOM_LIBXML2_LOAD_H_

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <string_view>

namespace voicecontrol {

// libxml2's texts as the C library's: the same UTF-8 bytes.
inline const char* AsChars(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

// Readies libxml2 for use on any thread; the calls after the first cost
// nothing.
void InitializeLibxml2Once();

// Errors end the parse (or the query) and are not printed anywhere: the
// caller learns of them from the result, a parse's caller also from the
// error detail.
void IgnoreError(void*, xmlErrorPtr);

// While it lives, the calling thread's libxml2 error handlers are
// `handler` (with `data`) and a sink for unstructured messages; the host's
// own handlers, if it set any on this thread, come back afterwards.
class ThreadErrorsRedirected {
 public:
  ThreadErrorsRedirected(void* data, xmlStructuredErrorFunc handler);
  ~ThreadErrorsRedirected();
  ThreadErrorsRedirected(const ThreadErrorsRedirected&) = delete;
  ThreadErrorsRedirected& operator=(const ThreadErrorsRedirected&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structured_data_;
  xmlGenericErrorFunc generic_;
  void* generic_data_;
};

struct DocumentDeleter {
  void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
};
using DocumentPtr = std::unique_ptr<xmlDoc, DocumentDeleter>;

// The document `utf8` holds, or null when it is not a well-formed document;
// then, with `note_reason`, the reason is noted as the error detail.
DocumentPtr ParseUtf8(std::string_view utf8, bool note_reason);

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_LIBXML2_LOAD_H_
