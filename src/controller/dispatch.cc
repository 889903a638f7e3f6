// Turning a parsed answer into the sink call its FlowID selects.
#include <algorithm>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/error_detail.h"
#include "controller/error_texts.h"
#include "interface/error_detail.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/interface_message.h>

namespace voicecontrol {

namespace internal {

namespace {

constexpr int kListCount = 8;
constexpr int kQSingleValues = 18;

void ReadValues(HttpXmlRsp& response, int count, Answer* answer) {
  for (int i = 0; i < count; ++i) answer->values[i] = response.GetNextFieldValue();
}

// What the parse noted, or `fallback` when it noted nothing.
std::string NotedOr(const char* fallback) {
  std::string noted = TakeErrorDetail();
  return noted.empty() ? std::string(fallback) : noted;
}

// `first`; `second` after it.
std::string Joined(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  return second.empty() ? first : first + "; " + second;
}

// Why an answer is no command's. `parsed` is what the parse noted (an HTTP
// status other than success, or why the body gave no document), `read`
// what reading the FlowID noted (missing, not a number, no document at all).
std::string NotACommand(int32_t flowId, const std::string& parsed, const std::string& read) {
  if (!read.empty()) return Joined(parsed, AsAnswerDetail(read));
  // Nothing read at all: the body gave no document, and the parse said why.
  if (flowId == 0 && !parsed.empty()) return parsed;
  return Joined(parsed, "FlowID " + std::to_string(flowId) + " is not a command");
}

// `read`: what reading FieldNum noted (missing, not a number).
std::string TooFewFields(int32_t fieldNum, int32_t least, int32_t flowId, const std::string& read) {
  const std::string needed = " for FlowID " + std::to_string(flowId);
  if (!read.empty()) {
    return AsAnswerDetail(read) + "; at least " + std::to_string(least) + " needed" + needed;
  }
  return "FieldNum " + std::to_string(fieldNum) + " below " + std::to_string(least) + needed;
}

}  // namespace

Answer ReadAnswer(HttpXmlRsp& response) {
  Answer answer;
  // What the parse noted, and what reading each number notes, kept apart.
  const std::string parsed = TakeErrorDetail();
  answer.flowId = response.GetFlowID();
  const std::string flowIdRead = TakeErrorDetail();
  response.GetSeqNo();  // answers are matched by FlowID alone,
  TakeErrorDetail();  // so whatever its reading found does not matter
  const int32_t fieldNum = response.GetFieldNum();
  const std::string fieldNumRead = TakeErrorDetail();
  int32_t least = 0;
  switch (answer.flowId) {
    case kCreateFlow:
    case kKickFlow:
    case kChangeFlow:
    case kDsCallFlow:
      least = 1;
      if (fieldNum < least) break;
      answer.kind = Answer::Kind::kCommandResult;
      answer.number = ParseDecimalInteger(response.GetNextFieldValue());
      answer.values[0] = response.GetNextFieldValue();
      return answer;
    case kQAllFlow:
      least = 9;
      if (fieldNum < least) break;
      answer.kind = Answer::Kind::kQAll;
      answer.number = ParseDecimalInteger(response.GetNextFieldValue());
      ReadValues(response, kListCount, &answer);
      return answer;
    case kQSingleFlow:
      least = 9;
      if (fieldNum < least) break;
      answer.kind = Answer::Kind::kQSingle;
      ReadValues(response, kQSingleValues, &answer);
      return answer;
    default:
      answer.kind = Answer::Kind::kBadMessage;
      answer.detail = NotACommand(answer.flowId, parsed, flowIdRead);
      return answer;
  }
  answer.kind = Answer::Kind::kParamError;
  answer.detail = TooFewFields(fieldNum, least, answer.flowId, fieldNumRead);
  return answer;
}

void DeliverAnswer(VoiceEventSink* sink, const Answer& answer) {
  const std::wstring* v = answer.values;
  switch (answer.kind) {
    case Answer::Kind::kBadMessage:
      ReportError(sink, kBadMessage, answer.detail);
      break;
    case Answer::Kind::kParamError:
      ReportError(sink, kParamError, answer.detail);
      break;
    case Answer::Kind::kCommandResult:
      sink->OnCommandResult(answer.flowId, answer.number, v[0]);
      break;
    case Answer::Kind::kQAll:
      DeliverQAllEntries(sink, answer.number, v);
      break;
    case Answer::Kind::kQSingle:
      sink->OnQSingleResult(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10],
                            v[11], v[12], v[13], v[14], v[15], v[16], v[17]);
      break;
  }
}

bool ParseAndDeliver(const char* response, int length, VoiceEventSink* sink, Answer* answer) {
  // Reading is kept apart from delivering: the document layer may throw on
  // a failing read, while nothing must follow a delivery.
  const char* failure = nullptr;
  std::string detail;
  TakeErrorDetail();  // nothing left over from an earlier answer
  try {
    HttpXmlRsp parsed;
    if (parsed.CreateBody() != 0) {
      failure = kInitHttpParse;
      detail = NotedOr("no document could be made for the answer");
    } else if (parsed.Parse(response, length) != 0) {
      failure = kDecode;
      detail = NotedOr("HTTP response not parsable");
    } else {
      *answer = ReadAnswer(parsed);
    }
  } catch (...) {  // no host callback runs inside
    failure = kDecode;
    detail = NotedOr("answer could not be read");
  }
  if (failure != nullptr) {
    ReportError(sink, failure, detail);
    return false;
  }
  DeliverAnswer(sink, *answer);
  return true;
}

void DeliverQAllEntries(VoiceEventSink* sink, int32_t count, const std::wstring* lists) {
  if (count <= 0) {
    sink->OnQAllEmpty();
    return;
  }
  if (count == 1) {
    // A single entry travels unsplit, a trailing separator included.
    sink->OnQAllEntry(lists[0], lists[1], lists[2], lists[3], lists[4], lists[5], lists[6],
                      lists[7]);
    return;
  }
  std::vector<std::wstring> items[kListCount];
  size_t longest = 0;
  for (int k = 0; k < kListCount; ++k) {
    SplitList(lists[k], L",", &items[k]);
    longest = std::max(longest, items[k].size());
  }
  // A count beyond the lists' items gives empty texts for the missing
  // items, but never more entries than the longest list holds: the count
  // comes from the wire and may be absurd.
  const size_t entries = std::min(static_cast<size_t>(count), longest);
  if (entries == 0) {
    // Not one item in any list: there is nothing to deliver but the fact.
    sink->OnQAllEmpty();
    return;
  }
  const std::wstring empty;
  auto item = [&](int k, size_t i) -> const std::wstring& {
    return i < items[k].size() ? items[k][i] : empty;
  };
  for (size_t i = 0; i < entries; ++i) {
    sink->OnQAllEntry(item(0, i), item(1, i), item(2, i), item(3, i), item(4, i), item(5, i),
                      item(6, i), item(7, i));
  }
}

}  // namespace internal

void SplitList(const std::wstring& text, const std::wstring& separator,
               std::vector<std::wstring>* list) {
  if (separator.empty() || list == nullptr) return;  // nothing could ever be terminated
  size_t start = 0;
  for (size_t found = text.find(separator); found != std::wstring::npos;
       found = text.find(separator, start)) {
    list->push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
}

void VoiceController::DispatchResponse(HttpXmlRsp& response) {
  internal::DeliverAnswer(sink, internal::ReadAnswer(response));
}

void VoiceController::DeliverQAllResult(int32_t count, std::wstring list1, std::wstring list2,
                                        std::wstring list3, std::wstring list4, std::wstring list5,
                                        std::wstring list6, std::wstring list7,
                                        std::wstring list8) {
  const std::wstring lists[] = {std::move(list1), std::move(list2), std::move(list3),
                                std::move(list4), std::move(list5), std::move(list6),
                                std::move(list7), std::move(list8)};
  internal::DeliverQAllEntries(sink, count, lists);
}

}  // namespace voicecontrol
