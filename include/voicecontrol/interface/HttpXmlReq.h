/// @file
/// Command requests and their answers: HTTP/1.1 messages whose body is an
/// interface message.
///
/// A command goes out as
///
/// @code{.unparsed}
///   QALL /MyURL/ HTTP/1.1\r\n
///   Content-Length: 167\r\n
///   Host: Host\r\n
///   \r\n
///   <?xml version="1.0" encoding="GB2312" ?>\n<Interface>\n<Request>\n ...
/// @endcode
///
/// and the server answers with "HTTP/1.1 200 OK" and a Response document.
/// The body travels in the system's ANSI code page.
///
/// Client half, in this order:
/// - HttpXmlReq: CreateBody, SetMethod, SetSeqNo, SetFlowID, SetFieldNum,
///   AddFieldValue per value, Serialize.
/// - HttpXmlRsp: CreateBody, Parse, GetFlowID, GetSeqNo, GetFieldNum,
///   GetNextFieldValue per value.
///
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
struct AnswerDocument;
struct BodyEncoding;
}

/// The number of methods in `HttpXmlMethod`.
inline constexpr int kHttpXmlMethodCount = 9;
/// Command methods, indexed by the method number of `HttpXmlReq`. Rows 0 to
/// 2 are those of `HttpMethod`.
inline constexpr const char* HttpXmlMethod[kHttpXmlMethodCount] = {
    "GET", "PUT", "DELETE", "KICK", "CHANGE", "QSINGLE", "CREATE", "QALL", "DSCALL"};
inline constexpr int kHttpXmlGet = 0;      ///< GET.
inline constexpr int kHttpXmlPut = 1;      ///< PUT.
inline constexpr int kHttpXmlDelete = 2;   ///< DELETE.
inline constexpr int kHttpXmlKick = 3;     ///< KICK (FlowID 1002).
inline constexpr int kHttpXmlChange = 4;   ///< CHANGE (FlowID 1003).
inline constexpr int kHttpXmlQsingle = 5;  ///< QSINGLE (FlowID 1005).
inline constexpr int kHttpXmlCreate = 6;   ///< CREATE (FlowID 1001).
inline constexpr int kHttpXmlQall = 7;     ///< QALL (FlowID 1004).
inline constexpr int kHttpXmlDscall = 8;   ///< DSCALL (FlowID 1006).

/// The one request URI commands use.
inline constexpr char kHttpXmlUri[] = "/MyURL/";
/// The value of the Host header of every command and answer.
inline constexpr char kHttpXmlHost[] = "Host";

/// What requests and answers share: the HTTP message and the interface
/// document that becomes its body.
class VC_API HttpXmlMessage : public HttpMessage {
 public:
  HttpXmlMessage(const HttpXmlMessage&) = delete;             ///< Not copyable.
  HttpXmlMessage& operator=(const HttpXmlMessage&) = delete;  ///< Not copyable.

  /// Writes Seq_No into the document.
  /// @param seq_no the sequence number.
  void SetSeqNo(std::int32_t seq_no);
  /// Writes FlowID into the document.
  /// @param flow_id the flow identifier that names the command, e.g. 1004.
  void SetFlowID(std::int32_t flow_id);
  /// Writes FieldNum into the document.
  /// @param field_num the number of values that follow.
  void SetFieldNum(std::int32_t field_num);
  /// Writes one Field_Value into the document (escaped).
  /// @param value the value's text.
  void AddFieldValue(std::wstring value);
  /// Closes the document.
  /// @return its text, "" without a document.
  std::wstring FinishBody();

  /// Loads a document text into the document, as InterfaceMessage::Load.
  /// @param text the document text.
  /// @return 1 or 0 as InterfaceMessage::Load, -1 without a document.
  int LoadBody(std::wstring text);
  /// @return the document's Seq_No, -1 without a document.
  std::int32_t GetSeqNo();
  /// @return the document's FlowID, -1 without a document.
  std::int32_t GetFlowID();
  /// @return the document's FieldNum, -1 without a document.
  std::int32_t GetFieldNum();
  /// @return the next Field_Value (InterfaceMessage::ReadNextFieldValue),
  ///         "" without a document.
  std::wstring GetNextFieldValue();

 protected:
  /// A message without a document.
  HttpXmlMessage();
  /// Releases the message and its document.
  ~HttpXmlMessage();

  /// Takes `document` as the body document and sets the Host header.
  /// @param document the new document; null when none could be made.
  /// @return 0, or -1 when `document` is null.
  int AttachDocument(std::unique_ptr<InterfaceMessage> document);
  /// @return whether the message has a document.
  bool HasDocument() const { return document_ != nullptr; }
  /// Finishes the document and stores it, in the ANSI code page, as the
  /// HTTP body. Done once: a second Serialize (say, after a too small
  /// buffer) sends the same bytes instead of closing the document again.
  void StoreDocumentAsBody();
  /// Loads the HTTP body, a text in the ANSI code page, into the document.
  void LoadDocumentFromBody();
  /// ParseHeadersAndBody for text whose start line was already read.
  /// @param text the rest of the message, NUL-terminated.
  /// @param length its length in bytes.
  /// @return 0, or -1 when the text has no blank line, -2 when the headers
  ///         or body fail.
  int ParseRest(const char* text, size_t length);

 private:
  friend struct internal::AnswerDocument;
  friend struct internal::BodyEncoding;

  std::unique_ptr<InterfaceMessage> document_;
  bool body_stored_ = false;
  // The library's own commands write their body as UTF-8 instead.
  bool utf8_body_ = false;
};

/// A command request.
class VC_API HttpXmlReq : public HttpXmlMessage {
 public:
  /// A request without method or document.
  HttpXmlReq();
  /// The class's one virtual operation: a request of a class derived from
  /// it may be deleted through a pointer to HttpXmlReq. (HttpXmlRsp has
  /// none.)
  virtual ~HttpXmlReq();

  /// Gives the request its (empty) document and the Host header.
  /// @return 0, or -1 when no document could be made.
  int CreateBody();

  /// Sets the method.
  /// @param method an index of `HttpXmlMethod`, 0 to 8; anything else is a
  ///        caller error (asserted in debug builds) and leaves the method
  ///        unset (-1).
  void SetMethod(int method);
  /// @return the method's index in `HttpXmlMethod`, -1 while unset.
  int GetMethod() const { return method_; }

  /// Writes the whole request at the start of `buffer` followed by a NUL.
  /// @param buffer where the request goes; untouched on failure.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of request bytes, without the NUL.
  /// @return 0, -1 (no method), -2 (no document) or kHttpBufferTooSmall
  ///         (-3) when the message and its NUL do not fit.
  int Serialize(char* buffer, int capacity, int* length);
  /// The same bytes into a string.
  /// @param out replaced by the request.
  /// @return 0, -1 (no method) or -2 (no document).
  int Serialize(std::string* out);

  /// Reads a received request. The URI is not looked at. On 0 the body is
  /// loaded into the document.
  /// @param text the request, NUL-terminated.
  /// @param length its length in bytes (a hint).
  /// @return 0, -1 (null text), -3 (method not in HttpXmlMethod, letter
  ///         case counts), -4 (version not "HTTP/1.1"), -5 (header block or
  ///         body failed).
  int Parse(const char* text, int length);

 private:
  int method_ = -1;
};

/// An answer to a command.
///
/// What is wrong with an answer is noted for the thread's error detail,
/// which the controller shows beside its fixed error text: by CreateBody
/// when it fails ("COM is not initialised on this thread"), and by Parse for
/// every refusal ("HTTP/1.0 answer", "HTTP status 299") and for an answer
/// that parses but cannot serve ("answer is not well-formed XML (line 3,
/// column 7): ...", "answer has a document type declaration", "answer has
/// no body", each headed by "HTTP status 501; " when the status is not a
/// success). Parse clears what was noted before it; a good answer with a
/// success status leaves no detail.
class VC_API HttpXmlRsp : public HttpXmlMessage {
 public:
  /// An answer with status 0, without a document.
  HttpXmlRsp();
  /// Releases the answer and its document.
  ~HttpXmlRsp();

  /// Gives the answer its (empty) document and the Host header, and makes
  /// sure the DOM service can load it on this thread.
  /// @return 0, or -1 when no document could be made.
  int CreateBody();

  /// Sets the HTTP status code.
  /// @param status e.g. 200.
  void SetStatus(int status) { status_ = status; }
  /// @return the HTTP status code, 0 while unset.
  int GetStatus() const { return status_; }

  /// Writes the whole answer like HttpXmlReq::Serialize.
  /// @param buffer where the answer goes; untouched on failure.
  /// @param capacity the size of `buffer` in bytes.
  /// @param[out] length the number of answer bytes, without the NUL.
  /// @return 0, -1 (the status has no reason phrase), -2 (no document) or
  ///         kHttpBufferTooSmall.
  int Serialize(char* buffer, int capacity, int* length);
  /// The same bytes into a string.
  /// @param out replaced by the answer.
  /// @return 0, -1 (the status has no reason phrase) or -2 (no document).
  int Serialize(std::string* out);

  /// Reads a received answer. On 0 the body is loaded into the document; a
  /// body that is no interface message still gives 0, and the getters then
  /// read 0 and "".
  /// @param text the answer, NUL-terminated.
  /// @param length its size as received; it only tells a NUL byte inside it.
  /// @return 0, -1 (null text), -2 (version not "HTTP/1.1"), -3 (status
  ///         code not in HttpStatusTable), -5 (no blank line), -6 (header
  ///         block or body failed).
  int Parse(const char* text, int length);

 private:
  int status_ = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_HTTPXMLREQ_H_
