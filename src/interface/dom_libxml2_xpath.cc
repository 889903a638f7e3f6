// The XPath queries of the libxml2 DOM, and what makes them cheap to repeat.
//
// The interface messages ask the same few paths again and again, on many
// threads. Setting up libxml2's XPath context registers every XPath
// function, and compiling a path costs more than evaluating it, so each
// thread keeps one context and the compiled paths are shared by all
// threads. Kept apart from the DOM calls because this state outlives every
// document and is shared between threads, which nothing else of the DOM is.
#include "interface/dom_libxml2_xpath.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include <voicecontrol/interface/dom.h>
#include "interface/dom_libxml2_load.h"
#include "platform/codepage.h"
#include "platform/thread.h"

namespace voicecontrol {

namespace {

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

}  // namespace

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

}  // namespace voicecontrol
