// Noting the error detail: why the error that this thread is about to
// report happened.
//
// The error texts a host receives are fixed and few ("decode.", "bad
// message." ...); the layers that find a fault know more: the HTTP parser
// knows the status code it refused, the DOM the line and column where the
// document stopped being XML. They note that fact here, on the thread that
// parses, and the controller takes it when it reports the error, so the
// host can read it beside the fixed text. A detail is short and plain
// ("HTTP status 501"), made for people and for grep, never parsed.
//
// One detail, two halves: this one records, controller/error_detail.h
// reports. They stay apart because they live differently. A noted detail
// waits on the parsing thread until the controller takes it, and an
// interface layer that notes one knows nothing of sinks; a reported one is
// readable through ErrorDetail() only while the sink's OnError runs, and
// nests when a sink reports another error from inside it.
#ifndef VOICECONTROL_INTERFACE_ERROR_DETAIL_H_
#define VOICECONTROL_INTERFACE_ERROR_DETAIL_H_

#include <string>

#include "internal_export.h"

namespace voicecontrol {
namespace internal {

// Notes the detail of an error on this thread, replacing any earlier one.
VC_INTERNAL_API void NoteErrorDetail(std::string detail);

// The detail noted last on this thread ("" when none), cleared by the call.
VC_INTERNAL_API std::string TakeErrorDetail();

// `detail` said of an answer: the document layer speaks of "document ...",
// which the host knows as the answer ("answer has no FlowID").
VC_INTERNAL_API std::string AsAnswerDetail(std::string detail);

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_ERROR_DETAIL_H_
