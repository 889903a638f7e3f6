// The DOM access layer on the system's COM XML DOM (MSXML).
//
// This is the one file of the interface subsystem that talks to the
// operating system: the DOM is a system service here. The host initialises
// COM on every thread that loads documents; this file never does.
//
// Failing DOM calls report the call's HRESULT, which the inline calls of
// dom.h raise as `_com_error` in the host's module: no exception leaves this
// DLL, whose C++ runtime is its own (see dom.h). Loading reports nothing: it
// yields an empty root and notes the reason for the thread's error detail.
// winsock2.h (which dom.h needs) has to come before windows.h.
// clang-format off
#include <winsock2.h>
#include <comdef.h>
#include <msxml.h>
#include <ole2.h>
#include <windows.h>
// clang-format on

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include <voicecontrol/interface/dom.h>
#include <voicecontrol/xml/xml.h>
#include "interface/dom_text.h"
#include "interface/error_detail.h"
#include "interface/plain_answer.h"
#include "platform/codepage.h"

namespace voicecontrol {

namespace {

// The identities are spelled out so that no import library of GUIDs is needed.
const CLSID kDomDocumentClass = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kUnknownInterface = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kDomNodeInterface = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// In-process server, in-process handler or local server: whichever the
// system registered for the DOM document class.
constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
static_assert(kClassContext == 7, "class context of the DOM document");

// Wine's DOM (its msxml3, on a libxml2 of its own) corrupts its heap, or
// deadlocks, when documents load on several threads at once: there loads
// take turns. Windows' own DOM loads separate documents side by side.
std::unique_lock<std::mutex> TurnToLoad() {
  static std::mutex turns;
  static const bool onWine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return onWine ? std::unique_lock<std::mutex>(turns) : std::unique_lock<std::mutex>();
}

// Inside this file failures travel as `_com_error`; Reporting ends their
// journey at the exported call.
void ThrowIfFailed(HRESULT result) {
  if (FAILED(result)) throw _com_error(result);
}

// Runs `body`, storing what it returns in `*result`: S_OK, or the HRESULT
// of the failure it raised (an exhausted heap is E_OUTOFMEMORY).
template <typename Result, typename Body>
std::int32_t Reporting(Result* result, Body body) noexcept {
  try {
    *result = body();
    return S_OK;
  } catch (const _com_error& error) {
    return error.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// One reference to a COM object, released when the holder goes.
template <typename Interface>
class ComReference {
 public:
  ComReference() = default;
  explicit ComReference(Interface* pointer) : pointer_(pointer) {}
  ~ComReference() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComReference(const ComReference&) = delete;
  ComReference& operator=(const ComReference&) = delete;

  Interface* get() const { return pointer_; }
  Interface** out() { return &pointer_; }  // for calls that hand out a new reference
  Interface* release() { return std::exchange(pointer_, nullptr); }

 private:
  Interface* pointer_ = nullptr;
};

// A BSTR copy of a wide text, owned for the length of one call.
class BstrText {
 public:
  explicit BstrText(std::wstring_view text)
      : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (text_ == nullptr) throw _com_error(E_OUTOFMEMORY);
  }
  ~BstrText() { SysFreeString(text_); }
  BstrText(const BstrText&) = delete;
  BstrText& operator=(const BstrText&) = delete;

  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

// Copies a BSTR the DOM handed out and frees it.
std::wstring TakeBstr(BSTR text) {
  if (text == nullptr) return std::wstring();
  std::wstring copy(text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

void ReleaseNode(void* node) { static_cast<IXMLDOMNode*>(node)->Release(); }

// Why the DOM service could not be used: the host's part when COM was never
// initialised on this thread, else the service's own result.
void NoteServiceFailure(HRESULT result) {
  if (result == CO_E_NOTINITIALIZED) {
    internal::NoteErrorDetail("COM is not initialised on this thread");
    return;
  }
  char detail[64];
  std::snprintf(detail, sizeof detail, "XML DOM service unavailable (HRESULT 0x%08lX)",
                static_cast<unsigned long>(result));
  internal::NoteErrorDetail(detail);
}

// A fresh DOM document, configured for loading; null, with the reason
// noted, when the service cannot give one.
IXMLDOMDocument* CreateDocument() {
  try {
    ComReference<IUnknown> unknown;
    HRESULT result = CoCreateInstance(kDomDocumentClass, nullptr, kClassContext, kUnknownInterface,
                                      reinterpret_cast<void**>(unknown.out()));
    if (SUCCEEDED(result)) result = OleRun(unknown.get());
    ComReference<IXMLDOMDocument> document;
    if (SUCCEEDED(result)) {
      result = unknown.get()->QueryInterface(kDomDocumentInterface,
                                             reinterpret_cast<void**>(document.out()));
    }
    if (FAILED(result)) {
      NoteServiceFailure(result);
      return nullptr;
    }
    IXMLDOMDocument* dom = document.get();
    ThrowIfFailed(dom->put_async(VARIANT_FALSE));
    ThrowIfFailed(dom->put_preserveWhiteSpace(VARIANT_TRUE));
    ThrowIfFailed(dom->put_resolveExternals(VARIANT_FALSE));
    return document.release();
  } catch (const _com_error& error) {
    NoteServiceFailure(error.Error());
    return nullptr;
  }
}

// Where the library's own XML parser finds `text` failing, for a DOM that
// reports no position (Wine's gives neither line nor reason). False when
// that parser finds no fault.
bool LocateWithOwnParser(const std::wstring& text, long* line, long* column, std::string* reason) {
  const std::string utf8 = platform::WideToUtf8String(text);
  char message[kXmlMessageSize] = {};
  XmlNode* root = XmlParser::ParseOrFail(utf8.c_str(), message);
  if (root != nullptr) {
    delete root;
    return false;
  }
  // "line %d, col %d, <reason>"
  int read_line = 0;
  int read_column = 0;
  int consumed = 0;
  if (std::sscanf(message, "line %d, col %d, %n", &read_line, &read_column, &consumed) < 2 ||
      read_line <= 0) {
    return false;
  }
  *line = read_line;
  *column = read_column;
  *reason = message + consumed;
  return true;
}

// Where and why the last load of `dom` failed, as the DOM reports it.
void NoteParseFailure(IXMLDOMDocument* dom, const std::wstring& text) {
  long line = 0;
  long column = 0;
  std::string reason;
  ComReference<IXMLDOMParseError> error;
  if (SUCCEEDED(dom->get_parseError(error.out())) && error.get() != nullptr) {
    error.get()->get_line(&line);
    error.get()->get_linepos(&column);
    BSTR said = nullptr;
    if (SUCCEEDED(error.get()->get_reason(&said)) && said != nullptr) {
      reason = platform::WideToUtf8String(said, SysStringLen(said));
    }
    SysFreeString(said);
  }
  if (line <= 0) LocateWithOwnParser(text, &line, &column, &reason);
  internal::NoteErrorDetail(
      NotWellFormedDetail(static_cast<int>(line), static_cast<int>(column), reason));
}

}  // namespace

struct DomDocument::State {
  explicit State(IXMLDOMDocument* pointer) : document(pointer) {}
  ComReference<IXMLDOMDocument> document;
  // Created by Prepare and not loaded yet: the next load uses it.
  bool prepared = false;
};

struct DomNodeList::State {
  explicit State(IXMLDOMNodeList* pointer) : list(pointer) {}
  ComReference<IXMLDOMNodeList> list;
};

// Conversions between the portable handles and the COM interfaces. Each
// node handle owns one reference to its IXMLDOMNode.
struct DomBackend {
  // Takes over the reference `node` carries; null gives the empty node.
  static DomNode AdoptNode(IXMLDOMNode* node) {
    if (node == nullptr) return DomNode();
    try {
      std::shared_ptr<void> keeper(node, ReleaseNode);  // releases `node` itself if this throws
      return DomNode(std::move(keeper), node);
    } catch (const std::bad_alloc&) {
      throw _com_error(E_OUTOFMEMORY);
    }
  }

  static IXMLDOMNode* Node(const DomNode& node) { return static_cast<IXMLDOMNode*>(node.node_); }

  static DomNodeList AdoptList(IXMLDOMNodeList* list) {
    ComReference<IXMLDOMNodeList> owner(list);
    try {
      auto state = std::make_shared<DomNodeList::State>(owner.get());
      owner.release();
      return DomNodeList(std::move(state));
    } catch (const std::bad_alloc&) {
      throw _com_error(E_OUTOFMEMORY);
    }
  }
};

bool DomDocument::Prepare() {
  state_.reset();
  IXMLDOMDocument* document = CreateDocument();
  if (document == nullptr) return false;
  try {
    state_ = std::make_shared<State>(document);
  } catch (const std::bad_alloc&) {
    document->Release();
    internal::NoteErrorDetail("out of memory");
    return false;
  }
  state_->prepared = true;
  return true;
}

// The system DOM loads every document itself: there is no plain reading.
const PlainDocument* PlainReadingOf(const DomNode&) { return nullptr; }

DomNode DomDocument::LoadXml(const std::wstring& text) {
  // A prepared document is used once; every other load creates its own.
  if (state_ == nullptr || !state_->prepared) {
    state_.reset();
    IXMLDOMDocument* document = CreateDocument();
    if (document == nullptr) return DomNode();
    try {
      state_ = std::make_shared<State>(document);
    } catch (const std::bad_alloc&) {
      document->Release();
      return DomNode();
    }
  }
  state_->prepared = false;
  IXMLDOMDocument* dom = state_->document.get();
  if (!IsAcceptableXmlText(text)) {
    internal::NoteErrorDetail("document is not well-formed XML: it holds a NUL character");
    return DomNode();
  }
  try {
    // The declared encoding (GB2312 in our documents) cannot apply to a
    // Unicode string, and some DOM implementations refuse the text for it;
    // blanked rather than cut, it leaves the DOM's columns those of the text.
    std::wstring source_text = text;
    BlankEncodingDeclaration(&source_text);
    const BstrText source(source_text);
    VARIANT_BOOL parsed = VARIANT_FALSE;
    const std::unique_lock<std::mutex> turn = TurnToLoad();
    // A failed parse shows as a missing element.
    if (FAILED(dom->loadXML(source.get(), &parsed)) || parsed != VARIANT_TRUE) {
      NoteParseFailure(dom, source_text);
    }
  } catch (...) {
    // Loading reports every failure by an empty root.
  }

  ComReference<IXMLDOMElement> element;
  if (FAILED(dom->get_documentElement(element.out())) || element.get() == nullptr) {
    return DomNode();
  }
  IXMLDOMNode* root = nullptr;
  if (FAILED(element.get()->QueryInterface(kDomNodeInterface, reinterpret_cast<void**>(&root)))) {
    return DomNode();
  }
  try {
    return DomBackend::AdoptNode(root);
  } catch (...) {
    return DomNode();
  }
}

DomNode DomDocument::LoadAnsiXml(std::string_view text) {
  try {
    return LoadXml(platform::AnsiToWideString(text.data(), text.size()));
  } catch (...) {
    state_.reset();
    return DomNode();
  }
}

std::int32_t DomNode::SelectSingleNodeOrError(std::wstring_view path,
                                              DomNode* found) const noexcept {
  return Reporting(found, [&] {
    if (IsEmpty()) return DomNode();
    const BstrText query(path);
    IXMLDOMNode* first = nullptr;  // stays null (S_FALSE) when nothing matches
    ThrowIfFailed(DomBackend::Node(*this)->selectSingleNode(query.get(), &first));
    return DomBackend::AdoptNode(first);
  });
}

std::int32_t DomNode::SelectNodesOrError(std::wstring_view path,
                                         DomNodeList* nodes) const noexcept {
  return Reporting(nodes, [&] {
    if (IsEmpty()) throw _com_error(E_POINTER);
    const BstrText query(path);
    IXMLDOMNodeList* list = nullptr;
    ThrowIfFailed(DomBackend::Node(*this)->selectNodes(query.get(), &list));
    if (list == nullptr) return DomNodeList();
    DomNodeList adopted = DomBackend::AdoptList(list);
    ThrowIfFailed(list->reset());
    return adopted;
  });
}

std::int32_t DomNode::GetTextOrError(std::wstring* text) const noexcept {
  return Reporting(text, [&] {
    if (IsEmpty()) return std::wstring();
    BSTR said = nullptr;
    ThrowIfFailed(DomBackend::Node(*this)->get_text(&said));
    return TakeBstr(said);
  });
}

std::int32_t DomNode::GetNameOrError(std::wstring* name) const noexcept {
  return Reporting(name, [&] {
    if (IsEmpty()) return std::wstring();
    BSTR said = nullptr;
    ThrowIfFailed(DomBackend::Node(*this)->get_nodeName(&said));
    return TakeBstr(said);
  });
}

std::int32_t DomNodeList::NextElementOrError(DomNode* element) noexcept {
  return Reporting(element, [&] {
    if (state_ == nullptr) throw _com_error(E_POINTER);
    for (;;) {
      IXMLDOMNode* next = nullptr;
      ThrowIfFailed(state_->list.get()->nextNode(&next));
      DomNode node = DomBackend::AdoptNode(next);
      if (node.IsEmpty()) return node;  // the list is exhausted
      DOMNodeType type = NODE_INVALID;
      ThrowIfFailed(next->get_nodeType(&type));
      if (type != NODE_ELEMENT) continue;
      if (!filter_.empty() && node.GetName() != filter_) continue;
      return node;
    }
  });
}

}  // namespace voicecontrol
