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

/// The number of methods in `HttpMethod`.
inline constexpr int kHttpMethodCount = 3;
/// Method names, indexed by the method number of `HttpRequest`.
inline constexpr const char* HttpMethod[kHttpMethodCount] = {"GET", "PUT", "DELETE"};
inline constexpr int kHttpGet = 0;     ///< The method number of GET.
inline constexpr int kHttpPut = 1;     ///< The method number of PUT.
inline constexpr int kHttpDelete = 2;  ///< The method number of DELETE.

/// One status code with its reason phrase.
struct VC_API HttpStatusEntry {
  int code;            ///< The status code, e.g. 200.
  const char* reason;  ///< Its reason phrase, e.g. "OK".
};

/// The number of entries in `HttpStatusTable`.
inline constexpr int kHttpStatusCount = 40;
/// The status codes the serialiser and the parser of `HttpResponse` know,
/// in ascending order.
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

/// Looks up a status code in `HttpStatusTable`.
/// @param code an HTTP status code, e.g. 404.
/// @return its reason phrase ("Not Found"), or null when the code is not in
///         the table.
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
inline constexpr int kHttpMaxLine = 1024;    ///< A header line.
inline constexpr int kHttpMaxMethod = 256;   ///< The method word of a request line.
inline constexpr int kHttpMaxUri = 512;      ///< The URI of a request line.
inline constexpr int kHttpMaxVersion = 256;  ///< The version word of a start line.
inline constexpr int kHttpMaxReason = 256;   ///< The reason phrase of a status line.

/// An HTTP/1.1 message: nine known header values and the body.
///
/// The headers are P-Asserted-Identity, Authorization, Content-Type, the
/// XCAP application usage (AUID, not a header of its own: it is read from
/// the request URI), Host, X-3GPP-Intended-Identity and ETag; the serialiser
/// writes them in a fixed order, followed by Content-Length when there is a
/// body. Texts are narrow and copied byte for byte; each field is a copy the
/// message owns. Messages move but do not copy.
class VC_API HttpMessage {
 public:
  /// A message without headers or body.
  HttpMessage();
  /// Releases every stored text.
  ~HttpMessage();
  /// Takes over the fields of `other`, which is left without any.
  /// @param other the message to move from.
  HttpMessage(HttpMessage&& other) noexcept;
  /// Takes over the fields of `other`, releasing this message's own.
  /// @param other the message to move from.
  /// @return this message.
  HttpMessage& operator=(HttpMessage&& other) noexcept;
  HttpMessage(const HttpMessage&) = delete;             ///< Not copyable.
  HttpMessage& operator=(const HttpMessage&) = delete;  ///< Not copyable.

  /** @name Header fields
   * Each setter stores a copy of `value` trimmed of bytes 1 to 32 at both
   * ends (`TrimSpace`); `value` must not be null (a null leaves the field
   * absent). Each getter returns the stored pointer, null when the field is
   * absent; it stays valid until the field is set again or the message is
   * destroyed.
   */
  ///@{

  /// Sets P-Asserted-Identity. @param value the header's value.
  void SetAssertedIdentity(const char* value);
  /// Sets Authorization. @param value the header's value.
  void SetAuthorization(const char* value);
  /// Sets Content-Type. @param value the header's value.
  void SetContentType(const char* value);
  /// Sets the XCAP application usage. @param value e.g. "resource-lists".
  void SetAuid(const char* value);
  /// Sets Host. @param value the header's value.
  void SetHost(const char* value);
  /// Sets X-3GPP-Intended-Identity. @param value the header's value.
  void SetIntendedIdentity(const char* value);
  /// Sets ETag. @param value the header's value.
  void SetEtag(const char* value);

  /// @return P-Asserted-Identity, or null.
  const char* GetAssertedIdentity() const { return assertedIdentity_.get(); }
  /// @return Authorization, or null.
  const char* GetAuthorization() const { return authorization_.get(); }
  /// @return Content-Type, or null.
  const char* GetContentType() const { return contentType_.get(); }
  /// @return the body, NUL-terminated, or null.
  const char* GetBody() const { return body_.get(); }
  /// @return the number of body bytes, -1 while no body was set.
  int GetBodyLength() const { return bodyLength_; }
  /// @return the XCAP application usage, or null.
  const char* GetAuid() const { return auid_.get(); }
  /// @return Host, or null.
  const char* GetHost() const { return host_.get(); }
  /// @return X-3GPP-Intended-Identity, or null.
  const char* GetIntendedIdentity() const { return intendedIdentity_.get(); }
  /// @return ETag, or null.
  const char* GetEtag() const { return etag_.get(); }
  ///@}

  /// Stores `length` bytes of `data` untrimmed, plus one NUL behind them.
  /// `data` must not be null and `length` not below -1 (either leaves the
  /// body absent).
  /// @param data the body's bytes.
  /// @param length their number, or -1 for up to the first NUL of `data`.
  void SetBody(const char* data, int length);

  /// Appends the header block, the blank line and the body to `buffer`,
  /// which must already hold the NUL-terminated start line, and stores the
  /// total number of message bytes in `*length`. `capacity` is the size of
  /// the whole buffer; the message plus one NUL behind it must fit, and that
  /// NUL is written, so buffer[*length] is always 0 on success.
  /// @param buffer the message so far: the start line, NUL-terminated.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of message bytes, without the NUL.
  /// @return 0, kHttpBufferTooSmall, or kHttpNoStartLine (no NUL within
  ///         `capacity`); on failure the buffer is untouched.
  int AppendHeadersAndBody(char* buffer, int capacity, int* length) const;
  /// The same bytes appended to a string.
  /// @param out the message so far: the start line.
  void AppendHeadersAndBody(std::string* out) const;

  /// Parses one whole message (start line, headers, blank line, body) given
  /// as NUL-terminated text; `length` is only a hint, the text always ends at
  /// its first NUL. Stores the known headers and a non-empty body.
  /// @param text the whole message, NUL-terminated.
  /// @param length its length in bytes (a hint).
  /// @return 0, -1 (no CR LF CR LF) or -2 (Content-Length differs from the
  ///         number of body bytes; later lines and the body are then not
  ///         stored).
  int ParseHeadersAndBody(const char* text, int length);

  /// Looks for an XCAP application usage behind "services/" in `uri`
  /// ("ims-pim", "xcap-caps", "public-group", "resource-lists", matched as
  /// a prefix in any letter case) and stores it with SetAuid.
  /// @param uri a request URI, NUL-terminated.
  /// @return 0 when one was found, else -1.
  int ClassifyAuid(const char* uri);

 protected:
  /// Serialises the start line "first second third\r\n" and everything
  /// AppendHeadersAndBody adds at the start of `buffer`.
  /// @param first the start line's first word.
  /// @param second its second word.
  /// @param third its third word (or words).
  /// @param buffer where the message goes.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of message bytes, without the NUL.
  /// @return 0 or kHttpBufferTooSmall (the buffer is then untouched).
  int SerializeWithStartLine(const char* first, const char* second, const char* third, char* buffer,
                             int capacity, int* length) const;
  /// The same bytes into a string.
  /// @param first the start line's first word.
  /// @param second its second word.
  /// @param third its third word (or words).
  /// @param out replaced by the message.
  void SerializeWithStartLine(const char* first, const char* second, const char* third,
                              std::string* out) const;
  /// ParseHeadersAndBody on text already measured.
  /// @param text the whole message.
  /// @param length its length in bytes, up to its first NUL.
  /// @param blankLine the offset of its first CR LF CR LF.
  /// @return as ParseHeadersAndBody.
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

/// An HTTP/1.1 request: a method of `HttpMethod`, a URI, headers and body.
class VC_API HttpRequest : public HttpMessage {
 public:
  /// A request without method, URI, headers or body.
  HttpRequest();
  /// Releases every stored text.
  ~HttpRequest();
  /// Takes over the fields of `other`.
  /// @param other the request to move from.
  HttpRequest(HttpRequest&& other) noexcept;
  /// Takes over the fields of `other`.
  /// @param other the request to move from.
  /// @return this request.
  HttpRequest& operator=(HttpRequest&& other) noexcept;

  /// Sets the method.
  /// @param method an index of `HttpMethod`: kHttpGet, kHttpPut or
  ///        kHttpDelete (anything else leaves the method unset, -1).
  void SetMethod(int method);
  /// @return the method's index in `HttpMethod`, -1 while unset.
  int GetMethod() const { return method_; }
  /// Stores a copy of `uri` as given, not trimmed.
  /// @param uri the request URI; must not be null.
  void SetUri(const char* uri);
  /// @return the request URI, or null while unset.
  const char* GetUri() const { return uri_.get(); }

  /// Writes "METHOD URI HTTP/1.1\r\n", the headers and the body at the start
  /// of `buffer` and NUL-terminates.
  /// @param buffer where the request goes.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of request bytes, without the NUL.
  /// @return 0, -1 (no method), -2 (no URI) or kHttpBufferTooSmall; on
  ///         failure the buffer is untouched.
  int Serialize(char* buffer, int capacity, int* length) const;
  /// The same bytes into a string.
  /// @param out replaced by the request.
  /// @return 0, -1 (no method) or -2 (no URI).
  int Serialize(std::string* out) const;

  /// Parses a whole request. Method and URI are stored only on success.
  /// @param text the request, NUL-terminated.
  /// @param length its length in bytes (a hint; the text ends at its NUL).
  /// @return 0, -1 (null text), -3 (method not GET, PUT or DELETE), -4
  ///         (version not HTTP/1.1), -6 (no application usage in the URI),
  ///         -5 (ParseHeadersAndBody failed).
  int Parse(const char* text, int length);

 private:
  int method_ = -1;
  std::unique_ptr<char[]> uri_;
};

/// An HTTP/1.1 response: a status code, headers and body.
class VC_API HttpResponse : public HttpMessage {
 public:
  /// A response with status code 0, without headers or body.
  HttpResponse();
  /// Releases every stored text.
  ~HttpResponse();
  /// Takes over the fields of `other`.
  /// @param other the response to move from.
  HttpResponse(HttpResponse&& other) noexcept;
  /// Takes over the fields of `other`.
  /// @param other the response to move from.
  /// @return this response.
  HttpResponse& operator=(HttpResponse&& other) noexcept;

  /// Sets the status code.
  /// @param code e.g. 200; the serialiser accepts only codes of `HttpStatusTable`.
  void SetStatusCode(int code) { statusCode_ = code; }
  /// @return the status code, 0 while unset.
  int GetStatusCode() const { return statusCode_; }

  /// Writes "HTTP/1.1 CODE REASON\r\n", the headers and the body at the
  /// start of `buffer` and NUL-terminates.
  /// @param buffer where the response goes.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of response bytes, without the NUL.
  /// @return 0, -1 (code not in `HttpStatusTable`) or kHttpBufferTooSmall;
  ///         on failure the buffer is untouched.
  int Serialize(char* buffer, int capacity, int* length) const;
  /// The same bytes into a string.
  /// @param out replaced by the response.
  /// @return 0 or -1 (code not in `HttpStatusTable`).
  int Serialize(std::string* out) const;

  /// Parses a whole response. The status code is stored only on success.
  /// @param text the response, NUL-terminated.
  /// @param length its length in bytes (a hint; the text ends at its NUL).
  /// @return 0, -1 (null text), -2 (version not HTTP/1.1), -3 (code not in
  ///         `HttpStatusTable`), -5 (no CR LF CR LF), -6
  ///         (ParseHeadersAndBody failed).
  int Parse(const char* text, int length);

 private:
  int statusCode_ = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_HTTP_HTTP_H_
