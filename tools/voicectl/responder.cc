#include "responder.h"

#include <string>
#include <vector>

#include "controller/VoiceController.h"
#include "interface/HttpXmlReq.h"
#include "platform/codepage.h"

namespace voicectl {

using voicecontrol::HttpXmlReq;
using voicecontrol::HttpXmlRsp;
namespace platform = voicecontrol::platform;

namespace {

// Reads one HTTP request: its header block and Content-Length body.
std::string ReadRequest(platform::TcpSocket& connection) {
  std::string request;
  char chunk[8192];
  while (!voicecontrol::IsResponseComplete(request.c_str(), static_cast<int>(request.size()))) {
    if (connection.WaitReadable(2000) != platform::WaitResult::kReady) break;
    const long got = connection.Receive(chunk, sizeof chunk);
    if (got <= 0) break;
    request.append(chunk, static_cast<size_t>(got));
  }
  return request;
}

std::string Narrow(const std::wstring& text) { return platform::WideToUtf8String(text); }

// The field values of the answer to a command with these values.
std::vector<std::wstring> AnswerValues(int flowId, const std::vector<std::wstring>& in) {
  auto value = [&](size_t i) { return i < in.size() ? in[i] : std::wstring(); };
  switch (flowId) {
    case 1001:
      return {L"0", L"conference " + value(0) + L" created by " + value(1)};
    case 1002:
      return {L"0", value(1) + L" removed from " + value(0)};
    case 1003:
      return {L"0", value(1) + L" in " + value(0) + L" now has mode " + value(2)};
    case 1004:  // two conferences; each list holds one item per conference
      return {L"2",     L"conf-1,conf-2,", L"alice,bob,",   L"3,5,", L"open,closed,",
              L"8,16,", L"0,1,",           L"12:00,12:30,", L"-,-,"};
    case 1005: {
      std::vector<std::wstring> values = {value(0)};
      for (int i = 2; i <= 18; ++i) values.push_back(L"detail-" + std::to_wstring(i));
      return values;
    }
    case 1006:
      return {L"0", L"call " + value(0) + L"/" + value(1) + L" ends " + value(2)};
    default:
      return {};
  }
}

}  // namespace

Responder::Responder(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

Responder::~Responder() {
  stop_ = true;
  thread_.Join();
}

bool Responder::Start() {
  if (!listener_.Listen()) return false;
  return thread_.Start([this] { Serve(); });
}

void Responder::Serve() {
  while (!stop_) {
    platform::TcpSocket connection = listener_.Accept(50);
    if (connection.IsOpen()) Answer(connection);
  }
}

void Responder::Answer(platform::TcpSocket& connection) {
  const std::string bytes = ReadRequest(connection);
  HttpXmlReq request;
  request.CreateBody();
  if (request.Parse(bytes.c_str(), static_cast<int>(bytes.size())) != 0) {
    log_("responder: unreadable request, no answer");
    return;
  }
  const int seqNo = request.GetSeqNo();
  const int flowId = request.GetFlowID();
  const int fieldNum = request.GetFieldNum();
  std::vector<std::wstring> values;
  for (int i = 0; i < fieldNum; ++i) values.push_back(request.GetNextFieldValue());

  std::string line = std::string("responder: ") + voicecontrol::HttpXmlMethod[request.GetMethod()] +
                     " seq " + std::to_string(seqNo) + " flow " + std::to_string(flowId) + " [";
  for (size_t i = 0; i < values.size(); ++i) line += (i ? ", " : "") + Narrow(values[i]);
  log_(line + "]");

  const std::vector<std::wstring> answerValues = AnswerValues(flowId, values);
  HttpXmlRsp answer;
  answer.CreateBody();
  answer.SetStatus(200);
  answer.SetSeqNo(seqNo);
  answer.SetFlowID(flowId);
  answer.SetFieldNum(static_cast<int>(answerValues.size()));
  for (const std::wstring& value : answerValues) answer.AddFieldValue(value);
  std::string out;
  if (answer.Serialize(&out) == 0) connection.Send(out.data(), out.size());
}

}  // namespace voicectl
