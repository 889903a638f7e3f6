#include "interface/plain_answer.h"

#include <string>

#include <voicecontrol/interface/HttpXmlReq.h>
#include "interface/message_variant.h"
#include "interface/plain_document.h"
#include "interface/plain_paths.h"

namespace voicecontrol {
namespace internal {

namespace {

// The answer variant's four paths, parsed once for the process.
struct AnswerPaths {
  ChildPath seqNo, flowId, fieldNum, value;
  std::string seqNoLeaf, flowIdLeaf, fieldNumLeaf, valueLeaf;
  bool usable = false;

  AnswerPaths(const wchar_t* seqNoPath, const wchar_t* flowIdPath, const wchar_t* fieldNumPath,
              const wchar_t* valuePath) {
    usable = ReadChildPath(seqNoPath, &seqNo) && ReadChildPath(flowIdPath, &flowId) &&
             ReadChildPath(fieldNumPath, &fieldNum) && ReadChildPath(valuePath, &value);
    seqNoLeaf = NarrowLeaf(seqNo);
    flowIdLeaf = NarrowLeaf(flowId);
    fieldNumLeaf = NarrowLeaf(fieldNum);
    valueLeaf = NarrowLeaf(value);
  }
};

}  // namespace

bool AnswerDocument::ReadPlain(const HttpXmlRsp& response, AnswerParts* parts) {
  const InterfaceMessage* message = response.document_.get();
  if (message == nullptr || &message->variant_ != &InterfaceMessage::kResponseVariant) {
    return false;
  }
  const PlainDocument* plain = PlainReadingOf(message->root_);
  if (plain == nullptr) return false;
  const InterfaceMessage::Variant& variant = InterfaceMessage::kResponseVariant;
  static const AnswerPaths paths(variant.seq_no_path, variant.flow_id_path,
                                 variant.field_num_path, variant.field_value_path);
  if (!paths.usable) return false;

  *parts = AnswerParts();
  PlainMatcher seqNo(*plain, paths.seqNo, paths.seqNoLeaf),
      flowId(*plain, paths.flowId, paths.flowIdLeaf),
      fieldNum(*plain, paths.fieldNum, paths.fieldNumLeaf),
      value(*plain, paths.value, paths.valueLeaf);
  const size_t count = plain->elements().size();
  parts->values.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const PlainDocument::Element& element = plain->elements()[i];
    if (value.Matches(i)) {
      parts->values.push_back(plain->Text(element));
    } else if (!parts->flowId && flowId.Matches(i)) {
      parts->flowId = plain->Text(element);
    } else if (!parts->fieldNum && fieldNum.Matches(i)) {
      parts->fieldNum = plain->Text(element);
    } else if (!parts->seqNo && seqNo.Matches(i)) {
      parts->seqNo = plain->Text(element);
    }
  }
  return true;
}

}  // namespace internal
}  // namespace voicecontrol
