#include "exchange.h"

#ifndef _WIN32
#include <iconv.h>
#endif
#include <strings.h>

#include <cerrno>
#include <cstring>

#include <voicecontrol/http/http.h>
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/dom.h>
#include <voicecontrol/interface/interface_message.h>

#include "text.h"

#ifdef _WIN32
// After the library's headers, which bring winsock2.h: it must come
// before windows.h.
#include <windows.h>
#endif

namespace voicecontrol {
namespace testing {

namespace {

constexpr size_t kOversizeValueBytes = 90 * 1024;
constexpr char kGarbageBody[] = "this is not an interface message\n";

// The value of header `name` (lower case, colon included) in the header
// block, blanks around it trimmed; nullopt when the header is absent.
std::optional<std::string> HeaderValue(const std::string& data, size_t headerEnd,
                                       const char* name) {
  const size_t nameLength = std::strlen(name);
  size_t line = data.find("\r\n");
  while (line != std::string::npos && line + 2 < headerEnd) {
    const size_t start = line + 2;
    const size_t end = data.find("\r\n", start);
    if (end - start >= nameLength && strncasecmp(data.c_str() + start, name, nameLength) == 0) {
      size_t from = start + nameLength, to = end;
      while (from < to && (data[from] == ' ' || data[from] == '\t')) ++from;
      while (to > from && (data[to - 1] == ' ' || data[to - 1] == '\t')) --to;
      return data.substr(from, to - from);
    }
    line = end;
  }
  return std::nullopt;
}

// A Content-Length value: digits only. Values beyond any bound we accept
// read as one more than that bound, so that they are refused, never wrapped.
std::optional<size_t> ReadLength(const std::string& text) {
  if (text.empty()) return std::nullopt;
  size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
    if (value > kMaxRequestBytes) return kMaxRequestBytes + 1;
  }
  return value;
}

#ifdef _WIN32
// UTF-8 text in GB2312 through the system's code page 936, which Windows
// (and Wine) convert everywhere; it is GBK, GB2312's superset, so a
// character only GBK holds is sent as GBK, where iconv's GB2312 sends '?'.
// A character code page 936 does not hold becomes '?', so the answer is
// always sent.
std::string Utf8ToGb2312(const std::string& utf8) {
  if (utf8.empty()) return utf8;
  const int wideLength =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                      wideLength);
  const int length =
      WideCharToMultiByte(936, 0, wide.data(), wideLength, nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(936, 0, wide.data(), wideLength, out.data(), length, "?", nullptr);
  return out;
}
#else
// UTF-8 text in GB2312 through the C library's iconv. A character GB2312
// does not hold becomes '?', so the answer is always sent.
std::string Utf8ToGb2312(const std::string& utf8) {
  iconv_t cd = iconv_open("GB2312", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = &out[0];
  size_t toLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const size_t used = static_cast<size_t>(to - out.data());
      out.resize(out.size() * 2);
      to = &out[used];
      toLeft = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: skip one whole UTF-8 character, write '?'.
    if (toLeft == 0) continue;  // E2BIG comes next round
    *to++ = '?';
    --toLeft;
    ++in;
    --inLeft;
    while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  out.resize(static_cast<size_t>(to - out.data()));
  return out;
}
#endif

// Swaps the declaration's encoding name (the writer always writes GB2312).
std::string Declare(std::string body, const char* encoding) {
  static const char kWritten[] = "encoding=\"GB2312\"";
  const size_t at = body.find(kWritten);
  if (at != std::string::npos) {
    body.replace(at, sizeof(kWritten) - 1, std::string("encoding=\"") + encoding + "\"");
  }
  return body;
}

std::string StatusLine(const Fault& fault) {
  const char* phrase = GetStatusText(fault.status);
  return std::string(fault.http10 ? "HTTP/1.0 " : "HTTP/1.1 ") + std::to_string(fault.status) +
         " " + (phrase != nullptr ? phrase : "Unknown");
}

// The answer's header block in the order the library's client expects:
// Content-Length first, then Host; Connection: close, since the server
// closes after every answer.
std::string Frame(const std::string& statusLine, const std::string& body) {
  return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nHost: Host\r\nConnection: close\r\n\r\n" + body;
}

// Reads the interface message of a request body (UTF-8): every
// Field_Value the document holds, whatever its FieldNum says.
bool ReadDocument(const std::string& body, ReceivedRequest* request) {
  try {
    DomDocument document;
    const DomNode root = document.LoadXml(WideFromUtf8(body));
    if (root.IsEmpty()) return false;
    auto number = [&root](const wchar_t* path) {
      return ParseDecimalInteger(root.SelectSingleNode(path).GetText());
    };
    request->seqNo = number(L"//Interface/Request/Seq_No");
    request->flowId = number(L"//Interface/Request/FlowID");
    request->fieldNum = number(L"//Interface/Request/FieldNum");
    DomNodeList values = root.SelectNodes(L"//Interface/Request/Field/Field_Value");
    for (DomNode value = values.NextElement(); !value.IsEmpty(); value = values.NextElement()) {
      request->values.push_back(value.GetText());
    }
    return true;
  } catch (const std::exception&) {
    return false;  // the DOM service failed; treat the body as unreadable
  }
}

}  // namespace

bool ReadHead(const std::string& data, RequestHead* head) {
  const size_t blank = data.find("\r\n\r\n");
  if (blank == std::string::npos) return false;
  head->headerEnd = blank + 4;
  const auto length = HeaderValue(data, head->headerEnd, "content-length:");
  head->contentLength = length ? ReadLength(*length) : std::nullopt;
  const auto expect = HeaderValue(data, head->headerEnd, "expect:");
  head->expectContinue = expect && strcasecmp(expect->c_str(), "100-continue") == 0;
  return true;
}

void ReadCommand(const std::string& raw, const RequestHead& head, ReceivedRequest* request) {
  const size_t lineEnd = raw.find("\r\n");
  const std::string line = raw.substr(0, lineEnd);
  const size_t space1 = line.find(' ');
  const size_t space2 = line.rfind(' ');
  if (space1 == std::string::npos || space2 == space1) return;
  const std::string method = line.substr(0, space1);
  const std::string version = line.substr(space2 + 1);
  bool known = false;
  for (const char* name : HttpXmlMethod) known = known || method == name;
  if (!known || (version != "HTTP/1.1" && version != "HTTP/1.0")) return;
  request->method = method;

  request->isCommand = ReadDocument(raw.substr(head.headerEnd), request);
}

std::string AnswerBodyText(int seqNo, int flowId, std::optional<int> fieldNum,
                           const std::vector<std::wstring>& values, Encoding encoding) {
  InterfaceResponse document;
  document.WriteSeqNo(seqNo);
  document.WriteFlowID(flowId);
  document.WriteFieldNum(fieldNum.value_or(static_cast<int>(values.size())));
  for (const auto& value : values) document.WriteFieldValue(value);
  const std::string utf8 = Utf8FromWide(document.Finish());
  if (encoding == Encoding::kGb2312) return Utf8ToGb2312(utf8);
  return Declare(utf8, "UTF-8");
}

std::string BuildAnswer(int seqNo, const Answer& answer, const std::optional<std::string>& body,
                        const Fault& fault, Encoding encoding) {
  std::string text;
  if (body) {
    text = *body;
  } else if (fault.garbage) {
    text = kGarbageBody;
  } else {
    std::vector<std::wstring> values = answer.values;
    if (fault.oversize) values.push_back(std::wstring(kOversizeValueBytes, L'x'));
    text = AnswerBodyText(seqNo, fault.flowId.value_or(answer.flowId), fault.fieldNum, values,
                          encoding);
  }
  std::string wire = Frame(StatusLine(fault), text);
  if (fault.partial) wire.resize(HeaderBlockLength(wire));
  return wire;
}

std::string RefusalAnswer(int status, const std::string& reason) {
  Fault plain;
  plain.status = status;
  return Frame(StatusLine(plain), reason + "\n");
}

size_t HeaderBlockLength(const std::string& wire) {
  const size_t blank = wire.find("\r\n\r\n");
  return blank == std::string::npos ? wire.size() : blank + 4;
}

}  // namespace testing
}  // namespace voicecontrol
