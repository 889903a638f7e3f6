#include <voicecontrol/interface/HttpXmlReq.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "http/decimal.h"
#include "platform/codepage.h"

namespace voicecontrol {

namespace {

constexpr char kHttpVersion[] = "HTTP/1.1";

bool IsWordSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One word of a start line as "%s" reads it: white space before it is
// skipped, then it runs to the next white space or the end of the text.
struct Word {
  const char* begin = "";
  size_t length = 0;

  bool Equals(const char* text) const {
    return std::strlen(text) == length && std::memcmp(begin, text, length) == 0;
  }
};

const char* ReadWord(const char* p, const char* end, Word* word) {
  while (p < end && IsWordSpace(*p)) ++p;
  word->begin = p;
  while (p < end && !IsWordSpace(*p)) ++p;
  word->length = static_cast<size_t>(p - word->begin);
  return p;
}

int MethodIndex(const Word& name) {
  for (int i = 0; i < kHttpXmlMethodCount; ++i) {
    if (name.Equals(HttpXmlMethod[i])) return i;
  }
  return -1;
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

std::int32_t HttpXmlMessage::GetSeqNo() {
  return document_ != nullptr ? document_->ReadSeqNo() : -1;
}

std::int32_t HttpXmlMessage::GetFlowID() {
  return document_ != nullptr ? document_->ReadFlowID() : -1;
}

std::int32_t HttpXmlMessage::GetFieldNum() {
  return document_ != nullptr ? document_->ReadFieldNum() : -1;
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
    return AttachDocument(std::make_unique<InterfaceResponse>());
  } catch (const std::bad_alloc&) {
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
  if (text == nullptr) return -1;
  (void)length;  // the text ends at its NUL, as the header parser reads it
  const size_t measured = std::strlen(text);
  const char* const end = text + measured;
  Word version;
  const char* p = ReadWord(text, end, &version);
  const int code = ReadDecimalPrefix(p, end);  // the reason phrase is not compared

  if (!version.Equals(kHttpVersion)) return -2;
  if (GetStatusText(code) == nullptr) return -3;
  const int rest = ParseRest(text, measured);
  if (rest == -1) return -5;
  if (rest != 0) return -6;
  SetStatus(code);
  LoadDocumentFromBody();
  return 0;
}

}  // namespace voicecontrol
