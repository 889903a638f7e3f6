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

class VC_API XmlObject {
 public:
  static constexpr int kPrefixSize = 32;  ///< at most 31 characters and a NUL
  static constexpr int kErrorTextSize = 1024;

  explicit XmlObject(int kind);
  virtual ~XmlObject();

  int GetKind() const { return kind; }

  /// The last failure, headed by the document kind; "" while none happened.
  /// Success never clears it.
  const char* GetErrorText() const { return errorText; }
  /// Replaces the error text with the heading and the formatted message (printf
  /// rules); an over-long message is cut at the end of the buffer.
  void SetError(const char* format, ...) VC_PRINTF_LIKE(2, 3);

  /// Looks on `element` for a declaration (xmlns or xmlns:p) of namespaceUri.
  /// Returns 1 when found, with `prefix` set to p, or emptied for the default
  /// namespace. Returns 0 otherwise, with an error text: "No xml namespace of
  /// <e> element.", or "Invalid attr 'a' of <e> element." for a matching
  /// attribute such as xmlnsfoo or "xmlns:". A declaration without a value
  /// returns 0 at once and leaves the error text alone.
  int CheckNamespace(const XmlNode* element, const char* namespaceUri, std::string& prefix);
  /// Attributes named exactly xmlns or starting with xmlns: (case-sensitive).
  static int CountNamespaceDecls(const XmlNode* element);

  /// Copies at most 31 characters.
  void SetPrefix(const char* newPrefix);
  const char* GetPrefix() const { return prefix; }

  /// The value of attribute attrName of `element` (name compared ignoring
  /// ASCII case), checked as `check` asks; null with an error text when it is
  /// missing or fails the check. For the integer check a minimum or maximum of
  /// -1 means no bound. A valueless attribute fails the integer and boolean
  /// checks and gives null without an error under the text check.
  const char* GetCheckedAttr(const XmlNode* element, const char* attrName, XmlAttrCheck check,
                             int minimum, int maximum);

  /// Puts the object's own prefix, or the given one, and a colon in front of
  /// `name`; an empty prefix leaves it as it is. Returns `name`.
  std::string& QualifyName(std::string& name) const;
  static std::string& QualifyName(std::string& name, const char* namePrefix);

  /// 1 when every byte of text is a digit 0-9 or a space (so also for ""), else 0.
  static int IsDigitsOrSpaces(const char* text);

 private:
  char prefix[kPrefixSize];
  int32_t kind;
  char errorText[kErrorTextSize];
};

/// 1 when text starts with "sip:" (case-sensitive) and contains an '@' with at
/// least one character between "sip:" and the first '@'; else 0.
VC_API int IsSipUri(const char* text);

/// On a SIP URI as IsSipUri accepts it, sets user to the characters between
/// "sip:" and the first '@' and host to everything after that '@' (possibly
/// empty, with any port or parameters) and returns 1. Otherwise returns 0 and
/// leaves both untouched.
VC_API int SplitSipUri(const char* text, std::string& user, std::string& host);

/// Appends the formatted text (printf rules) to destination.
VC_API void AppendFormat(std::string& destination, const char* format, ...) VC_PRINTF_LIKE(2, 3);

}  // namespace voicecontrol

#endif  // VOICECONTROL_PRESENCE_XMLOBJECT_H_
