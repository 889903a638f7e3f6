// The two time-outs of a command, chosen per controller with
// VoiceController::SetTimeouts (vc_set_timeouts): how long its connection,
// and then its answer, may take.
#ifndef VOICECONTROL_CONTROLLER_TIMEOUTS_H_
#define VOICECONTROL_CONTROLLER_TIMEOUTS_H_

#include <cstdint>

namespace voicecontrol {
namespace internal {

// What a controller uses until the host chooses otherwise; hosts built
// before the choice existed rely on it.
constexpr int64_t kDefaultTimeoutMs = 5000;

// A time-out of 0 would fail every command without trying it; beyond ten
// minutes a silent server would hold a receive thread, and the caller's
// thread during a connect, for longer than any host could mean.
constexpr int64_t kMinTimeoutMs = 1;
constexpr int64_t kMaxTimeoutMs = 10 * 60 * 1000;

constexpr bool IsTimeoutInRange(int64_t milliseconds) {
  return milliseconds >= kMinTimeoutMs && milliseconds <= kMaxTimeoutMs;
}

}  // namespace internal
}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_TIMEOUTS_H_
