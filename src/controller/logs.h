// The two log files: the last request sent and the last complete answer
// received in this process, each file holding one record.
//
// They lie in "../" of the working directory unless the host chose another
// directory (SetLogDirectory) or turned them off (DisableLogs). Every
// controller of the process shares them; a record never interleaves with
// another, and a host may move or stop the logs while requests are being
// logged.
#ifndef VOICECONTROL_CONTROLLER_LOGS_H_
#define VOICECONTROL_CONTROLLER_LOGS_H_

#include <cstddef>

namespace voicecontrol {
namespace internal {

// Replaces the send log's content with the marker "---> \r\n" as UTF-16LE,
// then `message` up to its first zero byte (at most `length` bytes).
// Failures are ignored: no request depends on its log.
void LogRequest(const char* message, size_t length);

// The same for the receive log, with the marker "<--- \r\n".
void LogAnswer(const char* message, size_t length);

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_LOGS_H_
