// What the request and the answer document differ in: the body element's
// name, in the fixed fragments and in the paths that read them back. Shared
// by the message itself and by the plain reading of answers
// (plain_answer.h), so that both select by the very same paths.
#ifndef VOICECONTROL_INTERFACE_MESSAGE_VARIANT_H_
#define VOICECONTROL_INTERFACE_MESSAGE_VARIANT_H_

#include <voicecontrol/interface/interface_message.h>

namespace voicecontrol {

struct InterfaceMessage::Variant {
  const wchar_t* opening;  // fragments 1 to 3 of the document
  const wchar_t* closing;  // what Finish appends
  const wchar_t* seq_no_path;
  const wchar_t* flow_id_path;
  const wchar_t* field_num_path;
  const wchar_t* field_value_path;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_MESSAGE_VARIANT_H_
