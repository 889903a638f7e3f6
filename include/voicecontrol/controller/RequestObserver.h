/**
 * @file
 * @brief What a host may watch of each request: its log records and its
 * timeline (RequestObserver), set per controller with
 * VoiceController::SetObserver.
 *
 * Without an observer the library writes the two log files and reads no
 * clock and allocates nothing for either.
 */
#ifndef VOICECONTROL_CONTROLLER_REQUESTOBSERVER_H_
#define VOICECONTROL_CONTROLLER_REQUESTOBSERVER_H_

#include <cstddef>
#include <cstdint>

#include <voicecontrol/export.h>

namespace voicecontrol {

/// @brief One log record: the bytes a log file would get after its marker.
struct LogRecord {
  /// @brief true: a request as sent (what SendVoiceMsg.log records);
  /// false: a complete answer as received (RecvVoiceMsg.log).
  bool sent = false;
  /// @brief The message: the whole HTTP message, not terminated; valid only
  /// during the call.
  const char* bytes = nullptr;
  /// @brief The count of bytes.
  size_t length = 0;
  /// @brief The tag the command was issued with (the C interface's tag);
  /// null for the commands of VoiceController and OutcomeCommands.
  void* tag = nullptr;
  /// @brief The request's number: 1, 2, ... per controller, in the order
  /// commands were issued, the same in its RequestEvents.
  uint64_t requestId = 0;
};

/// @brief The timeline of one request, told once it has ended.
///
/// Every time is a monotonic clock's, in microseconds, comparable within
/// the process only; 0 when the request never reached that point (a
/// refused argument is never connected, an answer that never came has no
/// first byte).
struct RequestEvents {
  /// @brief As LogRecord::requestId.
  uint64_t requestId = 0;
  /// @brief As LogRecord::tag.
  void* tag = nullptr;
  /// @brief The FlowID of the command: 1001 (CREATE) to 1006 (DSCALL); 0
  /// for a request the host built itself (SendRequest).
  int32_t flowId = 0;
  int64_t queuedUs = 0;            ///< @brief The command was called.
  int64_t connectStartedUs = 0;    ///< @brief The connection attempt began.
  int64_t connectedUs = 0;         ///< @brief The connection was made.
  int64_t requestWrittenUs = 0;    ///< @brief The request was handed to the system.
  int64_t firstAnswerByteUs = 0;   ///< @brief The first byte of the answer was read.
  int64_t answerCompleteUs = 0;    ///< @brief The answer was complete.
  int64_t outcomeDeliveredUs = 0;  ///< @brief The last sink call of the outcome returned.
  uint64_t bytesOut = 0;           ///< @brief Bytes of the request sent.
  uint64_t bytesIn = 0;            ///< @brief Bytes of the answer received.
  /// @brief The answer's HTTP status code; 0 without a status line. An
  /// answer with status 4xx or 5xx that carries a well-formed message is
  /// still delivered as a result: here is where its status shows.
  int32_t httpStatus = 0;
  /// @brief The error text the command ended with ("timeout.",
  /// "cancelled.", ...); null when it ended in a result.
  const char* errorText = nullptr;
  /// @brief The error's detail (as ErrorDetail() gave it); "" when none.
  const char* errorDetail = "";
};

/**
 * @brief The host's view of each request of a controller: its log records
 * and its timeline.
 *
 * Calls come on the thread that sends the request (OnLogRecord for a
 * request) or that ends it (the answer's record, and OnRequestEvents after
 * the last sink call of its outcome), so several may run at once: an
 * observer must be thread-safe. They must return, and should be quick: the
 * request's outcome waits for them. An exception leaving them is dropped.
 */
class VC_API RequestObserver {
 public:
  /// @brief A log record of a request or an answer.
  /// @param record The record, valid during the call.
  virtual void OnLogRecord(const LogRecord& record) = 0;
  /// @brief A request has ended; its outcome has been delivered.
  /// @param events Its timeline, valid during the call.
  virtual void OnRequestEvents(const RequestEvents& events) = 0;

 protected:
  /// @brief Not virtual: the library never deletes an observer.
  ~RequestObserver() = default;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_REQUESTOBSERVER_H_
