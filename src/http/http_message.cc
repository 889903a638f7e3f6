// The message model and its serialiser.
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>

#include <voicecontrol/http/http.h>

#include "http/decimal.h"

namespace voicecontrol {

namespace {

// A copy of `length` bytes of `data` with a NUL behind them. The copy is
// made before the caller releases its old value, so a field may be set
// from its own stored pointer.
std::unique_ptr<char[]> CopyBytes(const char* data, size_t length) {
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), data, length);
  copy[length] = '\0';
  return copy;
}

void StoreTrimmed(std::unique_ptr<char[]>* field, const char* value) {
  assert(value != nullptr);
  if (value == nullptr) {
    field->reset();
    return;
  }
  std::unique_ptr<char[]> copy = CopyBytes(value, std::strlen(value));
  TrimSpace(copy.get());
  *field = std::move(copy);
}

// One header line of the serialised block: "Name: value\r\n".
struct HeaderLine {
  const char* name;  // With its colon and one space.
  const char* value;
};

constexpr char kLineEnd[] = "\r\n";

// The lines the serialiser writes, in their fixed order. The asserted
// identity, the application usage and the entity tag are never written.
// `lengthText` receives the Content-Length value and must outlive the lines.
int CollectHeaderLines(const HttpMessage& message, char (&lengthText)[16], HeaderLine* lines) {
  int count = 0;
  if (message.GetIntendedIdentity() != nullptr) {
    lines[count++] = {"X-3GPP-Intended-Identity: ", message.GetIntendedIdentity()};
  }
  if (message.GetContentType() != nullptr) {
    lines[count++] = {"Content-Type: ", message.GetContentType()};
  }
  const int bodyLength = message.GetBody() != nullptr ? message.GetBodyLength() : 0;
  WriteDecimal(bodyLength, lengthText);
  lines[count++] = {"Content-Length: ", lengthText};
  if (message.GetHost() != nullptr) lines[count++] = {"Host: ", message.GetHost()};
  if (message.GetAuthorization() != nullptr) {
    lines[count++] = {"Authorization: ", message.GetAuthorization()};
  }
  return count;
}

constexpr int kMaxHeaderLines = 5;

char* Append(char* out, const char* text, size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

char* Append(char* out, const char* text) { return Append(out, text, std::strlen(text)); }

constexpr char kHttpVersion[] = "HTTP/1.1";

// "first second third\r\n": the request line "METHOD URI HTTP/1.1" or the
// status line "HTTP/1.1 CODE REASON".
char* WriteStartLine(const char* first, const char* second, const char* third, char* out) {
  out = Append(out, first);
  *out++ = ' ';
  out = Append(out, second);
  *out++ = ' ';
  out = Append(out, third);
  return Append(out, kLineEnd, 2);
}

// Whether `used` bytes plus a terminating NUL fit in `capacity`.
bool Fits(size_t used, int capacity) {
  return capacity > 0 && used < static_cast<size_t>(capacity);
}

}  // namespace

const char* GetStatusText(int code) {
  for (const HttpStatusEntry& entry : HttpStatusTable) {
    if (entry.code == code) return entry.reason;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// HttpMessage

HttpMessage::HttpMessage() = default;
HttpMessage::~HttpMessage() = default;
HttpMessage::HttpMessage(HttpMessage&&) noexcept = default;
HttpMessage& HttpMessage::operator=(HttpMessage&&) noexcept = default;

void HttpMessage::SetAssertedIdentity(const char* value) {
  StoreTrimmed(&assertedIdentity_, value);
}
void HttpMessage::SetAuthorization(const char* value) { StoreTrimmed(&authorization_, value); }
void HttpMessage::SetContentType(const char* value) { StoreTrimmed(&contentType_, value); }
void HttpMessage::SetAuid(const char* value) { StoreTrimmed(&auid_, value); }
void HttpMessage::SetHost(const char* value) { StoreTrimmed(&host_, value); }
void HttpMessage::SetIntendedIdentity(const char* value) {
  StoreTrimmed(&intendedIdentity_, value);
}
void HttpMessage::SetEtag(const char* value) { StoreTrimmed(&etag_, value); }

void HttpMessage::SetBody(const char* data, int length) {
  assert(data != nullptr);
  assert(length >= -1);
  size_t size = 0;
  if (data != nullptr && length >= 0) {
    size = static_cast<size_t>(length);
  } else if (data != nullptr && length == -1) {
    size = std::strlen(data);
  } else {
    body_.reset();
    bodyLength_ = -1;
    return;
  }
  // The length is reported as an int; a longer text cannot be represented.
  assert(size < static_cast<size_t>(INT_MAX));
  if (size >= static_cast<size_t>(INT_MAX)) {
    body_.reset();
    bodyLength_ = -1;
    return;
  }
  body_ = CopyBytes(data, size);
  bodyLength_ = static_cast<int>(size);
}

size_t HttpMessage::HeadersAndBodySize() const {
  char lengthText[16];
  HeaderLine lines[kMaxHeaderLines];
  const int count = CollectHeaderLines(*this, lengthText, lines);
  size_t size = 0;
  for (int i = 0; i < count; ++i) {
    size += std::strlen(lines[i].name) + std::strlen(lines[i].value) + 2;
  }
  size += 2;  // The blank line.
  if (body_ != nullptr) size += static_cast<size_t>(bodyLength_);
  return size;
}

char* HttpMessage::WriteHeadersAndBody(char* out) const {
  char lengthText[16];
  HeaderLine lines[kMaxHeaderLines];
  const int count = CollectHeaderLines(*this, lengthText, lines);
  for (int i = 0; i < count; ++i) {
    out = Append(out, lines[i].name);
    out = Append(out, lines[i].value);
    out = Append(out, kLineEnd, 2);
  }
  out = Append(out, kLineEnd, 2);
  if (body_ != nullptr) out = Append(out, body_.get(), static_cast<size_t>(bodyLength_));
  return out;
}

int HttpMessage::AppendHeadersAndBody(char* buffer, int capacity, int* length) const {
  assert(buffer != nullptr && length != nullptr);
  if (buffer == nullptr || length == nullptr || capacity <= 0) return kHttpBufferTooSmall;
  const void* end = std::memchr(buffer, '\0', static_cast<size_t>(capacity));
  if (end == nullptr) return kHttpNoStartLine;
  const size_t startLine = static_cast<size_t>(static_cast<const char*>(end) - buffer);
  const size_t total = startLine + HeadersAndBodySize();
  if (!Fits(total, capacity)) return kHttpBufferTooSmall;
  char* written = WriteHeadersAndBody(buffer + startLine);
  *written = '\0';
  *length = static_cast<int>(total);
  return 0;
}

int HttpMessage::SerializeWithStartLine(const char* first, const char* second, const char* third,
                                        char* buffer, int capacity, int* length) const {
  assert(buffer != nullptr && length != nullptr);
  if (buffer == nullptr || length == nullptr) return kHttpBufferTooSmall;
  const size_t startLine = std::strlen(first) + std::strlen(second) + std::strlen(third) + 4;
  const size_t total = startLine + HeadersAndBodySize();
  if (!Fits(total, capacity)) return kHttpBufferTooSmall;
  char* out = WriteStartLine(first, second, third, buffer);
  *WriteHeadersAndBody(out) = '\0';
  *length = static_cast<int>(total);
  return 0;
}

void HttpMessage::SerializeWithStartLine(const char* first, const char* second, const char* third,
                                         std::string* out) const {
  assert(out != nullptr);
  out->resize(std::strlen(first) + std::strlen(second) + std::strlen(third) + 4);
  WriteStartLine(first, second, third, &(*out)[0]);
  AppendHeadersAndBody(out);
}

void HttpMessage::AppendHeadersAndBody(std::string* out) const {
  assert(out != nullptr);
  const size_t startLine = out->size();
  out->resize(startLine + HeadersAndBodySize());
  WriteHeadersAndBody(&(*out)[startLine]);
}

// ---------------------------------------------------------------------------
// HttpRequest

HttpRequest::HttpRequest() = default;
HttpRequest::~HttpRequest() = default;
HttpRequest::HttpRequest(HttpRequest&&) noexcept = default;
HttpRequest& HttpRequest::operator=(HttpRequest&&) noexcept = default;

void HttpRequest::SetMethod(int method) {
  assert(method >= 0 && method < kHttpMethodCount);
  method_ = (method >= 0 && method < kHttpMethodCount) ? method : -1;
}

void HttpRequest::SetUri(const char* uri) {
  assert(uri != nullptr);
  if (uri == nullptr) {
    uri_.reset();
    return;
  }
  uri_ = CopyBytes(uri, std::strlen(uri));
}

int HttpRequest::Serialize(char* buffer, int capacity, int* length) const {
  if (method_ < 0) return -1;
  if (uri_ == nullptr) return -2;
  return SerializeWithStartLine(HttpMethod[method_], uri_.get(), kHttpVersion, buffer, capacity,
                                length);
}

int HttpRequest::Serialize(std::string* out) const {
  if (method_ < 0) return -1;
  if (uri_ == nullptr) return -2;
  SerializeWithStartLine(HttpMethod[method_], uri_.get(), kHttpVersion, out);
  return 0;
}

// ---------------------------------------------------------------------------
// HttpResponse

HttpResponse::HttpResponse() = default;
HttpResponse::~HttpResponse() = default;
HttpResponse::HttpResponse(HttpResponse&&) noexcept = default;
HttpResponse& HttpResponse::operator=(HttpResponse&&) noexcept = default;

int HttpResponse::Serialize(char* buffer, int capacity, int* length) const {
  const char* reason = GetStatusText(statusCode_);
  if (reason == nullptr) return -1;
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "%d", statusCode_);
  return SerializeWithStartLine(kHttpVersion, codeText, reason, buffer, capacity, length);
}

int HttpResponse::Serialize(std::string* out) const {
  const char* reason = GetStatusText(statusCode_);
  if (reason == nullptr) return -1;
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "%d", statusCode_);
  SerializeWithStartLine(kHttpVersion, codeText, reason, out);
  return 0;
}

}  // namespace voicecontrol
