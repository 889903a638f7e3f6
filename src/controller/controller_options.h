// What a host chooses per controller beyond its server: the time-outs, whether a command call may block, who observes its requests,
// and whether its own loop drives them.
//
// The controller's public class has no room for them (its size and layout
// are part of the library's ABI), so they live in the one private object it
// owns, its ReceiveThreads. They are read by the threads that issue commands
// and written, under the rules of serverAddress, never beside them.
#ifndef VOICECONTROL_CONTROLLER_CONTROLLER_OPTIONS_H_
#define VOICECONTROL_CONTROLLER_CONTROLLER_OPTIONS_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include <voicecontrol/controller/VoiceController.h>
#include "controller/timeouts.h"

namespace voicecontrol {
namespace internal {

class HostLoop;

struct ControllerOptions {
  int64_t connectTimeoutMs = kDefaultTimeoutMs;
  int64_t answerTimeoutMs = kDefaultTimeoutMs;
  // Tests only (ControllerTesting): no receive thread can be started.
  bool failThreadStarts = false;
  // Commands only queue their request; a library thread does the rest.
  bool nonblockingCalls = false;
  // Set once (UseHostLoop): the host's loop carries every request issued
  // from then on, and no thread of the library does. Shared with the drive
  // call running when the controller is destroyed from one of its
  // callbacks, which still needs it until it returns.
  std::shared_ptr<HostLoop> hostLoop;
  RequestObserver* observer = nullptr;
  unsigned observe = 0;  // VoiceController::Observe bits
  // Numbers the requests for the observer; counted only while observed.
  std::atomic<uint64_t> lastRequestId{0};

  bool ObservesLogs() const { return observer != nullptr && (observe & kObserveLogs) != 0; }
  bool ObservesEvents() const { return observer != nullptr && (observe & kObserveEvents) != 0; }
  bool WritesLogFiles() const { return !ObservesLogs() || (observe & kLogFilesToo) != 0; }

  static constexpr unsigned kObserveLogs = VoiceController::kObserveLogRecords;
  static constexpr unsigned kObserveEvents = VoiceController::kObserveRequestEvents;
  static constexpr unsigned kLogFilesToo = VoiceController::kObserveKeepLogFiles;
};

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_CONTROLLER_OPTIONS_H_
