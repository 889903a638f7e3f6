#include <voicecontrol/interface/HttpXmlReq.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "http/decimal.h"
#include "http/text_scan.h"
#include "interface/error_detail.h"
#include "platform/codepage.h"

namespace voicecontrol {

namespace {

constexpr char kHttpVersion[] = "HTTP/1.1";

int MethodIndex(const Word& name) {
  for (int i = 0; i < kHttpXmlMethodCount; ++i) {
    if (name.Equals(HttpXmlMethod[i])) return i;
  }
  return -1;
}

// --- Error details of an answer --------------------------------------------
//
// Short texts that name the fact, quoting the answer's own words where they
// help: printable ASCII only (anything else shows as '?') and cut short, so
// that a hostile answer cannot fill a host's log.

std::string Quoted(const char* begin, size_t length) {
  constexpr size_t kMaxQuoted = 24;
  std::string quoted;
  for (size_t i = 0; i < length && i < kMaxQuoted; ++i) {
    const char c = begin[i];
    quoted += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  if (length > kMaxQuoted) quoted += "...";
  return quoted;
}

std::string Quoted(const Word& word) { return Quoted(word.begin, word.length); }

// Why the first word is not "HTTP/1.1": "HTTP/1.0 answer".
std::string VersionDetail(const Word& version) {
  if (version.length == 0) return "answer is empty";
  if (StartsWithNoCase(version.begin, version.length, "HTTP/")) return Quoted(version) + " answer";
  return "answer is not HTTP (it begins \"" + Quoted(version) + "\")";
}

// Why the status code was refused: "HTTP status 299".
std::string StatusDetail(const Word& status) {
  const bool numeric = status.length > 0 && ((status.begin[0] >= '0' && status.begin[0] <= '9') ||
                                             status.begin[0] == '-' || status.begin[0] == '+');
  if (!numeric) return "HTTP status line has no status code";
  return "HTTP status " + Quoted(status);
}

// Why the header block or the body failed: in practice a Content-Length
// that does not match the body.
std::string HeaderDetail(const char* text, size_t measured, int hint) {
  const char* const blank_line = std::strstr(text, "\r\n\r\n");
  if (blank_line == nullptr) return "answer header block not understood";
  const size_t body = measured - static_cast<size_t>(blank_line + 4 - text);
  // A NUL byte ends the text: what follows it is not part of the body.
  const char* const cut = (hint >= 0 && static_cast<size_t>(hint) > measured) ? " before a NUL byte" : "";
  for (const char* line = std::strstr(text, "\r\n"); line != nullptr && line < blank_line;
       line = std::strstr(line + 2, "\r\n")) {
    const char* const start = line + 2;
    if (!StartsWithNoCase(start, static_cast<size_t>(blank_line + 2 - start), "CONTENT-LENGTH:")) {
      continue;
    }
    Word value;
    const char* const end = std::strstr(start, "\r\n");
    ReadWord(start + 15, end, &value);
    return "Content-Length " + Quoted(value) + " but the body has " + std::to_string(body) +
           " bytes" + cut;
  }
  return "answer body of " + std::to_string(body) + " bytes" + cut + " not accepted";
}

bool IsSuccessStatus(int status) { return status >= 200 && status <= 299; }

// The detail of an answer that parsed: what the document layer noted about
// its body ("document ..." becomes "answer ..."), and a status other than
// success. "" for a good answer.
std::string AnswerDetail(int status, bool has_body, std::string noted) {
  std::string detail;
  if (!has_body) {
    detail = "answer has no body";
  } else {
    detail = internal::AsAnswerDetail(std::move(noted));
  }
  if (IsSuccessStatus(status)) return detail;
  const std::string code = "HTTP status " + std::to_string(status);
  return detail.empty() ? code : code + "; " + detail;
}

}  // namespace

// --- HttpXmlMessage ------------------------------------------------------

HttpXmlMessage::HttpXmlMessage() = default;
HttpXmlMessage::~HttpXmlMessage() = default;

int HttpXmlMessage::AttachDocument(std::unique_ptr<InterfaceMessage> document) {
  if (document == nullptr) return -1;
  document_ = std::move(document);
  body_stored_ = false;
  SetHost(kHttpXmlHost);
  return 0;
}

void HttpXmlMessage::SetSeqNo(std::int32_t seq_no) {
  if (document_ != nullptr) document_->WriteSeqNo(seq_no);
}

void HttpXmlMessage::SetFlowID(std::int32_t flow_id) {
  if (document_ != nullptr) document_->WriteFlowID(flow_id);
}

void HttpXmlMessage::SetFieldNum(std::int32_t field_num) {
  if (document_ != nullptr) document_->WriteFieldNum(field_num);
}

void HttpXmlMessage::AddFieldValue(std::wstring value) {
  if (document_ != nullptr) document_->WriteFieldValue(std::move(value));
}

std::wstring HttpXmlMessage::FinishBody() {
  return document_ != nullptr ? document_->Finish() : std::wstring();
}

int HttpXmlMessage::LoadBody(std::wstring text) {
  return document_ != nullptr ? document_->Load(std::move(text)) : -1;
}

namespace {

// What the number getters give without a document. A document may hold -1
// too: the note tells the two apart.
std::int32_t NoDocument() {
  internal::NoteErrorDetail("no interface document");
  return -1;
}

}  // namespace

std::int32_t HttpXmlMessage::GetSeqNo() {
  return document_ != nullptr ? document_->ReadSeqNo() : NoDocument();
}

std::int32_t HttpXmlMessage::GetFlowID() {
  return document_ != nullptr ? document_->ReadFlowID() : NoDocument();
}

std::int32_t HttpXmlMessage::GetFieldNum() {
  return document_ != nullptr ? document_->ReadFieldNum() : NoDocument();
}

std::wstring HttpXmlMessage::GetNextFieldValue() {
  return document_ != nullptr ? document_->ReadNextFieldValue() : std::wstring();
}

void HttpXmlMessage::StoreDocumentAsBody() {
  if (body_stored_ || document_ == nullptr) return;
  const std::wstring text = document_->Finish();
  const std::string bytes =
      utf8_body_ ? platform::WideToUtf8String(text) : platform::WideToAnsiString(text);
  // The explicit length keeps every byte, so Content-Length always tells
  // the truth about what is sent.
  SetBody(bytes.data(), static_cast<int>(std::min(bytes.size(), static_cast<size_t>(INT_MAX))));
  body_stored_ = true;
}

void HttpXmlMessage::LoadDocumentFromBody() {
  if (document_ == nullptr) return;
  const char* body = GetBody();
  const int length = GetBodyLength();
  // An absent body loads as the empty text, which gives no document.
  const std::string_view text =
      (body == nullptr || length <= 0) ? std::string_view() : std::string_view(body, length);
  document_->LoadAnsi(text);
}

int HttpXmlMessage::ParseRest(const char* text, size_t length) {
  const char* blank_line = std::strstr(text, "\r\n\r\n");
  if (blank_line == nullptr) return -1;
  if (ParseMeasured(text, length, static_cast<size_t>(blank_line - text)) != 0) return -2;
  return 0;
}

// --- HttpXmlReq ------------------------------------------------------------

HttpXmlReq::HttpXmlReq() = default;
HttpXmlReq::~HttpXmlReq() = default;

int HttpXmlReq::CreateBody() {
  try {
    return AttachDocument(std::make_unique<InterfaceRequest>());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

void HttpXmlReq::SetMethod(int method) {
  assert(method >= 0 && method < kHttpXmlMethodCount);
  method_ = (method >= 0 && method < kHttpXmlMethodCount) ? method : -1;
}

int HttpXmlReq::Serialize(char* buffer, int capacity, int* length) {
  if (method_ < 0) return -1;
  if (!HasDocument()) return -2;
  StoreDocumentAsBody();
  return SerializeWithStartLine(HttpXmlMethod[method_], kHttpXmlUri, kHttpVersion, buffer, capacity,
                                length);
}

int HttpXmlReq::Serialize(std::string* out) {
  if (method_ < 0) return -1;
  if (!HasDocument()) return -2;
  StoreDocumentAsBody();
  SerializeWithStartLine(HttpXmlMethod[method_], kHttpXmlUri, kHttpVersion, out);
  return 0;
}

int HttpXmlReq::Parse(const char* text, int length) {
  if (text == nullptr) return -1;
  (void)length;  // the text ends at its NUL, as the header parser reads it
  const size_t measured = std::strlen(text);
  const char* const end = text + measured;
  Word method, uri, version;
  const char* p = ReadWord(text, end, &method);
  p = ReadWord(p, end, &uri);  // not used: every command goes to the same URI
  ReadWord(p, end, &version);

  const int index = MethodIndex(method);
  if (index < 0) return -3;
  if (!version.Equals(kHttpVersion)) return -4;
  if (ParseRest(text, measured) != 0) return -5;
  SetMethod(index);
  LoadDocumentFromBody();
  return 0;
}

// --- HttpXmlRsp ------------------------------------------------------------

HttpXmlRsp::HttpXmlRsp() = default;
HttpXmlRsp::~HttpXmlRsp() = default;

int HttpXmlRsp::CreateBody() {
  try {
    auto document = std::make_unique<InterfaceResponse>();
    // The answer will be loaded on this thread: a DOM service that cannot
    // be used here fails now, as no document could be made.
    if (!document->PrepareLoad()) return -1;
    return AttachDocument(std::move(document));
  } catch (const std::bad_alloc&) {
    internal::NoteErrorDetail("out of memory");
    return -1;
  }
}

int HttpXmlRsp::Serialize(char* buffer, int capacity, int* length) {
  const char* reason = GetStatusText(status_);
  if (reason == nullptr) return -1;
  if (!HasDocument()) return -2;
  StoreDocumentAsBody();
  const std::string code = std::to_string(status_);
  return SerializeWithStartLine(kHttpVersion, code.c_str(), reason, buffer, capacity, length);
}

int HttpXmlRsp::Serialize(std::string* out) {
  const char* reason = GetStatusText(status_);
  if (reason == nullptr) return -1;
  if (!HasDocument()) return -2;
  StoreDocumentAsBody();
  SerializeWithStartLine(kHttpVersion, std::to_string(status_).c_str(), reason, out);
  return 0;
}

int HttpXmlRsp::Parse(const char* text, int length) {
  // A detail noted before belongs to something else.
  internal::TakeErrorDetail();
  if (text == nullptr) {
    internal::NoteErrorDetail("no answer text");
    return -1;
  }
  // The text ends at its NUL, as the header parser reads it; `length`
  // serves only to tell a NUL byte inside the answer.
  const size_t measured = std::strlen(text);
  const char* const end = text + measured;
  Word version, status;
  const char* p = ReadWord(text, end, &version);
  ReadWord(p, end, &status);
  const int code = ReadDecimalPrefix(p, end);  // the reason phrase is not compared

  if (!version.Equals(kHttpVersion)) {
    internal::NoteErrorDetail(VersionDetail(version));
    return -2;
  }
  if (GetStatusText(code) == nullptr) {
    internal::NoteErrorDetail(StatusDetail(status));
    return -3;
  }
  const int rest = ParseRest(text, measured);
  if (rest == -1) {
    internal::NoteErrorDetail("answer has no blank line after its header block");
    return -5;
  }
  if (rest != 0) {
    internal::NoteErrorDetail(HeaderDetail(text, measured, length));
    return -6;
  }
  SetStatus(code);
  LoadDocumentFromBody();
  const bool has_body = GetBody() != nullptr && GetBodyLength() > 0;
  const std::string detail = AnswerDetail(code, has_body, internal::TakeErrorDetail());
  if (!detail.empty()) internal::NoteErrorDetail(detail);
  return 0;
}

}  // namespace voicecontrol
