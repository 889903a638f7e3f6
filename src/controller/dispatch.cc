// Turning a parsed answer into the sink call its FlowID selects.
#include <algorithm>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/answer.h"
#include "controller/error_detail.h"
#include "controller/error_texts.h"
#include "interface/error_detail.h"
#include "interface/plain_answer.h"
#include "http/decimal.h"
#include "platform/codepage.h"
#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/interface_message.h>

namespace voicecontrol {

namespace internal {

namespace {

constexpr int kListCount = 8;
constexpr int kQSingleValues = 18;

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

// Where an answer's parts come from: the DOM calls of the parsed response,
// or the plain reading of its document (plain_answer.h). Both give the same
// numbers and values and note the same reasons.
class DomParts {
 public:
  explicit DomParts(HttpXmlRsp& response) : response_(response) {}
  int32_t FlowID() { return response_.GetFlowID(); }
  int32_t SeqNo() { return response_.GetSeqNo(); }
  int32_t FieldNum() { return response_.GetFieldNum(); }
  std::string NextValue() { return platform::WideToUtf8String(response_.GetNextFieldValue()); }

 private:
  HttpXmlRsp& response_;
};

class PlainParts {
 public:
  explicit PlainParts(const AnswerParts& parts) : parts_(parts) {}
  int32_t FlowID() { return Number(parts_.flowId, "FlowID"); }
  int32_t SeqNo() { return Number(parts_.seqNo, "Seq_No"); }
  int32_t FieldNum() { return Number(parts_.fieldNum, "FieldNum"); }
  std::string NextValue() {
    if (next_ >= parts_.values.size()) return std::string();
    return std::string(parts_.values[next_++]);
  }

 private:
  static int32_t Number(const std::optional<std::string_view>& text, const char* name) {
    if (!text) return NumberFromText(nullptr, name);
    const char* const end = text->data() + text->size();
    if (HoldsDecimal(text->data(), end)) return ReadDecimalPrefix(text->data(), end);
    // No number: the wide road notes why, in the words of the DOM road.
    const std::wstring wide = platform::Utf8ToWideString(text->data(), text->size());
    return NumberFromText(&wide, name);
  }

  const AnswerParts& parts_;
  size_t next_ = 0;
};

int32_t DecimalOf(const std::string& text) {
  return ReadDecimalPrefix(text.data(), text.data() + text.size());
}

template <typename Parts>
void ReadValues(Parts* parts, int count, Answer* answer) {
  for (int i = 0; i < count; ++i) answer->values[i] = parts->NextValue();
}

template <typename Parts>
Answer ReadAnswerFrom(Parts& parts) {
  Answer answer;
  // What the parse noted, and what reading each number notes, kept apart.
  const std::string parsed = TakeErrorDetail();
  answer.flowId = parts.FlowID();
  const std::string flowIdRead = TakeErrorDetail();
  parts.SeqNo();  // answers are matched by FlowID alone,
  TakeErrorDetail();  // so whatever its reading found does not matter
  const int32_t fieldNum = parts.FieldNum();
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
      answer.number = DecimalOf(parts.NextValue());
      answer.values[0] = parts.NextValue();
      return answer;
    case kQAllFlow:
      least = 9;
      if (fieldNum < least) break;
      answer.kind = Answer::Kind::kQAll;
      answer.number = DecimalOf(parts.NextValue());
      ReadValues(&parts, kListCount, &answer);
      return answer;
    case kQSingleFlow:
      least = 9;
      if (fieldNum < least) break;
      answer.kind = Answer::Kind::kQSingle;
      ReadValues(&parts, kQSingleValues, &answer);
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

}  // namespace

Answer ReadAnswer(HttpXmlRsp& response) {
  AnswerParts plain;
  if (AnswerDocument::ReadPlain(response, &plain)) {
    PlainParts parts(plain);
    return ReadAnswerFrom(parts);
  }
  DomParts parts(response);
  return ReadAnswerFrom(parts);
}

namespace {

// Items of a list in which each item ends in `separator` (a text after the
// last one is no item).
template <typename Text>
void SplitTerminated(const Text& text, const Text& separator, std::vector<Text>* items) {
  size_t start = 0;
  for (size_t found = text.find(separator); found != Text::npos;
       found = text.find(separator, start)) {
    items->push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
}

// The entries of a QAll answer of `count` entries carried by the eight
// comma-terminated `lists`: `entry` gets each entry as eight texts, `empty`
// is called instead when there is none.
template <typename Text, typename Entry, typename Empty>
void ForEachQAllEntry(int32_t count, const Text* lists, Entry entry, Empty empty) {
  const Text* texts[kListCount];
  if (count <= 0) return empty();
  if (count == 1) {
    // A single entry travels unsplit, a trailing separator included.
    for (int k = 0; k < kListCount; ++k) texts[k] = &lists[k];
    return entry(texts);
  }
  const Text comma(1, ',');
  std::vector<Text> items[kListCount];
  size_t longest = 0;
  for (int k = 0; k < kListCount; ++k) {
    SplitTerminated(lists[k], comma, &items[k]);
    longest = std::max(longest, items[k].size());
  }
  // A count beyond the lists' items gives empty texts for the missing
  // items, but never more entries than the longest list holds: the count
  // comes from the wire and may be absurd.
  const size_t entries = std::min(static_cast<size_t>(count), longest);
  // Not one item in any list: there is nothing to deliver but the fact.
  if (entries == 0) return empty();
  const Text none;
  for (size_t i = 0; i < entries; ++i) {
    for (int k = 0; k < kListCount; ++k) texts[k] = i < items[k].size() ? &items[k][i] : &none;
    entry(texts);
  }
}

template <size_t Count>
void AsCStrings(const std::string* const* texts, const char* (&pointers)[Count]) {
  for (size_t i = 0; i < Count; ++i) pointers[i] = texts[i]->c_str();
}

std::wstring Wide(const std::string& utf8) {
  return platform::Utf8ToWideString(utf8.data(), utf8.size());
}

void DeliverUtf8(Utf8AnswerSink* utf8, VoiceEventSink* sink, const Answer& answer) {
  const std::string* v[kQSingleValues];
  for (int i = 0; i < kQSingleValues; ++i) v[i] = &answer.values[i];
  switch (answer.kind) {
    case Answer::Kind::kCommandResult:
      utf8->OnCommandResultUtf8(answer.flowId, answer.number, v[0]->c_str());
      break;
    case Answer::Kind::kQAll:
      ForEachQAllEntry(
          answer.number, answer.values,
          [&](const std::string* const* texts) {
            const char* pointers[kListCount];
            AsCStrings(texts, pointers);
            utf8->OnQAllEntryUtf8(pointers);
          },
          [&] { sink->OnQAllEmpty(); });
      break;
    case Answer::Kind::kQSingle: {
      const char* pointers[kQSingleValues];
      AsCStrings(v, pointers);
      utf8->OnQSingleUtf8(pointers);
      break;
    }
    default:
      break;
  }
}

void DeliverWide(VoiceEventSink* sink, const Answer& answer) {
  switch (answer.kind) {
    case Answer::Kind::kCommandResult:
      sink->OnCommandResult(answer.flowId, answer.number, Wide(answer.values[0]));
      break;
    case Answer::Kind::kQAll: {
      std::wstring lists[kListCount];
      for (int k = 0; k < kListCount; ++k) lists[k] = Wide(answer.values[k]);
      DeliverQAllEntries(sink, answer.number, lists);
      break;
    }
    case Answer::Kind::kQSingle: {
      std::wstring v[kQSingleValues];
      for (int i = 0; i < kQSingleValues; ++i) v[i] = Wide(answer.values[i]);
      sink->OnQSingleResult(std::move(v[0]), std::move(v[1]), std::move(v[2]), std::move(v[3]),
                            std::move(v[4]), std::move(v[5]), std::move(v[6]), std::move(v[7]),
                            std::move(v[8]), std::move(v[9]), std::move(v[10]),
                            std::move(v[11]), std::move(v[12]), std::move(v[13]),
                            std::move(v[14]), std::move(v[15]), std::move(v[16]),
                            std::move(v[17]));
      break;
    }
    default:
      break;
  }
}

}  // namespace

void DeliverAnswer(VoiceEventSink* sink, const Answer& answer) {
  switch (answer.kind) {
    case Answer::Kind::kBadMessage:
      return ReportError(sink, kBadMessage, answer.detail);
    case Answer::Kind::kParamError:
      return ReportError(sink, kParamError, answer.detail);
    default:
      break;
  }
  if (Utf8AnswerSink* utf8 = dynamic_cast<Utf8AnswerSink*>(sink)) {
    DeliverUtf8(utf8, sink, answer);
  } else {
    DeliverWide(sink, answer);
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
  ForEachQAllEntry(
      count, lists,
      [&](const std::wstring* const* t) {
        sink->OnQAllEntry(*t[0], *t[1], *t[2], *t[3], *t[4], *t[5], *t[6], *t[7]);
      },
      [&] { sink->OnQAllEmpty(); });
}

}  // namespace internal

void SplitList(const std::wstring& text, const std::wstring& separator,
               std::vector<std::wstring>* list) {
  if (separator.empty() || list == nullptr) return;  // nothing could ever be terminated
  internal::SplitTerminated(text, separator, list);
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
