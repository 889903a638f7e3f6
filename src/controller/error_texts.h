// The error texts a sink's OnError receives (and the C interface's
// on_error). Hosts compare them as they are, byte for byte, so they are
// written here once and never anywhere else in the library; the reason
// behind each report travels beside them as the error's detail
// (controller/error_detail.h).
#ifndef VOICECONTROL_CONTROLLER_ERROR_TEXTS_H_
#define VOICECONTROL_CONTROLLER_ERROR_TEXTS_H_

namespace voicecontrol {
namespace internal {

// No socket could be created for a command.
inline constexpr char kSocketError[] = "socket error.";
// The server could not be reached within the connect time-out.
inline constexpr char kConnectError[] = "connect error.";
// The request could not be sent whole.
inline constexpr char kSendError[] = "send error.";
// No complete answer within the answer time-out: none came, the peer
// closed early, a read failed, or no receive thread could wait for it.
inline constexpr char kTimeout[] = "timeout.";
// No document could be made to read an answer into.
inline constexpr char kInitHttpParse[] = "init http parse.";
// An answer came but is not one this library can read.
inline constexpr char kDecode[] = "decode.";
// A command's argument cannot be sent, or an answer has too few fields.
inline constexpr char kParamError[] = "param error.";
// An answer that reads well but is not an answer to a command.
inline constexpr char kBadMessage[] = "bad message.";
// Reserved to a command the host cancelled: a host that never cancels
// never sees it.
inline constexpr char kCancelled[] = "cancelled.";

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_ERROR_TEXTS_H_
