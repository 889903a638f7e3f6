// The parser: fills the message classes from one complete message held in
// memory as NUL-terminated text.
//
// Lines are never copied while walking: a header line is the run of bytes
// between two line ends, so the walk only looks for the next CR with memchr
// and copies the value of the few headers it keeps.
#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>

#include "http/decimal.h"
#include "http/text_scan.h"
#include <voicecontrol/http/http.h>

namespace voicecontrol {

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Offset of the first CR LF CR LF in the `length` bytes at `text`.
size_t FindBlankLine(const char* text, size_t length) {
  const char* p = text;
  const char* const limit = text + length;
  while (length >= 4) {
    const void* cr = std::memchr(p, '\r', static_cast<size_t>(limit - p));
    if (cr == nullptr) return kNotFound;
    p = static_cast<const char*>(cr);
    if (limit - p < 4) return kNotFound;
    if (p[1] == '\n' && p[2] == '\r' && p[3] == '\n') return static_cast<size_t>(p - text);
    ++p;
  }
  return kNotFound;
}

enum class HeaderKind { kContentType, kContentLength, kAuthorization, kAssertedIdentity, kEtag };

struct KnownHeader {
  const char* name;
  size_t nameLength;
  HeaderKind kind;
};

// Tested in this order; a line matches when it begins with the name,
// colon included, in any letter case.
constexpr KnownHeader kKnownHeaders[] = {
    {"content-type:", 13, HeaderKind::kContentType},
    {"content-length:", 15, HeaderKind::kContentLength},
    {"WWW-Authenticate:", 17, HeaderKind::kAuthorization},
    {"Authentication-Info:", 20, HeaderKind::kAuthorization},
    {"X-3GPP-Intended-Identity:", 25, HeaderKind::kAssertedIdentity},
    {"X-XCAP-Asserted-Identity:", 25, HeaderKind::kAssertedIdentity},
    {"Etag:", 5, HeaderKind::kEtag},
};

const KnownHeader* MatchHeader(const char* line, size_t length) {
  if (length == 0) return nullptr;
  const char first = LowerAscii(line[0]);
  for (const KnownHeader& header : kKnownHeaders) {
    if (LowerAscii(header.name[0]) != first) continue;
    if (StartsWithNoCase(line, length, {header.name, header.nameLength})) return &header;
  }
  return nullptr;
}

// Application usages recognised in a request URI, in the order tested.
constexpr const char* kApplicationUsages[] = {"ims-pim", "xcap-caps", "public-group",
                                              "resource-lists"};

}  // namespace

int HttpMessage::ParseHeadersAndBody(const char* text, int length) {
  assert(text != nullptr);
  if (text == nullptr) return -1;
  (void)length;  // The text always ends at its first NUL, whatever the caller measured.
  const size_t measured = std::strlen(text);
  const size_t blankLine = FindBlankLine(text, measured);
  if (blankLine == kNotFound) return -1;
  return ParseMeasured(text, measured, blankLine);
}

int HttpMessage::ParseMeasured(const char* text, size_t length, size_t blankLine) {
  const char* const body = text + blankLine + 4;
  const size_t bodySize = length - (blankLine + 4);
  // The body length is an int; no announced length can match a longer body.
  if (bodySize >= static_cast<size_t>(INT_MAX)) return -2;

  // Walk the lines from the first byte on. A line ends at CR; only a line
  // ended by CR LF is tested, and the byte behind every CR (normally its
  // LF) is skipped. The walk stops at the first CR LF CR LF it lands on.
  size_t i = 0;
  while (i < length) {
    const void* found = std::memchr(text + i, '\r', length - i);
    if (found == nullptr) break;
    const size_t cr = static_cast<size_t>(static_cast<const char*>(found) - text);
    if (text[cr + 1] == '\n') {
      // Lines longer than the working limit are cut to its first bytes.
      const size_t lineLength = std::min(cr - i, static_cast<size_t>(kHttpMaxLine - 1));
      if (!StoreHeaderLine(text + i, lineLength, bodySize)) return -2;
      if (text[cr + 2] == '\r' && text[cr + 3] == '\n') break;
    }
    i = cr + 2;
  }

  if (bodySize > 0) SetBody(body, static_cast<int>(bodySize));
  return 0;
}

bool HttpMessage::StoreHeaderLine(const char* line, size_t length, size_t bodySize) {
  const KnownHeader* header = MatchHeader(line, length);
  if (header == nullptr) return true;
  const char* value = line + header->nameLength;
  const size_t valueLength = length - header->nameLength;
  if (header->kind == HeaderKind::kContentLength) {
    const int announced = ReadDecimalPrefix(value, value + valueLength);
    return announced >= 0 && static_cast<size_t>(announced) == bodySize;
  }
  char copy[kHttpMaxLine];
  std::memcpy(copy, value, valueLength);
  copy[valueLength] = '\0';
  switch (header->kind) {
    case HeaderKind::kContentType:
      SetContentType(copy);
      break;
    case HeaderKind::kAuthorization:
      SetAuthorization(copy);
      break;
    case HeaderKind::kAssertedIdentity:
      SetAssertedIdentity(copy);
      break;
    case HeaderKind::kEtag:
      SetEtag(copy);
      break;
    case HeaderKind::kContentLength:
      break;
  }
  return true;
}

int HttpMessage::ClassifyAuid(const char* uri) {
  assert(uri != nullptr);
  if (uri == nullptr) return -1;
  const char* services = std::strstr(uri, "services");
  if (services == nullptr) return -1;
  const char* rest = services + 8;
  if (*rest == '\0') return -1;
  ++rest;  // The byte behind "services", normally the slash.
  const size_t restLength = std::strlen(rest);
  for (const char* usage : kApplicationUsages) {
    if (StartsWithNoCase(rest, restLength, usage)) {
      SetAuid(usage);
      return 0;
    }
  }
  return -1;
}

int HttpRequest::Parse(const char* text, int length) {
  if (text == nullptr) return -1;
  (void)length;
  const size_t measured = std::strlen(text);
  const char* const limit = text + measured;
  Word method, uri, version;
  const char* p = ReadWord(text, limit, &method);
  p = ReadWord(p, limit, &uri);
  ReadWord(p, limit, &version);

  int methodIndex = -1;
  for (int i = 0; i < kHttpMethodCount; ++i) {
    if (method.Equals(HttpMethod[i])) methodIndex = i;
  }
  if (methodIndex < 0) return -3;
  if (!version.Equals("HTTP/1.1")) return -4;

  // A URI longer than the working limit is cut to its first bytes.
  char uriText[kHttpMaxUri];
  const size_t uriLength = std::min(uri.length, static_cast<size_t>(kHttpMaxUri - 1));
  std::memcpy(uriText, uri.begin, uriLength);
  uriText[uriLength] = '\0';
  if (ClassifyAuid(uriText) != 0) return -6;

  const size_t blankLine = FindBlankLine(text, measured);
  if (blankLine == kNotFound || ParseMeasured(text, measured, blankLine) != 0) return -5;
  SetMethod(methodIndex);
  SetUri(uriText);
  return 0;
}

int HttpResponse::Parse(const char* text, int length) {
  if (text == nullptr) return -1;
  (void)length;
  const size_t measured = std::strlen(text);
  const char* const limit = text + measured;
  Word version;
  const char* p = ReadWord(text, limit, &version);
  // The code as "%d" reads it; a code that cannot be read stays 0. The
  // reason phrase is not compared with the table, so it is not read.
  const int code = ReadDecimalPrefix(p, limit);

  if (!version.Equals("HTTP/1.1")) return -2;
  if (GetStatusText(code) == nullptr) return -3;
  const size_t blankLine = FindBlankLine(text, measured);
  if (blankLine == kNotFound) return -5;
  if (ParseMeasured(text, measured, blankLine) != 0) return -6;
  SetStatusCode(code);
  return 0;
}

}  // namespace voicecontrol
