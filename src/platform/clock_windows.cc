// Clocks on Windows.
#include <time.h>
#include <windows.h>

#include "platform/clock.h"

namespace voicecontrol {
namespace platform {

int64_t MonotonicMilliseconds() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const int64_t ticks = static_cast<int64_t>(now.QuadPart);
  // Split the division so that the multiplication cannot overflow.
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

bool ToLocalDateTime(std::time_t when, LocalDateTime* out) {
  tm local;
  const __time64_t when64 = static_cast<__time64_t>(when);
  if (::_localtime64_s(&local, &when64) != 0) return false;
  *out = LocalDateTimeOf(local);
  return true;
}

}  // namespace platform
}  // namespace voicecontrol
