/// @file
/// HTTP/1.1 message classes tailored to XCAP traffic.
///
/// `HttpMessage` keeps a fixed set of nine header values and the body;
/// `HttpRequest` adds method and URI, `HttpResponse` the status code. The
/// serialisers write a fixed header order into a caller buffer whose capacity
/// they always respect; the parsers read one complete NUL-terminated message.
/// All text is narrow and copied byte for byte.
#ifndef VOICECONTROL_HTTP_HTTP_H_
#define VOICECONTROL_HTTP_HTTP_H_

#include <cstddef>
#include <memory>
#include <string>

#include <voicecontrol/http/trim_space.h>
#include <voicecontrol/export.h>

namespace voicecontrol {

/// Method names, indexed by the method number of `HttpRequest`.
inline constexpr int kHttpMethodCount = 3;
inline constexpr const char* HttpMethod[kHttpMethodCount] = {"GET", "PUT", "DELETE"};
inline constexpr int kHttpGet = 0;
inline constexpr int kHttpPut = 1;
inline constexpr int kHttpDelete = 2;

/// One status code with its reason phrase.
struct VC_API HttpStatusEntry {
  int code;
  const char* reason;
};

inline constexpr int kHttpStatusCount = 40;
inline constexpr HttpStatusEntry HttpStatusTable[kHttpStatusCount] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
};

/// The reason phrase of `code`, or null when the code is not in the table.
VC_API const char* GetStatusText(int code);

/// Result of every buffer-writing operation whose capacity is too small for
/// the message and its terminating NUL. The buffer is then left untouched.
inline constexpr int kHttpBufferTooSmall = -3;
/// Result of `HttpMessage::AppendHeadersAndBody` when the buffer holds no NUL
/// within its capacity, so there is no start line to append to.
inline constexpr int kHttpNoStartLine = -4;

/// Working limits of the parsers, in bytes including the terminating NUL.
/// Longer input is cut, never rejected and never overrun: a header line keeps
/// its first 1023 bytes, a request URI its first 511; the method, version and
/// reason words can only match their fixed values when they are short, so
/// cutting them never changes a result.
inline constexpr int kHttpMaxLine = 1024;
inline constexpr int kHttpMaxMethod = 256;
inline constexpr int kHttpMaxUri = 512;
inline constexpr int kHttpMaxVersion = 256;
inline constexpr int kHttpMaxReason = 256;

class VC_API HttpMessage {
 public:
  HttpMessage();
  ~HttpMessage();
  HttpMessage(HttpMessage&&) noexcept;
  HttpMessage& operator=(HttpMessage&&) noexcept;
  HttpMessage(const HttpMessage&) = delete;
  HttpMessage& operator=(const HttpMessage&) = delete;

  /// Text setters: store a copy of `value` trimmed of bytes 1 to 32 at both
  /// ends. `value` must not be null (a null leaves the field absent).
  void SetAssertedIdentity(const char* value);
  void SetAuthorization(const char* value);
  void SetContentType(const char* value);
  void SetAuid(const char* value);
  void SetHost(const char* value);
  void SetIntendedIdentity(const char* value);
  void SetEtag(const char* value);

  /// Stores `length` bytes of `data` untrimmed, plus one NUL behind them;
  /// a length of -1 means up to the first NUL of `data`. `data` must not be
  /// null and `length` not below -1 (either leaves the body absent).
  void SetBody(const char* data, int length);

  /// Getters return the stored pointer (null when absent); it stays valid
  /// until the field is set again or the message is destroyed.
  const char* GetAssertedIdentity() const { return assertedIdentity_.get(); }
  const char* GetAuthorization() const { return authorization_.get(); }
  const char* GetContentType() const { return contentType_.get(); }
  const char* GetBody() const { return body_.get(); }
  int GetBodyLength() const { return bodyLength_; }  // -1 while no body was set.
  const char* GetAuid() const { return auid_.get(); }
  const char* GetHost() const { return host_.get(); }
  const char* GetIntendedIdentity() const { return intendedIdentity_.get(); }
  const char* GetEtag() const { return etag_.get(); }

  /// Appends the header block, the blank line and the body to `buffer`,
  /// which must already hold the NUL-terminated start line, and stores the
  /// total number of message bytes in `*length`. `capacity` is the size of
  /// the whole buffer; the message plus one NUL behind it must fit, and that
  /// NUL is written, so buffer[*length] is always 0 on success.
  /// Returns 0, kHttpBufferTooSmall, or kHttpNoStartLine (no NUL within
  /// `capacity`); on failure the buffer is untouched.
  int AppendHeadersAndBody(char* buffer, int capacity, int* length) const;
  /// The same bytes appended to `*out`, which holds the start line.
  void AppendHeadersAndBody(std::string* out) const;

  /// Parses one whole message (start line, headers, blank line, body) given
  /// as NUL-terminated text; `length` is only a hint, the text always ends at
  /// its first NUL. Stores the known headers and a non-empty body.
  /// Returns 0, -1 (no CR LF CR LF) or -2 (Content-Length differs from the
  /// number of body bytes; later lines and the body are then not stored).
  int ParseHeadersAndBody(const char* text, int length);

  /// Looks for an XCAP application usage behind "services/" in `uri`
  /// ("ims-pim", "xcap-caps", "public-group", "resource-lists", matched as
  /// a prefix in any letter case) and stores it with SetAuid. 0 or -1.
  int ClassifyAuid(const char* uri);

 protected:
  /// Serialises the start line "first second third\r\n" and everything
  /// AppendHeadersAndBody adds, with the results of AppendHeadersAndBody.
  int SerializeWithStartLine(const char* first, const char* second, const char* third, char* buffer,
                             int capacity, int* length) const;
  void SerializeWithStartLine(const char* first, const char* second, const char* third,
                              std::string* out) const;
  /// ParseHeadersAndBody on text already measured, whose first CR LF CR LF
  /// starts at `blankLine`.
  int ParseMeasured(const char* text, size_t length, size_t blankLine);

 private:
  /// Size of the header block, blank line and body that the serialisers add.
  size_t HeadersAndBodySize() const;
  /// Writes them at `out`; returns the end of what was written.
  char* WriteHeadersAndBody(char* out) const;
  /// Tests one header line (without its CR LF) against the known headers and
  /// stores what it carries; false when it announces a length other than
  /// `bodySize`.
  bool StoreHeaderLine(const char* line, size_t length, size_t bodySize);

  std::unique_ptr<char[]> assertedIdentity_;
  std::unique_ptr<char[]> authorization_;
  std::unique_ptr<char[]> contentType_;
  std::unique_ptr<char[]> body_;
  int bodyLength_ = -1;
  std::unique_ptr<char[]> auid_;
  std::unique_ptr<char[]> host_;
  std::unique_ptr<char[]> intendedIdentity_;
  std::unique_ptr<char[]> etag_;
};

class VC_API HttpRequest : public HttpMessage {
 public:
  HttpRequest();
  ~HttpRequest();
  HttpRequest(HttpRequest&&) noexcept;
  HttpRequest& operator=(HttpRequest&&) noexcept;

  /// `method` indexes `HttpMethod` and must be 0, 1 or 2 (anything else
  /// leaves the method unset, -1).
  void SetMethod(int method);
  int GetMethod() const { return method_; }
  /// Stores a copy of `uri` as given, not trimmed. Must not be null.
  void SetUri(const char* uri);
  const char* GetUri() const { return uri_.get(); }

  /// Writes "METHOD URI HTTP/1.1\r\n", the headers and the body at the start
  /// of `buffer` and NUL-terminates. Returns 0, -1 (no method), -2 (no URI)
  /// or kHttpBufferTooSmall; on failure the buffer is untouched.
  int Serialize(char* buffer, int capacity, int* length) const;
  /// The same bytes into `*out` (replaced); same results, never too small.
  int Serialize(std::string* out) const;

  /// Parses a whole request. Returns 0, -1 (null text), -3 (method not GET,
  /// PUT or DELETE), -4 (version not HTTP/1.1), -6 (no application usage in
  /// the URI), -5 (ParseHeadersAndBody failed). Method and URI are stored
  /// only on success.
  int Parse(const char* text, int length);

 private:
  int method_ = -1;
  std::unique_ptr<char[]> uri_;
};

class VC_API HttpResponse : public HttpMessage {
 public:
  HttpResponse();
  ~HttpResponse();
  HttpResponse(HttpResponse&&) noexcept;
  HttpResponse& operator=(HttpResponse&&) noexcept;

  void SetStatusCode(int code) { statusCode_ = code; }
  int GetStatusCode() const { return statusCode_; }

  /// Writes "HTTP/1.1 CODE REASON\r\n", the headers and the body at the
  /// start of `buffer` and NUL-terminates. Returns 0, -1 (code not in
  /// `HttpStatusTable`) or kHttpBufferTooSmall; on failure the buffer is
  /// untouched.
  int Serialize(char* buffer, int capacity, int* length) const;
  int Serialize(std::string* out) const;

  /// Parses a whole response. Returns 0, -1 (null text), -2 (version not
  /// HTTP/1.1), -3 (code not in `HttpStatusTable`), -5 (no CR LF CR LF),
  /// -6 (ParseHeadersAndBody failed). The status code is stored only on
  /// success.
  int Parse(const char* text, int length);

 private:
  int statusCode_ = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_HTTP_HTTP_H_
