/// @file
/// A small XML parser for narrow (8-bit) text with line-and-column diagnostics.
///
/// - XmlParser::Parse: text to a tree of XmlNode and XmlAttr, or TXMLExcept
///   on the first error ("line 1, col 7, tag b not match a");
///   XmlParser::ParseOrFail does the same without exceptions.
/// - XmlNode: one element: name, text, attributes, children.
/// - XmlNode::ToString: tree to text.
///
/// The parser understands elements, attributes in single or double quotes, the
/// five predefined entities, CDATA sections, comments and processing
/// instructions (the last two are skipped). It does no namespace processing, no
/// DTDs and no numeric character references, and converts no character sets.
///
/// Each thread has a scanner state of its own, so threads may parse different
/// documents at the same time; a tree itself is not synchronised.
#ifndef VOICECONTROL_XML_XML_H_
#define VOICECONTROL_XML_XML_H_

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

#include <voicecontrol/export.h>

#ifndef VC_PRINTF_LIKE
#if defined(__GNUC__)
#define VC_PRINTF_LIKE(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define VC_PRINTF_LIKE(format_index, first_arg)
#endif
#endif

namespace voicecontrol {

class XmlNode;
class XmlAttr;
class XmlArena;
class XmlParsePaths;
struct XmlRootEnd;

/// Limits of the scanner's fixed buffers and of the tree.
constexpr int kXmlMaxNameLength = 64;     ///< element and attribute names in the tree
constexpr int kXmlMaxTokenLength = 255;   ///< a name or a quoted string in a tag
constexpr int kXmlMaxTextRun = 2047;      ///< one run of character data
constexpr int kXmlMaxCDataLength = 2048;  ///< the content of one CDATA section
constexpr int kXmlMaxElementText = 2048;  ///< all character data of one element
constexpr int kXmlMaxDepth = 256;         ///< nesting of elements, the root being 1
constexpr int kXmlMessageSize = 512;      ///< TXMLExcept message, NUL included

/// Token kinds. The codes index the table of display names that parse errors
/// print for an expected kind, so their order is fixed.
enum XmlTokenKind {
  TokNone = 0,           ///< ""
  TokTagOpen = 1,        ///< "<"
  TokTagClose = 2,       ///< ">"
  TokEndTagOpen = 3,     ///< "</"
  TokEmptyTagClose = 4,  ///< "/>"
  TokPiOpen = 5,         ///< "<?", never produced: instructions are skipped
  TokPiClose = 6,        ///< "?>", never produced
  TokText = 7,           ///< "text"
  TokName = 8,           ///< "tag/attrname"
  TokString = 9,         ///< "string"
  TokEquals = 10,        ///< "="
  TokEof = 11,           ///< "EOF"
  TokCData = 12,         ///< "CDATA"
  TokInvalid = 13,       ///< "invalid"
};

/// The name parse errors print for a token kind.
/// @param kind a token kind.
/// @return its display name ("<", "tag/attrname", ...); "" for a code
///         outside the table.
VC_API const char* XmlTokenDisplayName(XmlTokenKind kind);

/// Replaces the references \&amp; \&lt; \&gt; \&apos; \&quot; in place,
/// left to right; a replaced character is not examined again (\&amp;lt;
/// becomes \&lt;). Any other '&' stays as it is.
/// @param text a NUL-terminated text, changed in place; null does nothing.
VC_API void XmlDecode(char* text);

/// Copies at most size - 1 characters of `src` into `dst` and always
/// terminates `dst` (when size > 0).
/// @param dst the destination buffer.
/// @param src the text to copy; null gives an empty `dst`.
/// @param size the capacity of `dst` in bytes.
VC_API void CopyBounded(char* dst, const char* src, int size);

/// Escapes a text for XML.
/// @param text a NUL-terminated text; null gives an empty result.
/// @return `text` with & < > ' " replaced by entity references; nothing
///         else is escaped.
VC_API std::string XmlEncode(const char* text);

/// The parse error: the message names the line and column of the offending
/// token, e.g. "line 1, col 7, tag b not match a". Thrown and caught by value.
/// It has no base class, so a host's catch (const std::exception&) placed
/// before its catch (TXMLExcept&) does not take it.
class VC_API TXMLExcept {
 public:
  /// An error with a message.
  /// @param message the message; at most kXmlMessageSize - 1 characters
  ///        are kept.
  explicit TXMLExcept(const char* message);
  /// @return the message, NUL-terminated.
  const char* what() const noexcept;

 private:
  char message[kXmlMessageSize];
};

/// The scanner state and the parse entry.
///
/// There is one state per thread (XmlParser::Current); XmlParser::Parse resets
/// it, so callers normally never touch it. The fields are public so that the
/// scanner can be driven token by token: Reset, then NextToken repeatedly.
class VC_API XmlParser {
 public:
  /// Parses a whole text. Throws TXMLExcept on the first error, having
  /// destroyed everything it built (std::bad_alloc when memory runs out).
  /// Whatever follows the root is not examined.
  ///
  /// Inline over ParseOrFail, like every call of this header that throws:
  /// the exception is thrown in the caller's own module. On Windows
  /// voicecontrol.dll carries the C++ runtime linked in statically, so that
  /// a host ships one DLL; each module then has an unwinder of its own, and
  /// an exception must never travel from the DLL's frames into the host's
  /// (32-bit Windows ends the process with std::terminate).
  /// @param text a NUL-terminated XML text.
  /// @return its root element, which the caller owns (delete it).
  static inline XmlNode* Parse(const char* text) {
    char message[kXmlMessageSize] = {};
    XmlNode* root = ParseOrFail(text, message);
    if (root == nullptr) ThrowReported(message);
    return root;
  }

  /// Parse without exceptions: the text's root element, or null with the
  /// reason in `message`.
  /// @param text a NUL-terminated XML text.
  /// @param message receives, when the parse fails, the message Parse
  ///        would throw as TXMLExcept ("line 1, col 7, tag b not match a"),
  ///        or "" when memory ran out; left as it is on success.
  /// @return the root element, which the caller owns (delete it); null when
  ///         the parse failed, having destroyed everything it built.
  static XmlNode* ParseOrFail(const char* text, char (&message)[kXmlMessageSize]) noexcept;

  /// @return the calling thread's scanner state.
  static XmlParser& Current();

  /// Formats a message and throws it as TXMLExcept (inline, so that it is
  /// thrown in the caller's module: see Parse).
  /// @param format a printf format, followed by its arguments; the message
  ///        is cut to kXmlMessageSize - 1 characters.
  [[noreturn]] static inline void Fail(const char* format, ...) VC_PRINTF_LIKE(1, 2) {
    char message[kXmlMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    throw TXMLExcept(message);
  }

  /// Starts scanning a text. The first token needs a NextToken.
  /// @param text a NUL-terminated text, which must stay unchanged and alive
  ///        while it is scanned.
  void Reset(const char* text);

  /// Scans the next token into kind, tokenText, dataText, line and column.
  /// Never fails: what cannot be accepted becomes TokInvalid with a snippet.
  void NextToken();

  /// Returns when the current token is of the expected kind; throws
  /// TXMLExcept otherwise (inline, in the caller's module: see Parse).
  /// @param expected the kind the current token must have.
  inline void Expect(XmlTokenKind expected) const {
    if (kind == expected) return;
    if (kind == TokInvalid) Fail("line %d, col %d, \"%s\", Syntax Error", line, column, tokenText);
    Fail("line %d, col %d, \"%s\" should be token type \"%s\"", line, column, tokenText,
         XmlTokenDisplayName(expected));
  }

  const char* position = nullptr;   ///< next unread character
  const char* countedTo = nullptr;  ///< how far lines and columns are counted
  int inTag = 0;                    ///< 1 inside "<"..">": tag mode
  XmlTokenKind kind = TokEof;       ///< current token
  /// Punctuation, a name, a decoded string or a diagnostic snippet; empty for
  /// TokEof, TokText and TokCData.
  char tokenText[260] = {};
  /// Content of TokText (decoded) or TokCData (verbatim), or the snippet of an
  /// over-long one.
  char dataText[2052] = {};
  int line = 1;    ///< of the current token's first character, 1-based
  int column = 1;  ///< of the current token's first character, 1-based

 private:
  friend class XmlNode;
  friend class XmlParsePaths;
  XmlParser() = default;

  /// Throws what ParseOrFail reported: std::bad_alloc for "", else
  /// TXMLExcept.
  [[noreturn]] static void ThrowReported(const char* message) {
    if (message[0] == '\0') throw std::bad_alloc();
    throw TXMLExcept(message);
  }

  /// The whole parse through NextToken and the parse steps; see
  /// xml_fast_parser.h for the other way.
  static XmlNode* ParseWithScanner(const char* text);
  /// Leaves the state as ParseWithScanner leaves it after the same tree: at
  /// the token after the root's closing ">".
  void ResumeAfterRoot(const char* text, const XmlRootEnd& end);

  void ScanTag();
  void ScanContent();
  void ScanString();
  void ScanName();
  void ScanText();
  void ScanCData();
  void SkipBlanksAndCount();
  void StartNewLine(const char* lineFeed);
  void SetPunctuation(XmlTokenKind token, const char* text, size_t length);
  void SetSnippet(const char* snippet);

  /// Start of the line that countedTo is on, for the column.
  const char* lineStart = nullptr;
  /// Whether the bytes from countedTo to position may hold line feeds that
  /// are not counted yet.
  bool spanMayHoldLineFeeds = false;
  /// Lengths of tokenText and dataText, kept so the parse steps need no strlen.
  size_t tokenLength = 0;
  size_t dataLength = 0;
  /// Character data of the open elements, innermost last (used by the parse
  /// steps; one buffer per parse instead of one per nesting level).
  std::string* gatheredText = nullptr;
  XmlArena* arena = nullptr;  ///< memory of the tree being parsed
  int depth = 0;              ///< open elements
};

/// One attribute: a name of at most 64 characters and a heap copy of its value.
/// An attribute owns the attributes after it in its list.
class VC_API XmlAttr {
 public:
  /// An attribute with an empty name and no value.
  XmlAttr() : name() {}
  /// Releases the value and the attributes after this one.
  ~XmlAttr();
  XmlAttr(const XmlAttr&) = delete;             ///< Not copyable: use Clone.
  XmlAttr& operator=(const XmlAttr&) = delete;  ///< Not copyable: use Clone.
  /// Attributes of a parsed tree share its memory; this and the matching
  /// delete keep `new XmlAttr` and `delete` working for both kinds.
  /// @param size the object's size.
  /// @return the memory of a new attribute.
  static void* operator new(std::size_t size);
  /// Releases an attribute made by `new XmlAttr` or by a parse.
  /// @param object the attribute's memory.
  /// @param size the object's size.
  static void operator delete(void* object, std::size_t size) noexcept;

  /// @return the name, "" while none was set.
  const char* GetName() const { return name; }
  /// Sets the name.
  /// @param newName the name; the first 64 characters of a longer one are
  ///        kept; null gives "".
  void SetName(const char* newName);
  /// @return the value; null until a value is set.
  const char* GetValue() const { return value; }
  /// Replaces the value with a copy.
  /// @param newValue the value; null is ignored.
  void SetValue(const char* newValue);
  /// @return the line of the name in the parsed text; 0 for attributes made
  ///         otherwise.
  int GetLine() const { return line; }
  /// @return the next attribute of the element, or null.
  XmlAttr* GetNext() { return next; }
  /// @return the next attribute of the element, or null.
  const XmlAttr* GetNext() const { return next; }

  /// Copies this attribute and every one after it, in order.
  /// @return the first copy, which the caller owns (and through it the
  ///         rest).
  XmlAttr* Clone() const;
  /// @return name="value", the value unescaped; a missing value is written
  ///         as "".
  std::string ToString() const;

 private:
  friend class XmlNode;
  friend class XmlParsePaths;

  /// For the parser, which writes the name at once: the name is left
  /// unwritten here instead of being cleared first.
  struct NameFollows {};
  explicit XmlAttr(NameFollows) {}

  static void* operator new(std::size_t size, XmlArena& arena);
  static void operator delete(void* object, XmlArena& arena) noexcept;
  void ReleaseValue();

  XmlAttr* next = nullptr;
  int line = 0;
  bool valueInArena = false;  ///< value belongs to the parse's arena
  bool inArena = false;       ///< the attribute itself was made by a parse
  char name[kXmlMaxNameLength + 1];
  char* value = nullptr;
};

/// One element. It owns its children, its attributes and its text; a root
/// belongs to whoever made it. The navigation functions come in const and
/// non-const forms; none of them throws.
class VC_API XmlNode {
 public:
  /// An element with an empty name, no text, attributes or children.
  XmlNode() : name() {}
  /// Destroys the whole subtree and the attributes. Does not unlink this
  /// element from its parent: RemoveChild does that.
  ~XmlNode();
  XmlNode(const XmlNode&) = delete;             ///< Not copyable: use Clone.
  XmlNode& operator=(const XmlNode&) = delete;  ///< Not copyable: use Clone.
  /// Elements of a parsed tree share its memory; this and the matching
  /// delete keep `new XmlNode` and `delete` working for both kinds.
  /// @param size the object's size.
  /// @return the memory of a new element.
  static void* operator new(std::size_t size);
  /// Releases an element made by `new XmlNode` or by a parse.
  /// @param object the element's memory.
  /// @param size the object's size.
  static void operator delete(void* object, std::size_t size) noexcept;

  /// @return the name, "" while none was set.
  const char* GetName() const { return name; }
  /// Sets the name.
  /// @param newName the name; the first 64 characters of a longer one are
  ///        kept; null gives "".
  void SetName(const char* newName);
  /// @return the character data, or null when none was set (for a parsed
  ///         element: one written as an empty-element tag).
  const char* GetText() const { return text; }
  /// Replaces the text with a copy.
  /// @param newText the text; null is ignored.
  void SetText(const char* newText);
  /// @return the line of the element's "<" in the parsed text; 0 for
  ///         elements made otherwise.
  int GetLine() const { return line; }
  /// @return the parent element, or null for a root.
  XmlNode* GetParent() { return parent; }
  /// @return the parent element, or null for a root.
  const XmlNode* GetParent() const { return parent; }

  /// @return the first child, or null.
  XmlNode* GetFirstChild() { return firstChild; }
  /// @return the first child, or null.
  const XmlNode* GetFirstChild() const { return firstChild; }
  /// @return the next element of the same parent, or null.
  XmlNode* GetNextSibling() { return nextSibling; }
  /// @return the next element of the same parent, or null.
  const XmlNode* GetNextSibling() const { return nextSibling; }
  /// @return the first attribute, or null.
  XmlAttr* GetFirstAttr() { return firstAttr; }
  /// @return the first attribute, or null.
  const XmlAttr* GetFirstAttr() const { return firstAttr; }

  /// @return the number of attributes.
  int GetAttrCount() const;
  /// @param index 0-based.
  /// @return the attribute at `index`, or null.
  XmlAttr* GetAttr(int index);
  /// @param index 0-based.
  /// @return the attribute at `index`, or null.
  const XmlAttr* GetAttr(int index) const;
  /// @param attrName the name, compared ignoring ASCII case.
  /// @return the first attribute of that name, or null.
  XmlAttr* FindAttr(const char* attrName);
  /// @param attrName the name, compared ignoring ASCII case.
  /// @return the first attribute of that name, or null.
  const XmlAttr* FindAttr(const char* attrName) const;
  /// @param attrName the name, compared ignoring ASCII case.
  /// @return the value of FindAttr(attrName), or null.
  const char* GetAttrValue(const char* attrName) const;
  /// Sets the first attribute named exactly `attrName`, or appends one.
  /// Nothing happens when either argument is null.
  /// @param attrName the name, compared exactly.
  /// @param attrValue the value, copied.
  void SetAttr(const char* attrName, const char* attrValue);
  /// Always appends a new attribute (names may repeat). Nothing happens
  /// when either argument is null.
  /// @param attrName the name.
  /// @param attrValue the value, copied.
  void AddAttr(const char* attrName, const char* attrValue);
  /// Appends an attribute after the last one.
  /// @param attr taken over, with any attributes linked after it.
  void AppendAttr(XmlAttr* attr);

  /// @return the number of children.
  int GetChildCount() const;
  /// @param childName the name, compared ignoring ASCII case; null matches
  ///        nothing.
  /// @return the number of children of that name.
  int CountChildren(const char* childName) const;
  /// @param index 0-based.
  /// @return the child at `index`, or null.
  XmlNode* GetChild(int index);
  /// @param index 0-based.
  /// @return the child at `index`, or null.
  const XmlNode* GetChild(int index) const;
  /// Copies the name of a child.
  /// @param index the child's 0-based position.
  /// @param buffer receives the name, cut to size - 1 characters; made
  ///        empty when there is no such child.
  /// @param size the capacity of `buffer`.
  /// @return 1.
  int GetChildName(int index, char* buffer, int size) const;
  /// @param childName the name, compared ignoring ASCII case; null matches
  ///        nothing.
  /// @return the first child of that name, or null.
  XmlNode* FindChild(const char* childName);
  /// @param childName the name, compared ignoring ASCII case; null matches
  ///        nothing.
  /// @return the first child of that name, or null.
  const XmlNode* FindChild(const char* childName) const;
  /// @param childName the name, compared ignoring ASCII case.
  /// @param n 0-based.
  /// @return the n-th child among those named `childName`, or null.
  XmlNode* FindChild(const char* childName, int n);
  /// @param childName the name, compared ignoring ASCII case.
  /// @param n 0-based.
  /// @return the n-th child among those named `childName`, or null.
  const XmlNode* FindChild(const char* childName, int n) const;
  /// @param childName the child's name, ignoring ASCII case; null: any child.
  /// @param attrName the attribute's name, ignoring ASCII case.
  /// @param attrValue the value the attribute must have exactly.
  /// @return the first such child, or null.
  XmlNode* FindChildByAttr(const char* childName, const char* attrName, const char* attrValue);
  /// @param childName the child's name, ignoring ASCII case; null: any child.
  /// @param attrName the attribute's name, ignoring ASCII case.
  /// @param attrValue the value the attribute must have exactly.
  /// @return the first such child, or null.
  const XmlNode* FindChildByAttr(const char* childName, const char* attrName,
                                 const char* attrValue) const;

  /// Adds a child.
  /// @param child taken over.
  /// @param mode 1 appends it, any other mode makes it the first child.
  void AddChild(XmlNode* child, int mode);
  /// Links `element` into this element's parent and gives it that parent.
  /// Before needs a parent: without one nothing happens and the caller keeps
  /// the element. After without a parent links the two roots only; the
  /// caller still owns both.
  /// @param element the element to link.
  /// @param mode 1: right after this element; any other mode: right before.
  void InsertSibling(XmlNode* element, int mode);
  /// Unlinks and destroys a child.
  /// @param child the child.
  /// @return the 0-based position it had, -2 when this element has no
  ///         children, -3 when `child` is not among them.
  int RemoveChild(XmlNode* child);

  /// A deep copy. The copy is not linked into newParent's children.
  /// @param newParent the copy's parent pointer.
  /// @return the copy, which the caller owns.
  XmlNode* Clone(XmlNode* newParent) const;
  /// @return the element as XML: start and end tag always (never "/>"),
  ///         attributes in double quotes and unescaped, the escaped text
  ///         before all children.
  std::string ToString() const;

 private:
  friend class XmlParser;
  friend class XmlParsePaths;

  /// For the parser, which writes the name at once: the name is left
  /// unwritten here instead of being cleared first.
  struct NameFollows {};
  explicit XmlNode(NameFollows) {}

  static void* operator new(std::size_t size, XmlArena& arena, bool ownsArena);
  static void operator delete(void* object, XmlArena& arena, bool ownsArena) noexcept;
  void ReleaseText();
  void SetParsedName(const char* newName, size_t length);

  /// Parse steps; each expects the current token to be the first of its
  /// construct and leaves the token after it current.
  void Parse(XmlParser& scanner);
  bool ParseStartTag(XmlParser& scanner);
  void ParseAttr(XmlParser& scanner, XmlAttr*& lastAttr);
  void ParseContent(XmlParser& scanner);
  void ParseEndTag(XmlParser& scanner);

  XmlAttr* LastAttr() const;
  XmlNode* LastChild() const;

  XmlNode* firstChild = nullptr;
  XmlNode* nextSibling = nullptr;
  XmlNode* parent = nullptr;
  XmlAttr* firstAttr = nullptr;
  int line = 0;
  bool textInArena = false;  ///< text belongs to the parse's arena
  bool inArena = false;      ///< the element itself was made by a parse
  char name[kXmlMaxNameLength + 1];
  char* text = nullptr;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_XML_XML_H_
