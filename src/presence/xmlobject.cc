#include <voicecontrol/presence/xmlobject.h>

#include <cassert>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace voicecontrol {

namespace {

constexpr char kNamespaceAttr[] = "xmlns";
constexpr size_t kNamespaceAttrLength = 5;
constexpr char kSipScheme[] = "sip:";
constexpr size_t kSipSchemeLength = 4;

const char* HeadingOf(int kind) {
  switch (kind) {
    case XmlKindRlmi:
      return "RLMIXml Error: ";
    case XmlKindPidf:
      return "PIDFXml Error: ";
    default:
      return "WatcherInfoXml Error: ";
  }
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

bool StartsWithNamespaceAttr(const char* name) {
  return std::strncmp(name, kNamespaceAttr, kNamespaceAttrLength) == 0;
}

// "xmlns" itself or "xmlns:" followed by anything (even nothing).
bool IsNamespaceDecl(const char* name) {
  return StartsWithNamespaceAttr(name) &&
         (name[kNamespaceAttrLength] == '\0' || name[kNamespaceAttrLength] == ':');
}

// The decimal number at the start of text after leading spaces, up to the
// first other byte; values beyond the range of int read as INT_MAX.
int64_t ReadDecimal(const char* text) {
  while (*text == ' ') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT_MAX) return INT_MAX + int64_t{1};
  }
  return value;
}

bool IsBooleanText(const char* text) {
  for (const char* accepted : {"true", "TRUE", "false", "FALSE"}) {
    if (std::strcmp(text, accepted) == 0) return true;
  }
  return false;
}

// Where the user part of a SIP URI ends (its first '@'), or null when text
// is not one.
const char* FindSipUserEnd(const char* text) {
  if (text == nullptr || std::strncmp(text, kSipScheme, kSipSchemeLength) != 0) return nullptr;
  const char* at = std::strchr(text + kSipSchemeLength, '@');
  if (at == nullptr || at == text + kSipSchemeLength) return nullptr;
  return at;
}

}  // namespace

XmlObject::XmlObject(int objectKind) : prefix{}, kind(objectKind), errorText{} {}

XmlObject::~XmlObject() = default;

void XmlObject::SetError(const char* format, ...) {
  // Formatted apart first, so an argument may be the old error text itself.
  char message[kErrorTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), OrEmpty(format), args);
  va_end(args);
  const char* heading = HeadingOf(kind);
  const int headingLength = static_cast<int>(std::strlen(heading));
  CopyBounded(errorText, heading, kErrorTextSize);
  CopyBounded(errorText + headingLength, message, kErrorTextSize - headingLength);
}

int XmlObject::CheckNamespace(const XmlNode* element, const char* namespaceUri,
                              std::string& prefixOut) {
  assert(element != nullptr);
  prefixOut.clear();
  if (element == nullptr) return 0;
  for (const XmlAttr* attr = element->GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
    const char* name = attr->GetName();
    if (!StartsWithNamespaceAttr(name)) continue;
    if (attr->GetValue() == nullptr) return 0;
    if (namespaceUri == nullptr || std::strcmp(attr->GetValue(), namespaceUri) != 0) continue;
    if (name[kNamespaceAttrLength] == '\0') return 1;  // default namespace
    if (name[kNamespaceAttrLength] == ':' && name[kNamespaceAttrLength + 1] != '\0') {
      prefixOut = name + kNamespaceAttrLength + 1;
      return 1;
    }
    SetError("Invalid attr '%s' of <%s> element.", name, element->GetName());
    return 0;
  }
  SetError("No xml namespace of <%s> element.", element->GetName());
  return 0;
}

int XmlObject::CountNamespaceDecls(const XmlNode* element) {
  assert(element != nullptr);
  if (element == nullptr) return 0;
  int count = 0;
  for (const XmlAttr* attr = element->GetFirstAttr(); attr != nullptr; attr = attr->GetNext()) {
    if (IsNamespaceDecl(attr->GetName())) ++count;
  }
  return count;
}

void XmlObject::SetPrefix(const char* newPrefix) { CopyBounded(prefix, newPrefix, kPrefixSize); }

const char* XmlObject::GetCheckedAttr(const XmlNode* element, const char* attrName,
                                      XmlAttrCheck check, int minimum, int maximum) {
  assert(element != nullptr);
  if (element == nullptr) return nullptr;
  const XmlAttr* attr = element->FindAttr(attrName);
  if (attr == nullptr) {
    SetError("No attr '%s' of <%s>.", OrEmpty(attrName), element->GetName());
    return nullptr;
  }
  const char* value = attr->GetValue();
  bool valid = true;
  if (check == XmlCheckInteger) {
    valid = value != nullptr && IsDigitsOrSpaces(value);
    if (valid) {
      const int64_t number = ReadDecimal(value);
      if (minimum != -1 && number < minimum) valid = false;
      if (maximum != -1 && number > maximum) valid = false;
    }
  } else if (check == XmlCheckBoolean) {
    valid = value != nullptr && IsBooleanText(value);
  }
  if (!valid) {
    SetError("Invalid attr '%s' of <%s> element.", OrEmpty(attrName), element->GetName());
    return nullptr;
  }
  return value;
}

std::string& XmlObject::QualifyName(std::string& name) const { return QualifyName(name, prefix); }

std::string& XmlObject::QualifyName(std::string& name, const char* namePrefix) {
  if (namePrefix == nullptr || namePrefix[0] == '\0') return name;
  name.insert(0, 1, ':');
  name.insert(0, namePrefix);
  return name;
}

int XmlObject::IsDigitsOrSpaces(const char* text) {
  if (text == nullptr) return 0;
  for (; *text != '\0'; ++text) {
    if (*text != ' ' && (*text < '0' || *text > '9')) return 0;
  }
  return 1;
}

int IsSipUri(const char* text) { return FindSipUserEnd(text) != nullptr ? 1 : 0; }

int SplitSipUri(const char* text, std::string& user, std::string& host) {
  const char* at = FindSipUserEnd(text);
  if (at == nullptr) return 0;
  user.assign(text + kSipSchemeLength, at);
  host.assign(at + 1);
  return 1;
}

void AppendFormat(std::string& destination, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, OrEmpty(format), measure);
  va_end(measure);
  if (length > 0) {
    std::vector<char> piece(static_cast<size_t>(length) + 1);
    std::vsnprintf(piece.data(), piece.size(), OrEmpty(format), args);
    destination.append(piece.data(), static_cast<size_t>(length));
  }
  va_end(args);
}

}  // namespace voicecontrol
