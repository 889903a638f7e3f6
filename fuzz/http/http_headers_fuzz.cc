// HttpMessage::ParseHeadersAndBody on any bytes: it must end in 0, -1 or -2
// and agree field by field with a plain byte-by-byte walk that copies every
// line into a 1024-byte buffer, the straightforward way to read the format.
#include <cctype>
#include <climits>
#include <cstdlib>

#include "fuzz_input.h"
#include <voicecontrol/http/http.h>

namespace voicecontrol {
namespace {

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) !=
        std::tolower(static_cast<unsigned char>(*prefix))) {
      return false;
    }
  }
  return true;
}

int SaturatedAtoi(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Returns false when the line announces a length other than `bodyLength`.
bool ReferenceHeaderLine(const char* line, size_t bodyLength, HttpMessage* message) {
  static const char* const kNames[] = {"content-type:",
                                       "content-length:",
                                       "WWW-Authenticate:",
                                       "Authentication-Info:",
                                       "X-3GPP-Intended-Identity:",
                                       "X-XCAP-Asserted-Identity:",
                                       "Etag:"};
  for (int i = 0; i < 7; ++i) {
    const size_t nameLength = std::strlen(kNames[i]);
    if (!StartsWithIgnoringCase(line, kNames[i])) continue;
    const char* value = line + nameLength;
    switch (i) {
      case 0:
        message->SetContentType(value);
        break;
      case 1: {
        const int announced = SaturatedAtoi(value);
        return announced >= 0 && static_cast<size_t>(announced) == bodyLength;
      }
      case 2:
      case 3:
        message->SetAuthorization(value);
        break;
      case 4:
      case 5:
        message->SetAssertedIdentity(value);
        break;
      case 6:
        message->SetEtag(value);
        break;
    }
    return true;
  }
  return true;
}

int ReferenceParse(const char* text, HttpMessage* message) {
  const size_t length = std::strlen(text);
  const char* blank = std::strstr(text, "\r\n\r\n");
  if (blank == nullptr) return -1;
  const char* body = blank + 4;
  const size_t bodyLength = length - static_cast<size_t>(body - text);
  char line[kHttpMaxLine];
  size_t used = 0;
  size_t i = 0;
  while (i < length) {
    if (text[i] != '\r') {
      if (used < sizeof line - 1) line[used++] = text[i];
      ++i;
      continue;
    }
    if (text[i + 1] == '\n') {
      line[used] = '\0';
      if (!ReferenceHeaderLine(line, bodyLength, message)) return -2;
      if (text[i + 2] == '\r' && text[i + 3] == '\n') break;
    }
    used = 0;
    i += 2;
  }
  if (bodyLength > 0) message->SetBody(body, -1);
  return 0;
}

}  // namespace
}  // namespace voicecontrol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voicecontrol;
  const FuzzText text(data, size);
  HttpMessage parsed;
  const int result = parsed.ParseHeadersAndBody(text.get(), text.size());
  Check(result == 0 || result == -1 || result == -2);

  HttpMessage expected;
  Check(ReferenceParse(text.get(), &expected) == result);
  Check(SameText(parsed.GetContentType(), expected.GetContentType()));
  Check(SameText(parsed.GetAuthorization(), expected.GetAuthorization()));
  Check(SameText(parsed.GetAssertedIdentity(), expected.GetAssertedIdentity()));
  Check(SameText(parsed.GetEtag(), expected.GetEtag()));
  Check(parsed.GetBodyLength() == expected.GetBodyLength());
  Check(SameText(parsed.GetBody(), expected.GetBody()));
  Check(parsed.GetHost() == nullptr && parsed.GetIntendedIdentity() == nullptr);
  return 0;
}
