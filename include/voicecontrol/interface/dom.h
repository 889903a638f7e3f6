/// @file
/// A thin, portable access layer over an XML DOM: load a document from wide
/// text, select nodes with XPath, walk a node list, read a node's text.
///
/// Two backends implement it: on Windows the system's COM XML DOM (MSXML),
/// elsewhere libxml2. Both load exactly the well-formed XML 1.0 documents,
/// expand the entities a document declares in its internal DTD subset, keep
/// white space, resolve nothing external and ignore the encoding named in the
/// XML declaration, since the text handed to LoadXml is already Unicode.
///
/// Errors: LoadXml never raises; a text that cannot be loaded gives an empty
/// root, and the reason is noted for the thread's error detail (for
/// example "document is not well-formed XML (line 3, column 7): ..." or "COM
/// is not initialised on this thread"); nothing is ever written to the
/// process's output streams. Every other call raises the platform's DOM
/// error when the DOM service fails (a query it cannot evaluate, memory
/// exhausted, a null object used): `_com_error` on Windows, `DomError`
/// elsewhere. Finding no node is not an error.
///
/// The calls that raise are inline: the library's exported call underneath
/// reports a result code, and the exception is raised in the caller's own
/// module (RaiseIfDomFailed). On Windows voicecontrol.dll carries the C++
/// runtime linked in statically, so that a host ships one DLL; each module
/// then has an unwinder of its own, and an exception must never travel from
/// the DLL's frames into the host's.
///
/// Objects are used by one thread at a time. Nodes and node lists keep the
/// storage of their document alive, so they stay usable after the DomDocument
/// that produced them is gone.
#ifndef VOICECONTROL_INTERFACE_DOM_H_
#define VOICECONTROL_INTERFACE_DOM_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include <voicecontrol/export.h>

#if defined(_WIN32)
// _com_error, the DOM error on Windows. <comdef.h> brings in <windows.h>,
// before which Windows Sockets' header must come (a host's later
// <winsock2.h> would warn otherwise).
// clang-format off
#include <winsock2.h>
#include <comdef.h>
// clang-format on
#endif

namespace voicecontrol {

/// Result codes carried by DOM errors; the values are the COM HRESULTs the
/// Windows backend reports for the same causes.
constexpr std::int32_t kDomErrorFail = static_cast<std::int32_t>(0x80004005u);     ///< E_FAIL
constexpr std::int32_t kDomErrorPointer = static_cast<std::int32_t>(0x80004003u);  ///< E_POINTER
constexpr std::int32_t kDomErrorOutOfMemory =
    static_cast<std::int32_t>(0x8007000Eu);  ///< E_OUTOFMEMORY

#if !defined(_WIN32)
/// The DOM error of the portable backend, the counterpart of `_com_error`:
/// one exception type for every failing DOM call, carrying a result code.
class VC_API DomError : public std::runtime_error {
 public:
  /// An error with a result code.
  /// @param code kDomErrorFail, kDomErrorPointer or kDomErrorOutOfMemory.
  explicit DomError(std::int32_t code);
  /// The result code, named like `_com_error::Error`.
  /// @return kDomErrorFail, kDomErrorPointer or kDomErrorOutOfMemory.
  std::int32_t Error() const { return code_; }

 private:
  std::int32_t code_;
};
#endif

/// Raises the platform's DOM error for a failed result code: `_com_error`
/// on Windows, DomError elsewhere. Inline, so that the exception is thrown
/// in the module of the caller, who catches it.
/// @param code a result code: 0 or any other non-negative code is success
///        (nothing is raised); kDomErrorFail, kDomErrorPointer,
///        kDomErrorOutOfMemory or, on Windows, any failed HRESULT is raised.
inline void RaiseIfDomFailed(std::int32_t code) {
  if (code >= 0) return;
#if defined(_WIN32)
  throw _com_error(code);
#else
  throw DomError(code);
#endif
}

class DomNodeList;
struct DomBackend;

/// One node of a loaded document, or the empty node. Cheap to copy.
class VC_API DomNode {
 public:
  /// The empty node.
  DomNode() = default;

  /// @return whether this is the empty node.
  bool IsEmpty() const { return node_ == nullptr; }

  /// Selects one node.
  /// @param path an XPath 1.0 expression, evaluated with this node as the
  ///        context.
  /// @return the first node it selects; the empty node when nothing matches
  ///         or this node is empty.
  inline DomNode SelectSingleNode(std::wstring_view path) const;

  /// Selects every node `path` selects. Raises kDomErrorPointer on an empty
  /// node.
  /// @param path an XPath 1.0 expression, evaluated with this node as the
  ///        context.
  /// @return the nodes in document order, positioned at the first.
  inline DomNodeList SelectNodes(std::wstring_view path) const;

  /// @return the character data of the node and all its descendants, in
  ///         document order, white space included; "" for the empty node.
  inline std::wstring GetText() const;

  /// @return the node's name ("#text" for character data); "" for the empty
  ///         node.
  inline std::wstring GetName() const;

 private:
  friend struct DomBackend;
  // The exported calls under the inline ones above: each stores its result
  // in the out-parameter and returns 0, or returns the DOM error's result
  // code and raises nothing.
  std::int32_t SelectSingleNodeOrError(std::wstring_view path, DomNode* found) const noexcept;
  std::int32_t SelectNodesOrError(std::wstring_view path, DomNodeList* nodes) const noexcept;
  std::int32_t GetTextOrError(std::wstring* text) const noexcept;
  std::int32_t GetNameOrError(std::wstring* name) const noexcept;

  DomNode(std::shared_ptr<void> keeper, void* node) : keeper_(std::move(keeper)), node_(node) {}

  // Keeps alive what the backend needs for `node_`: the document storage,
  // or the node itself where the backend counts references per node.
  std::shared_ptr<void> keeper_;
  void* node_ = nullptr;
};

/// A list of selected nodes with a cursor and an element-name filter. An
/// empty filter accepts every element. Movable, not copyable: the cursor
/// belongs to one reader.
class VC_API DomNodeList {
 public:
  struct State;  ///< The list's storage, defined by the backend.

  /// A list never obtained (IsEmpty).
  DomNodeList() = default;
  DomNodeList(DomNodeList&&) = default;             ///< Takes over list and cursor.
  /// Takes over list and cursor. @return this list.
  DomNodeList& operator=(DomNodeList&&) = default;
  DomNodeList(const DomNodeList&) = delete;             ///< Not copyable.
  DomNodeList& operator=(const DomNodeList&) = delete;  ///< Not copyable.

  /// @return true when no list was obtained.
  bool IsEmpty() const { return state_ == nullptr; }

  /// Sets the element-name filter of NextElement.
  /// @param element_name the name elements must have; "" accepts every element.
  void SetFilter(std::wstring element_name) { filter_ = std::move(element_name); }

  /// Moves the cursor on. Raises kDomErrorPointer on a list that was never
  /// obtained.
  /// @return the next element node of the list that passes the filter,
  ///         skipping nodes of other kinds; the empty node once the list is
  ///         exhausted.
  inline DomNode NextElement();

 private:
  friend struct DomBackend;
  // The exported call under NextElement, reporting as DomNode's do.
  std::int32_t NextElementOrError(DomNode* element) noexcept;

  explicit DomNodeList(std::shared_ptr<State> state) : state_(std::move(state)) {}

  std::shared_ptr<State> state_;
  std::wstring filter_;
};

/// One DOM document. Each LoadXml creates a fresh document.
class VC_API DomDocument {
 public:
  struct State;  ///< The document's storage, defined by the backend.

  /// No document yet.
  DomDocument() = default;
  DomDocument(DomDocument&&) = default;             ///< Takes over the document.
  /// Takes over the document. @return this document.
  DomDocument& operator=(DomDocument&&) = default;
  DomDocument(const DomDocument&) = delete;             ///< Not copyable.
  DomDocument& operator=(const DomDocument&) = delete;  ///< Not copyable.

  /// Creates the DOM document that the next load fills, so that a caller
  /// learns before it has a text whether the DOM service can be used on this
  /// thread. Optional: a load without it creates its document itself.
  /// @return false, with the reason noted as for LoadXml, when it cannot.
  bool Prepare();

  /// Creates a fresh document from `text`. Never raises.
  /// @param text the whole document.
  /// @return its document element; the empty node when the DOM service is
  ///         unavailable or the text is not a well-formed document.
  DomNode LoadXml(const std::wstring& text);
  /// LoadXml for a text in the ANSI code page, as it comes off the wire: it
  /// gives the same document as LoadXml with the text decoded first, but a
  /// backend that parses that code page itself saves the decoding.
  /// @param text the whole document's bytes.
  /// @return as LoadXml.
  DomNode LoadAnsiXml(std::string_view text);

 private:
  std::shared_ptr<State> state_;
};

inline DomNode DomNode::SelectSingleNode(std::wstring_view path) const {
  DomNode found;
  RaiseIfDomFailed(SelectSingleNodeOrError(path, &found));
  return found;
}

inline DomNodeList DomNode::SelectNodes(std::wstring_view path) const {
  DomNodeList nodes;
  RaiseIfDomFailed(SelectNodesOrError(path, &nodes));
  return nodes;
}

inline std::wstring DomNode::GetText() const {
  std::wstring text;
  RaiseIfDomFailed(GetTextOrError(&text));
  return text;
}

inline std::wstring DomNode::GetName() const {
  std::wstring name;
  RaiseIfDomFailed(GetNameOrError(&name));
  return name;
}

inline DomNode DomNodeList::NextElement() {
  DomNode element;
  RaiseIfDomFailed(NextElementOrError(&element));
  return element;
}

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_DOM_H_
