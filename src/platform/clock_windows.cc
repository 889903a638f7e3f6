// Clocks on Windows.
#include <time.h>
#include <windows.h>

#include "platform/clock.h"

namespace voicecontrol {
namespace platform {

namespace {

int64_t CounterFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  return frequency;
}

// The performance counter in units of 1/`perSecond` s. The division is
// split so that the multiplication cannot overflow.
int64_t CounterIn(int64_t perSecond) {
  const int64_t frequency = CounterFrequency();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const int64_t ticks = static_cast<int64_t>(now.QuadPart);
  return ticks / frequency * perSecond + ticks % frequency * perSecond / frequency;
}

}  // namespace

int64_t MonotonicMilliseconds() { return CounterIn(1000); }

int64_t MonotonicMicroseconds() { return CounterIn(1000000); }

bool ToLocalDateTime(std::time_t when, LocalDateTime* out) {
  tm local;
  const __time64_t when64 = static_cast<__time64_t>(when);
  if (::_localtime64_s(&local, &when64) != 0) return false;
  *out = LocalDateTimeOf(local);
  return true;
}

}  // namespace platform
}  // namespace voicecontrol
