/// @file
/// Base of presence document objects (watcher information, PIDF, RLMI).
///
/// A document class derives from XmlObject, passes its kind to the
/// constructor, and uses these helpers while it walks an XmlNode tree: find
/// the prefix under which its namespace is declared, read attributes with a
/// type check, build qualified names, split SIP URIs. Failed checks return 0
/// or null and leave a readable text headed by the document kind, e.g.
/// "RLMIXml Error: No attr 'version' of <list>."; nothing is thrown.
#ifndef VOICECONTROL_PRESENCE_XMLOBJECT_H_
#define VOICECONTROL_PRESENCE_XMLOBJECT_H_

#include <cstdint>
#include <string>

#include <voicecontrol/export.h>
#include <voicecontrol/presence/item_list.h>
#include <voicecontrol/xml/xml.h>

namespace voicecontrol {

/// Which document an object stands for; selects the heading of its errors.
/// Any other value is headed like watcher information.
enum XmlObjectKind : int32_t {
  XmlKindWatcherInfo = 0,  ///< "WatcherInfoXml Error: "
  XmlKindRlmi = 1,         ///< "RLMIXml Error: "
  XmlKindPidf = 2,         ///< "PIDFXml Error: "
};

/// The check GetCheckedAttr applies to a value. Any other value is a text check.
enum XmlAttrCheck : uint8_t {
  XmlCheckInteger = 0,  ///< digits and spaces only, optionally within bounds
  XmlCheckText = 1,     ///< no check
  XmlCheckBoolean = 2,  ///< "true", "TRUE", "false" or "FALSE"
};

/// The base of a presence document object: namespace lookup, typed
/// attribute reads, qualified names and an error text headed by the
/// document kind.
class VC_API XmlObject {
 public:
  static constexpr int kPrefixSize = 32;       ///< At most 31 characters and a NUL.
  static constexpr int kErrorTextSize = 1024;  ///< The error text's buffer, NUL included.

  /// An object of one document kind, without prefix or error.
  /// @param kind an XmlObjectKind; selects the heading of the error texts.
  explicit XmlObject(int kind);
  /// Virtual: document classes derive from it.
  virtual ~XmlObject();

  /// @return the document kind given to the constructor.
  int GetKind() const { return kind; }

  /// The last failure. Success never clears it.
  /// @return the text, headed by the document kind; "" while none happened.
  const char* GetErrorText() const { return errorText; }
  /// Replaces the error text with the heading and the formatted message; an
  /// over-long message is cut at the end of the buffer.
  /// @param format a printf format, followed by its arguments.
  void SetError(const char* format, ...) VC_PRINTF_LIKE(2, 3);

  /// Looks on `element` for a declaration (xmlns or xmlns:p) of
  /// `namespaceUri`. On failure the error text says "No xml namespace of
  /// <e> element.", or "Invalid attr 'a' of <e> element." for a matching
  /// attribute such as xmlnsfoo or "xmlns:". A declaration without a value
  /// returns 0 at once and leaves the error text alone.
  /// @param element the element whose attributes are searched.
  /// @param namespaceUri the namespace's URI.
  /// @param[out] prefix set to p when found, emptied for the default
  ///        namespace.
  /// @return 1 when found, else 0.
  int CheckNamespace(const XmlNode* element, const char* namespaceUri, std::string& prefix);
  /// Counts the namespace declarations of an element.
  /// @param element the element.
  /// @return the number of its attributes named exactly xmlns or starting
  ///         with xmlns: (case-sensitive).
  static int CountNamespaceDecls(const XmlNode* element);

  /// Sets the object's own prefix; copies at most 31 characters.
  /// @param newPrefix the prefix, without the colon.
  void SetPrefix(const char* newPrefix);
  /// @return the object's own prefix, "" while none was set.
  const char* GetPrefix() const { return prefix; }

  /// Reads an attribute with a check. A valueless attribute fails the
  /// integer and boolean checks and gives null without an error under the
  /// text check.
  /// @param element the element.
  /// @param attrName the attribute's name, compared ignoring ASCII case.
  /// @param check what the value must be.
  /// @param minimum for XmlCheckInteger the least value, -1 for no bound.
  /// @param maximum for XmlCheckInteger the greatest value, -1 for no bound.
  /// @return the value; null with an error text when the attribute is
  ///         missing or fails the check.
  const char* GetCheckedAttr(const XmlNode* element, const char* attrName, XmlAttrCheck check,
                             int minimum, int maximum);

  /// Puts the object's own prefix and a colon in front of `name`; an empty
  /// prefix leaves it as it is.
  /// @param name the local name, changed in place.
  /// @return `name`.
  std::string& QualifyName(std::string& name) const;
  /// Puts `namePrefix` and a colon in front of `name`; an empty prefix
  /// leaves it as it is.
  /// @param name the local name, changed in place.
  /// @param namePrefix the prefix, without the colon.
  /// @return `name`.
  static std::string& QualifyName(std::string& name, const char* namePrefix);

  /// @param text a NUL-terminated text.
  /// @return 1 when every byte of `text` is a digit 0-9 or a space (so also
  ///         for ""), else 0.
  static int IsDigitsOrSpaces(const char* text);

 private:
  char prefix[kPrefixSize];
  int32_t kind;
  char errorText[kErrorTextSize];
};

/// Tells a SIP URI.
/// @param text a NUL-terminated text.
/// @return 1 when `text` starts with "sip:" (case-sensitive) and contains an
///         '@' with at least one character between "sip:" and the first
///         '@'; else 0.
VC_API int IsSipUri(const char* text);

/// Splits a SIP URI as IsSipUri accepts it.
/// @param text a NUL-terminated text.
/// @param[out] user the characters between "sip:" and the first '@'.
/// @param[out] host everything after that '@' (possibly empty, with any
///        port or parameters).
/// @return 1; 0 when `text` is no SIP URI, leaving both untouched.
VC_API int SplitSipUri(const char* text, std::string& user, std::string& host);

/// Appends formatted text.
/// @param destination the text appended to.
/// @param format a printf format, followed by its arguments.
VC_API void AppendFormat(std::string& destination, const char* format, ...) VC_PRINTF_LIKE(2, 3);

}  // namespace voicecontrol

#endif  // VOICECONTROL_PRESENCE_XMLOBJECT_H_
