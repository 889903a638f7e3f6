// Whether the plain reading of an answer (plain_answer.h) reads the same
// parts as libxml2's XPath engine selects on the same document. The paths
// are asked in a form the DOM cannot answer by names alone
// ("/descendant-or-self::node()/A/B" is "//A/B" in full), so the engine
// and the tree decide, not the matching the plain reading shares with the
// DOM's own shortcut. Used by a unit test and a fuzz target alike.
#ifndef VOICECONTROL_TESTS_INTERFACE_PLAIN_ANSWER_CHECK_H_
#define VOICECONTROL_TESTS_INTERFACE_PLAIN_ANSWER_CHECK_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <voicecontrol/interface/HttpXmlReq.h>
#include <voicecontrol/interface/dom.h>
#include "interface/plain_answer.h"
#include "platform/codepage.h"

namespace voicecontrol {
namespace testing {

// The texts the engine selects with "//Interface/Response/<tail>".
inline std::vector<std::string> EngineSelects(const DomNode& root, const wchar_t* tail) {
  std::vector<std::string> texts;
  DomNodeList nodes =
      root.SelectNodes(std::wstring(L"/descendant-or-self::node()/Interface/Response/") + tail);
  for (DomNode node = nodes.NextElement(); !node.IsEmpty(); node = nodes.NextElement()) {
    texts.push_back(platform::WideToUtf8String(node.GetText()));
  }
  return texts;
}

// Empty when both agree on the answer with body `body` (a 200 answer);
// otherwise what differs. `*plain` tells whether the plain reading took it.
inline std::string PlainAnswerDisagreement(const std::string& body, bool* plain) {
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n" + body;
  HttpXmlRsp response;
  internal::AnswerParts parts;
  *plain = response.CreateBody() == 0 &&
           response.Parse(text.c_str(), static_cast<int>(text.size())) == 0 &&
           internal::AnswerDocument::ReadPlain(response, &parts);
  if (!*plain) return std::string();

  DomDocument dom;
  const DomNode root = dom.LoadAnsiXml(body);
  if (root.IsEmpty()) return "the DOM refused a document the plain reader took";
  const auto first = [&](const wchar_t* tail) -> std::optional<std::string> {
    const std::vector<std::string> all = EngineSelects(root, tail);
    if (all.empty()) return std::nullopt;
    return all.front();
  };
  const auto same = [](const std::optional<std::string_view>& a,
                       const std::optional<std::string>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
  };
  if (!same(parts.seqNo, first(L"Seq_No"))) return "Seq_No differs";
  if (!same(parts.flowId, first(L"FlowID"))) return "FlowID differs";
  if (!same(parts.fieldNum, first(L"FieldNum"))) return "FieldNum differs";
  const std::vector<std::string> values = EngineSelects(root, L"Field/Field_Value");
  if (values.size() != parts.values.size()) return "the number of values differs";
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i] != parts.values[i]) return "value " + std::to_string(i) + " differs";
  }
  return std::string();
}

}  // namespace testing
}  // namespace voicecontrol

#endif  // VOICECONTROL_TESTS_INTERFACE_PLAIN_ANSWER_CHECK_H_
