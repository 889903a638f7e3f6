// How a command request's body is narrowed.
//
// Requests written through HttpXmlReq carry the ANSI code page. The
// controller's commands instead send each field as exactly the UTF-8 bytes
// of its argument, whatever code page is in force: a round trip of UTF-8
// bytes through a double-byte code page would change those that are no
// valid character there. Every other byte of the request is ASCII, the
// same in either encoding.
#ifndef VOICECONTROL_INTERFACE_BODY_ENCODING_H_
#define VOICECONTROL_INTERFACE_BODY_ENCODING_H_

#include <voicecontrol/interface/HttpXmlReq.h>

namespace voicecontrol {
namespace internal {

struct BodyEncoding {
  // From now on `message` writes its body as UTF-8.
  static void UseUtf8(HttpXmlMessage& message) { message.utf8_body_ = true; }
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_INTERFACE_BODY_ENCODING_H_
