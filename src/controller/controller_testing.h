// What this tree's own tests change in a controller to reach its rarer
// paths quickly: a shorter (or longer) receive time-out, and receive
// threads that cannot be started. Hosts have no use for either, so they
// stay out of the installed header.
#ifndef VOICECONTROL_CONTROLLER_CONTROLLER_TESTING_H_
#define VOICECONTROL_CONTROLLER_CONTROLLER_TESTING_H_

#include <cstdint>

#include <voicecontrol/controller/VoiceController.h>
#include <voicecontrol/voicecontrol.h>
#include "controller/host_loop.h"
#include "controller/receive_threads.h"
#include "internal_export.h"

namespace voicecontrol {
namespace internal {

class ControllerTesting {
 public:
  // The receive time-out of requests sent afterwards (5000 by default).
  static void SetReceiveTimeout(VoiceController& controller, int64_t milliseconds) {
    controller.receiveThreads->options.answerTimeoutMs = milliseconds;
  }

  // While true, every request's receive thread fails to start.
  static void FailThreadStarts(VoiceController& controller, bool fail) {
    controller.receiveThreads->options.failThreadStarts = fail;
  }

  // The host's loop of `controller` (UseHostLoop) refuses to watch a
  // socket before its request has gone out (`watch`), or for its answer
  // (`await`).
  static void FailWatches(VoiceController& controller, bool watch, bool await) {
    HostLoop& loop = *controller.receiveThreads->options.hostLoop;
    loop.failWatch = watch;
    loop.failAwait = await;
  }
};

// The controller inside a C interface controller (c_interface.cc).
VC_INTERNAL_API VoiceController& ControllerOf(vc_controller* controller);

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_CONTROLLER_TESTING_H_
