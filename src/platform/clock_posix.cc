// Clocks on POSIX systems.
#include <time.h>

#include "platform/clock.h"

namespace voicecontrol {
namespace platform {

int64_t MonotonicMilliseconds() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t MonotonicMicroseconds() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool ToLocalDateTime(std::time_t when, LocalDateTime* out) {
  tm local;
  if (::localtime_r(&when, &local) == nullptr) return false;
  *out = LocalDateTimeOf(local);
  return true;
}

}  // namespace platform
}  // namespace voicecontrol
