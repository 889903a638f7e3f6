/// @file
/// Command requests and their answers: HTTP/1.1 messages whose body is an
/// interface message.
///
/// A command goes out as
///
///   QALL /MyURL/ HTTP/1.1\r\n
///   Content-Length: 167\r\n
///   Host: Host\r\n
///   \r\n
///   <?xml version="1.0" encoding="GB2312" ?>\n<Interface>\n<Request>\n ...
///
/// and the server answers with "HTTP/1.1 200 OK" and a <Response> document.
/// The body travels in the system's ANSI code page.
///
/// Client half, in this order:
///   HttpXmlReq: CreateBody, SetMethod, SetSeqNo, SetFlowID, SetFieldNum,
///               AddFieldValue per value, Serialize.
///   HttpXmlRsp: CreateBody, Parse, GetFlowID, GetSeqNo, GetFieldNum,
///               GetNextFieldValue per value.
/// The server half (HttpXmlReq::Parse, HttpXmlRsp::Serialize) mirrors it.
///
/// Without a document (before CreateBody) the setters do nothing, the
/// integer getters return -1 and the field getters "".
#ifndef VOICECONTROL_INTERFACE_HTTPXMLREQ_H_
#define VOICECONTROL_INTERFACE_HTTPXMLREQ_H_

#include <cstdint>
#include <memory>
#include <string>

#include <voicecontrol/http/http.h>
#include <voicecontrol/interface/interface_message.h>
#include <voicecontrol/export.h>

namespace voicecontrol {

namespace internal {
struct BodyEncoding;
}

/// Command methods, indexed by the method number of `HttpXmlReq`. Rows 0 to
/// 2 are those of `HttpMethod`.
inline constexpr int kHttpXmlMethodCount = 9;
inline constexpr const char* HttpXmlMethod[kHttpXmlMethodCount] = {
    "GET", "PUT", "DELETE", "KICK", "CHANGE", "QSINGLE", "CREATE", "QALL", "DSCALL"};
inline constexpr int kHttpXmlGet = 0;
inline constexpr int kHttpXmlPut = 1;
inline constexpr int kHttpXmlDelete = 2;
inline constexpr int kHttpXmlKick = 3;
inline constexpr int kHttpXmlChange = 4;
inline constexpr int kHttpXmlQsingle = 5;
inline constexpr int kHttpXmlCreate = 6;
inline constexpr int kHttpXmlQall = 7;
inline constexpr int kHttpXmlDscall = 8;

/// The one request URI commands use.
inline constexpr char kHttpXmlUri[] = "/MyURL/";
/// The value of the Host header of every command and answer.
inline constexpr char kHttpXmlHost[] = "Host";

/// What requests and answers share: the HTTP message and the interface
/// document that becomes its body.
class VC_API HttpXmlMessage : public HttpMessage {
 public:
  HttpXmlMessage(const HttpXmlMessage&) = delete;
  HttpXmlMessage& operator=(const HttpXmlMessage&) = delete;

  /// Writing the document.
  void SetSeqNo(std::int32_t seq_no);
  void SetFlowID(std::int32_t flow_id);
  void SetFieldNum(std::int32_t field_num);
  void AddFieldValue(std::wstring value);
  /// Closes the document and returns its text ("" without a document).
  std::wstring FinishBody();

  /// Reading the document: LoadBody gives 1 or 0 as InterfaceMessage::Load,
  /// -1 without a document.
  int LoadBody(std::wstring text);
  std::int32_t GetSeqNo();
  std::int32_t GetFlowID();
  std::int32_t GetFieldNum();
  std::wstring GetNextFieldValue();

 protected:
  HttpXmlMessage();
  ~HttpXmlMessage();

  /// Takes `document` as the body document and sets the Host header.
  /// 0, or -1 when no document could be made.
  int AttachDocument(std::unique_ptr<InterfaceMessage> document);
  bool HasDocument() const { return document_ != nullptr; }
  /// Finishes the document and stores it, in the ANSI code page, as the
  /// HTTP body. Done once: a second Serialize (say, after a too small
  /// buffer) sends the same bytes instead of closing the document again.
  void StoreDocumentAsBody();
  /// Loads the HTTP body, a text in the ANSI code page, into the document.
  void LoadDocumentFromBody();
  /// ParseHeadersAndBody for text whose start line was already read: 0, or
  /// -1 when the text has no blank line, -2 when the headers or body fail.
  int ParseRest(const char* text, size_t length);

 private:
  friend struct internal::BodyEncoding;

  std::unique_ptr<InterfaceMessage> document_;
  bool body_stored_ = false;
  /// The library's own commands write their body as UTF-8 instead.
  bool utf8_body_ = false;
};

/// A command request.
class VC_API HttpXmlReq : public HttpXmlMessage {
 public:
  HttpXmlReq();
  /// The class's one virtual operation: a request of a class derived from
  /// it may be deleted through a pointer to HttpXmlReq. (HttpXmlRsp has
  /// none.)
  virtual ~HttpXmlReq();

  /// Gives the request its (empty) document and the Host header. 0 or -1.
  int CreateBody();

  /// `method` indexes `HttpXmlMethod`, 0 to 8; anything else is a caller
  /// error (asserted in debug builds) and leaves the method unset (-1).
  void SetMethod(int method);
  int GetMethod() const { return method_; }

  /// Writes the whole request at the start of `buffer` followed by a NUL
  /// and stores its byte count (without the NUL) in `*length`. Returns 0,
  /// -1 (no method), -2 (no document) or kHttpBufferTooSmall (-3) when the
  /// message and its NUL do not fit in `capacity` bytes. The buffer is
  /// untouched on failure.
  int Serialize(char* buffer, int capacity, int* length);
  /// The same bytes into `*out` (replaced); same results, never too small.
  int Serialize(std::string* out);

  /// Reads a received request (NUL-terminated `text`; `length` is a hint).
  /// Returns 0, -1 (null text), -3 (method not in HttpXmlMethod, letter case
  /// counts), -4 (version not "HTTP/1.1"), -5 (header block or body failed).
  /// The URI is not looked at. On 0 the body is loaded into the document.
  int Parse(const char* text, int length);

 private:
  int method_ = -1;
};

/// An answer to a command.
class VC_API HttpXmlRsp : public HttpXmlMessage {
 public:
  HttpXmlRsp();
  ~HttpXmlRsp();

  /// Gives the answer its (empty) document and the Host header. 0 or -1.
  int CreateBody();

  void SetStatus(int status) { status_ = status; }
  int GetStatus() const { return status_; }

  /// Writes the whole answer like HttpXmlReq::Serialize. Returns 0, -1 (the
  /// status has no reason phrase), -2 (no document) or kHttpBufferTooSmall.
  int Serialize(char* buffer, int capacity, int* length);
  int Serialize(std::string* out);

  /// Reads a received answer (NUL-terminated `text`; `length` is a hint).
  /// Returns 0, -1 (null text), -2 (version not "HTTP/1.1"), -3 (status code
  /// not in HttpStatusTable), -5 (no blank line), -6 (header block or body
  /// failed). On 0 the body is loaded into the document; a body that is no
  /// interface message still gives 0, and the getters then read 0 and "".
  int Parse(const char* text, int length);

 private:
  int status_ = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_HTTPXMLREQ_H_
